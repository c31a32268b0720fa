#pragma once
// A small FTP server for the client's tests, on the same event loop as the
// client: it listens on 127.0.0.1 (port 0), greets with a banner, answers
// commands from a table or a hook, and runs data connections in both modes
// over a map of in-memory files. Tests change any part of its script.

#include "net/wsocket.h"

#include <cstdio>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <vector>

namespace vesk2::test {

class ScriptedServer {
public:
    explicit ScriptedServer(net::EventLoop& loop) : m_loop(loop), m_listener(loop)
    {
        m_listener.SetAddr("127.0.0.1");
        m_listener.SetPort("0");
        m_listener.OnSessionAvailable = [this](net::TCustomWSocket& s, int) { acceptControl(s.Accept()); };
        m_listener.Listen();
    }

    std::string port() const { return m_listener.GetXPort(); }

    // ---- the script ---------------------------------------------------------
    std::string banner = "220 Scripted server ready\r\n"; // raw bytes sent on connect
    // Static answers by command verb (raw bytes, CR LF included); they win
    // over the built-in behaviour.
    std::map<std::string, std::string> replies;
    // Runs first for every command; returns true when it has answered.
    std::function<bool(const std::string& verb, const std::string& arg)> hook;
    // The address numbers a 227 answer names (the client must ignore them).
    std::string passiveShownAddr = "127,0,0,1";
    // RETR: send 226 before closing the data connection (otherwise after).
    bool finalBeforeDataClose = false;
    // RETR/LIST: leave the data connection open after sending (the test
    // closes it with closeData()).
    bool holdDataOpen = false;
    // Applied to what RETR, LIST and NLST send (an enciphered session).
    std::function<std::string(const std::string&)> transformOutgoing;
    // Files served by RETR and written by STOR and APPE.
    std::map<std::string, std::string> files;

    // ---- what happened ------------------------------------------------------
    std::vector<std::string> commands; // every command line received
    std::string received;              // bytes of the last upload
    int dataConnections = 0;
    bool dataClosedByPeer = false;
    bool controlClosed = false;

    bool hasCommand(const std::string& verb) const
    {
        for (const auto& c : commands)
            if (c == verb || c.rfind(verb + " ", 0) == 0)
                return true;
        return false;
    }

    // ---- actions ------------------------------------------------------------
    void send(const std::string& bytes)
    {
        if (m_control && m_control->State() == net::wsConnected)
            m_control->SendStr(bytes);
    }
    void closeControl()
    {
        if (m_control && m_control->State() != net::wsClosed)
            m_control->Close();
    }
    bool dataConnected() const { return m_data && m_data->State() == net::wsConnected; }
    void sendData(const std::string& bytes)
    {
        if (dataConnected())
            m_data->SendStr(bytes);
    }
    void closeData()
    {
        m_closingData = true;
        if (m_data && m_data->State() != net::wsClosed)
            m_data->Close();
        m_closingData = false;
    }
    net::TWSocket* data() { return m_data.get(); }

private:
    enum class Pending { none, retrieve, list, store, append };

    void acceptControl(int handle)
    {
        m_control = std::make_unique<net::TWSocket>(m_loop);
        m_control->OnDataAvailable = [this](net::TCustomWSocket& s, int) {
            char buf[8192];
            const int n = s.Receive(buf, sizeof buf);
            if (n <= 0)
                return;
            m_pending.append(buf, static_cast<std::size_t>(n));
            for (std::size_t lf; (lf = m_pending.find("\r\n")) != std::string::npos;) {
                const std::string line = m_pending.substr(0, lf);
                m_pending.erase(0, lf + 2);
                command(line);
            }
        };
        m_control->OnSessionClosed = [this](net::TCustomWSocket&, int) { controlClosed = true; };
        m_control->Dup(handle);
        if (!banner.empty())
            m_control->SendStr(banner);
    }

    void command(const std::string& line)
    {
        commands.push_back(line);
        const std::size_t blank = line.find(' ');
        const std::string verb = line.substr(0, blank);
        const std::string arg = blank == std::string::npos ? std::string() : line.substr(blank + 1);
        if (hook && hook(verb, arg))
            return;
        if (auto it = replies.find(verb); it != replies.end()) {
            send(it->second);
            return;
        }
        if (verb == "USER")
            return send("331 Password required\r\n");
        if (verb == "PASS")
            return send("230 Logged in\r\n");
        if (verb == "SYST")
            return send("215 UNIX Type: L8\r\n");
        if (verb == "TYPE")
            return send("200 Type set\r\n");
        if (verb == "QUIT") {
            send("221 Goodbye\r\n");
            return;
        }
        if (verb == "REST") {
            m_offset = std::stoll(arg);
            return send("350 Restarting at " + arg + "\r\n");
        }
        if (verb == "PASV")
            return openPassive();
        if (verb == "PORT")
            return rememberPort(arg);
        if (verb == "RETR") {
            auto it = files.find(arg);
            if (it == files.end())
                return send("550 No such file\r\n");
            m_outgoing = m_offset < static_cast<long long>(it->second.size()) ? it->second.substr(m_offset) : "";
            return startData(Pending::retrieve, arg);
        }
        if (verb == "LIST" || verb == "NLST") {
            m_outgoing.clear();
            for (const auto& f : files)
                m_outgoing += f.first + "\r\n";
            return startData(Pending::list, arg);
        }
        if (verb == "STOR" || verb == "APPE")
            return startData(verb == "STOR" ? Pending::store : Pending::append, arg);
        send("502 Command not implemented\r\n");
    }

    void openPassive()
    {
        m_active = false;
        m_dataListener = std::make_unique<net::TWSocket>(m_loop);
        m_dataListener->SetAddr("127.0.0.1");
        m_dataListener->SetPort("0");
        m_dataListener->OnSessionAvailable = [this](net::TCustomWSocket& s, int) {
            const int handle = s.Accept();
            adoptData(handle);
        };
        m_dataListener->Listen();
        const int p = std::stoi(m_dataListener->GetXPort());
        send("227 Entering Passive Mode (" + passiveShownAddr + "," + std::to_string(p / 256) + "," +
             std::to_string(p % 256) + ")\r\n");
    }

    void rememberPort(const std::string& arg)
    {
        m_active = true;
        int n[6] = {};
        if (std::sscanf(arg.c_str(), "%d,%d,%d,%d,%d,%d", &n[0], &n[1], &n[2], &n[3], &n[4], &n[5]) != 6)
            return send("501 Bad PORT\r\n");
        m_activeAddr = std::to_string(n[0]) + "." + std::to_string(n[1]) + "." + std::to_string(n[2]) + "." +
                       std::to_string(n[3]);
        m_activePort = n[4] * 256 + n[5];
        send("200 PORT command successful\r\n");
    }

    void adoptData(int handle)
    {
        m_data = std::make_unique<net::TWSocket>(m_loop);
        wireData();
        m_data->Dup(handle);
        ++dataConnections;
        if (m_dataListener)
            m_dataListener->CloseDelayed();
        dataUp();
    }

    void wireData()
    {
        m_data->OnDataAvailable = [this](net::TCustomWSocket& s, int) {
            char buf[65536];
            const int n = s.Receive(buf, sizeof buf);
            if (n > 0)
                received.append(buf, static_cast<std::size_t>(n));
        };
        m_data->OnDataSent = [this](net::TCustomWSocket&, int) {
            if (m_sending && !holdDataOpen) {
                m_sending = false;
                finishOutgoing();
            }
        };
        m_data->OnSessionClosed = [this](net::TCustomWSocket&, int) {
            if (!m_closingData) {
                dataClosedByPeer = true;
                if (m_pendingKind == Pending::retrieve || m_pendingKind == Pending::list) {
                    m_pendingKind = Pending::none;
                    m_sending = false;
                    m_started = false;
                    send("426 Connection closed; transfer aborted.\r\n");
                }
            }
            if (m_pendingKind == Pending::store || m_pendingKind == Pending::append) {
                if (m_pendingKind == Pending::store)
                    files[m_pendingName] = files[m_pendingName].substr(0, m_storeOffset) + received;
                else
                    files[m_pendingName] += received;
                m_pendingKind = Pending::none;
                m_started = false;
                send("226 Transfer complete\r\n");
            }
        };
    }

    void startData(Pending kind, const std::string& name)
    {
        m_pendingKind = kind;
        m_pendingName = name;
        m_storeOffset = static_cast<std::size_t>(m_offset);
        m_offset = 0;
        if (kind == Pending::store || kind == Pending::append)
            received.clear();
        if (m_active) {
            m_data = std::make_unique<net::TWSocket>(m_loop);
            wireData();
            m_data->OnSessionConnected = [this](net::TCustomWSocket&, int error) {
                if (error == 0) {
                    ++dataConnections;
                    dataUp();
                }
            };
            m_data->SetAddr(m_activeAddr);
            m_data->SetPort(std::to_string(m_activePort));
            m_data->Connect();
            return;
        }
        if (dataConnected())
            dataUp();
    }

    // A data connection and a command that needs it are both there.
    void dataUp()
    {
        if (m_pendingKind == Pending::none || m_started)
            return;
        m_started = true;
        send("150 Opening data connection\r\n");
        if (m_pendingKind == Pending::retrieve || m_pendingKind == Pending::list) {
            if (transformOutgoing)
                m_outgoing = transformOutgoing(m_outgoing);
            if (m_outgoing.empty()) {
                if (!holdDataOpen)
                    finishOutgoing();
                return;
            }
            m_sending = true;
            m_data->SendStr(m_outgoing);
        }
    }

    void finishOutgoing()
    {
        m_pendingKind = Pending::none;
        m_started = false;
        if (finalBeforeDataClose) {
            send("226 Transfer complete\r\n");
            closeData();
            return;
        }
        closeData();
        send("226 Transfer complete\r\n");
    }

    net::EventLoop& m_loop;
    net::TWSocket m_listener;
    std::unique_ptr<net::TWSocket> m_control;
    std::unique_ptr<net::TWSocket> m_dataListener;
    std::unique_ptr<net::TWSocket> m_data;
    std::string m_pending;
    bool m_active = false;
    std::string m_activeAddr;
    int m_activePort = 0;
    long long m_offset = 0;
    std::size_t m_storeOffset = 0;
    Pending m_pendingKind = Pending::none;
    std::string m_pendingName;
    std::string m_outgoing;
    bool m_sending = false;
    bool m_started = false;
    bool m_closingData = false;
};

} // namespace vesk2::test
