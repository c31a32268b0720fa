#include "app/list_commands.h"

#include "admin/list_editor.h"
#include "admin/server_lists.h"
#include "app/cli_ui.h"
#include "ftpserver/virtual_tables.h"
#include "settings/settings.h"
#include "settings/settings_file.h"

#include <algorithm>
#include <optional>

namespace vesk2::app {

namespace {

using admin::ServerListKind;

struct ListName {
    const char* word;
    ServerListKind kind;
};
constexpr ListName kLists[] = {
    {"ip", ServerListKind::IpList},
    {"vdir", ServerListKind::VirtualDirs},
    {"link", ServerListKind::PermanentLinks},
};

// Every list as lines of text fields, for showing and for finding entries.
std::vector<std::vector<std::string>> rowsOf(admin::ServerLists& lists, ServerListKind kind)
{
    std::vector<std::vector<std::string>> rows;
    switch (kind) {
    case ServerListKind::IpList:
        for (const auto& e : lists.ipList().entries())
            rows.push_back({e});
        break;
    case ServerListKind::VirtualDirs:
        for (const auto& e : lists.virtualDirs().entries())
            rows.push_back({e.DirectoryPath, e.VirtualMap});
        break;
    case ServerListKind::PermanentLinks:
        for (const auto& e : lists.permanentLinks().entries())
            rows.push_back({e.DirectoryPath, e.LinkName});
        break;
    }
    return rows;
}

// The position of an entry given by its number in `list` output or by one of its fields.
std::optional<std::size_t> findEntry(const std::vector<std::vector<std::string>>& rows, const std::string& which)
{
    if (!which.empty() && std::all_of(which.begin(), which.end(), [](char c) { return c >= '0' && c <= '9'; }) &&
        which.size() < 6) {
        const std::size_t n = std::stoul(which);
        if (n >= 1 && n <= rows.size())
            return n - 1;
    }
    for (std::size_t i = 0; i < rows.size(); ++i)
        if (std::find(rows[i].begin(), rows[i].end(), which) != rows[i].end())
            return i;
    return std::nullopt;
}

int setIpMode(const std::string& programDir, const std::string& mode, std::ostream& out, std::ostream& err)
{
    if (mode != "allow" && mode != "deny") {
        err << "vesk2: list ip mode takes allow or deny\n";
        return 2;
    }
    settings::Settings options;
    settings::SettingsFile file(settings::settingsFilePath(programDir, std::nullopt));
    file.load(options);
    if (mode == "allow")
        options.setAllow(true);
    else
        options.setDeny(true);
    const auto saved = file.save(options);
    if (!saved.ok) {
        err << "vesk2: " << saved.error << "\n";
        return 1;
    }
    out << "IP list mode: " << mode << " (" << (mode == "allow" ? "only listed addresses may connect"
                                                                  : "listed addresses are refused")
        << "); a running server applies it after a restart\n";
    return 0;
}

} // namespace

std::string listUsageText()
{
    return "Usage: vesk2 list ip|vdir|link COMMAND ...\n"
           "  ip   list | add ADDRESS | remove N|ADDRESS | clear --yes | mode allow|deny\n"
           "       ADDRESS is a dotted address or the start of one (\"192.0.2.\"), \"*\" is every address\n"
           "  vdir list | add DIR VIRTUALNAME | remove N|DIR|VIRTUALNAME | clear --yes\n"
           "  link list | add DIR LINKNAME | remove N|DIR|LINKNAME | clear --yes\n"
           "A running server picks changed lists up within five seconds.\n";
}

int runListCommand(const std::vector<std::string>& args, const std::string& programDir, std::ostream& out,
                   std::ostream& err)
{
    if (args.size() < 2 || args[1] == "--help" || args[1] == "-h") {
        (args.size() < 2 ? err : out) << listUsageText();
        return args.size() < 2 ? 2 : 0;
    }
    const ListName* list = nullptr;
    for (const auto& l : kLists)
        if (args[1] == l.word)
            list = &l;
    if (!list || args.size() < 3) {
        err << listUsageText();
        return 2;
    }
    const std::string& verb = args[2];
    std::vector<std::string> pos;
    bool yes = false;
    for (std::size_t i = 3; i < args.size(); ++i) {
        if (args[i] == "--yes")
            yes = true;
        else
            pos.push_back(args[i]);
    }
    if (list->kind == ServerListKind::IpList && verb == "mode" && pos.size() == 1)
        return setIpMode(programDir, pos[0], out, err);

    admin::ServerLists lists(programDir);
    for (const auto& problem : lists.load())
        err << "vesk2: " << problem << "\n";
    ftpserver::VirtualDirTable virtualDirs;
    ftpserver::PermanentLinkTable links;
    settings::Settings options;
    CliUi ui(err, yes);
    admin::ListEditor editor(lists, virtualDirs, links, options, ui, [](const std::string&) {}, programDir);
    const auto rows = rowsOf(lists, list->kind);

    if (verb == "list" && pos.empty()) {
        std::size_t n = 0;
        for (const auto& row : rows) {
            out << ++n;
            for (const auto& field : row)
                out << "\t" << field;
            out << "\n";
        }
        return 0;
    }
    const std::size_t before = rows.size();
    if (verb == "add") {
        const std::size_t want = list->kind == ServerListKind::IpList ? 1 : 2;
        if (pos.size() != want) {
            err << listUsageText();
            return 2;
        }
        if (list->kind == ServerListKind::IpList) {
            ui.prompts.push_back(pos[0]);
            editor.addIpEntry();
        } else {
            if (pos[0].empty() || pos[0][0] != '/') {
                err << "vesk2: '" << pos[0] << "' is not an absolute directory\n";
                return 2;
            }
            ui.folders.push_back(pos[0]);
            ui.prompts.push_back(pos[1]);
            if (list->kind == ServerListKind::VirtualDirs)
                editor.addVirtualDirectory();
            else
                editor.addPermanentLink();
        }
        if (rowsOf(lists, list->kind).size() == before || ui.refused())
            return 1;
    } else if (verb == "remove" && pos.size() == 1) {
        const auto at = findEntry(rows, pos[0]);
        if (!at) {
            err << "vesk2: no entry '" << pos[0] << "' in the " << list->word << " list\n";
            return 1;
        }
        editor.deleteSelected(list->kind, {*at});
    } else if (verb == "clear" && pos.empty()) {
        editor.clearList(list->kind);
        if (ui.refused())
            return 1;
    } else {
        err << listUsageText();
        return 2;
    }
    for (const auto& failure : lists.save()) {
        err << "vesk2: " << failure << "\n";
        return 1;
    }
    return 0;
}

} // namespace vesk2::app
