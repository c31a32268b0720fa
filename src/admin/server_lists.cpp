#include "admin/server_lists.h"

#include "admin/safe_file.h"
#include "platform/file_system.h"

#include <algorithm>
#include <filesystem>

namespace vesk2::admin {

using ftpserver::PermanentLinkEntry;
using ftpserver::VirtualDirEntry;

namespace {

// Reading stops after this many entries: it bounds the work a merge does.
constexpr std::size_t kMaxListFileEntries = 1024;
constexpr const char* kLineEnd = "\r\n";
constexpr const char* kDamagedCopySuffix = ".damaged";

bool storableLine(const std::string& text)
{
    if (text.empty() || text.size() > kMaxListLineLength)
        return false;
    return std::none_of(text.begin(), text.end(), [](char c) {
        const auto u = static_cast<unsigned char>(c);
        return (u < 0x20 && u != '\t') || u == 0x7F;
    });
}

// -- The three entry kinds ----------------------------------------------------

template <class Entry>
constexpr std::size_t kLinesPerEntry = 2;
template <>
constexpr std::size_t kLinesPerEntry<std::string> = 1;

void appendLines(std::string& out, const std::string& entry) { out += entry + kLineEnd; }
void appendLines(std::string& out, const VirtualDirEntry& entry)
{
    out += entry.DirectoryPath + kLineEnd + entry.VirtualMap + kLineEnd;
}
void appendLines(std::string& out, const PermanentLinkEntry& entry)
{
    out += entry.DirectoryPath + kLineEnd + entry.LinkName + kLineEnd;
}

bool sameEntry(const std::string& a, const std::string& b) { return a == b; }
bool sameEntry(const VirtualDirEntry& a, const VirtualDirEntry& b)
{
    return a.DirectoryPath == b.DirectoryPath && a.VirtualMap == b.VirtualMap;
}
bool sameEntry(const PermanentLinkEntry& a, const PermanentLinkEntry& b)
{
    return a.DirectoryPath == b.DirectoryPath && a.LinkName == b.LinkName;
}

bool storableEntry(const std::string& e) { return storableLine(e); }
bool storableEntry(const VirtualDirEntry& e) { return storableLine(e.DirectoryPath) && storableLine(e.VirtualMap); }
bool storableEntry(const PermanentLinkEntry& e) { return storableLine(e.DirectoryPath) && storableLine(e.LinkName); }

template <class Entry>
Entry makeEntry(const std::string& first, const std::string& second);
template <>
std::string makeEntry<std::string>(const std::string& first, const std::string&)
{
    return first;
}
template <>
VirtualDirEntry makeEntry<VirtualDirEntry>(const std::string& first, const std::string& second)
{
    return VirtualDirEntry{first, second};
}
template <>
PermanentLinkEntry makeEntry<PermanentLinkEntry>(const std::string& first, const std::string& second)
{
    return PermanentLinkEntry{first, second};
}

template <class Entry>
bool sameList(const std::vector<Entry>& a, const std::vector<Entry>& b)
{
    return a.size() == b.size() &&
           std::equal(a.begin(), a.end(), b.begin(), [](const Entry& x, const Entry& y) { return sameEntry(x, y); });
}

// -- Reading ------------------------------------------------------------------

struct Lines {
    std::vector<std::string> lines;
    std::string problem; // why the scan stopped early
};

// The sound lines at the start of `bytes`.
Lines scanLines(const std::string& bytes)
{
    Lines out;
    std::size_t pos = 0;
    while (pos < bytes.size()) {
        const std::string where = "line " + std::to_string(out.lines.size() + 1);
        const std::size_t lf = bytes.find('\n', pos);
        if (lf == std::string::npos) {
            out.problem = where + " is incomplete";
            break;
        }
        std::string line = bytes.substr(pos, lf - pos);
        if (!line.empty() && line.back() == '\r')
            line.pop_back();
        if (line.size() > kMaxListLineLength) {
            out.problem = where + " is too long";
            break;
        }
        if (!line.empty() && !storableLine(line)) {
            out.problem = where + " holds a control character";
            break;
        }
        out.lines.push_back(std::move(line));
        pos = lf + 1;
    }
    return out;
}

// Every entry removed from `base` in `mine` is removed from `theirs` (its first
// equal entry); every entry added is appended, in the order of `mine`.
template <class Entry>
std::vector<Entry> replayEdits(const std::vector<Entry>& base, const std::vector<Entry>& mine,
                               const std::vector<Entry>& theirs)
{
    std::vector<bool> kept(mine.size(), false);
    std::vector<Entry> removed;
    for (const Entry& b : base) {
        bool found = false;
        for (std::size_t i = 0; i < mine.size() && !found; ++i)
            if (!kept[i] && sameEntry(mine[i], b))
                kept[i] = found = true;
        if (!found)
            removed.push_back(b);
    }
    std::vector<Entry> result = theirs;
    for (const Entry& r : removed) {
        auto it = std::find_if(result.begin(), result.end(), [&](const Entry& e) { return sameEntry(e, r); });
        if (it != result.end())
            result.erase(it);
    }
    for (std::size_t i = 0; i < mine.size(); ++i)
        if (!kept[i])
            result.push_back(mine[i]);
    return result;
}

} // namespace

// -- ServerList ---------------------------------------------------------------

template <class Entry>
ServerList<Entry>::ServerList(std::string directory, const char* fileName)
{
    if (!directory.empty() && directory.back() != '/')
        directory += '/';
    m_path = directory + fileName;
}

template <class Entry>
std::span<const Entry> ServerList<Entry>::inForce() const
{
    return std::span<const Entry>(m_entries.data(), std::min(m_entries.size(), kMaxListEntries));
}

template <class Entry>
AddResult ServerList<Entry>::add(const Entry& entry)
{
    if (full())
        return AddResult::ListFull;
    if (!storableEntry(entry))
        return AddResult::NotStorable;
    m_entries.push_back(entry);
    return AddResult::Added;
}

template <class Entry>
void ServerList<Entry>::remove(const std::vector<std::size_t>& positions)
{
    std::vector<bool> drop(m_entries.size(), false);
    for (std::size_t p : positions)
        if (p < drop.size())
            drop[p] = true;
    std::vector<Entry> rest;
    for (std::size_t i = 0; i < m_entries.size(); ++i)
        if (!drop[i])
            rest.push_back(std::move(m_entries[i]));
    m_entries = std::move(rest);
}

template <class Entry>
bool ServerList<Entry>::changed() const
{
    return !sameList(m_entries, m_base);
}

template <class Entry>
typename ServerList<Entry>::Snapshot ServerList<Entry>::snapshot() const
{
    Snapshot snap;
    if (!platform::statEntry(m_path)) {
        snap.status = ListRead::Status::Missing;
        return snap;
    }
    // One byte more than the limit tells a file that is too long.
    platform::ReadResult read = platform::readFileHead(m_path, kMaxListFileBytes + 1);
    if (!read.ok()) {
        snap.status = ListRead::Status::Unreadable;
        snap.error = read.error;
        return snap;
    }
    snap.status = ListRead::Status::Read;
    snap.bytes = std::move(read.bytes);
    return snap;
}

template <class Entry>
std::vector<Entry> ServerList<Entry>::parse(const Snapshot& snap, ListRead& read) const
{
    read = ListRead{};
    read.status = snap.status;
    std::vector<Entry> entries;
    if (snap.status != ListRead::Status::Read) {
        read.problem = snap.error;
        return entries;
    }
    const bool tooLong = snap.bytes.size() > kMaxListFileBytes;
    Lines scan = scanLines(tooLong ? snap.bytes.substr(0, kMaxListFileBytes) : snap.bytes);
    if (tooLong && scan.problem.empty())
        scan.problem = "the file is longer than " + std::to_string(kMaxListFileBytes) + " bytes";

    constexpr std::size_t step = kLinesPerEntry<Entry>;
    const std::vector<std::string>& lines = scan.lines;
    std::string problem;
    for (std::size_t i = 0; i < lines.size(); i += step) {
        const std::string& first = lines[i];
        if (step == 2 && i + 1 == lines.size()) {
            // The pair's second line is missing: a file cut short, unless the
            // lone line is empty (a blank line at the end).
            if (!first.empty() && scan.problem.empty())
                problem = "line " + std::to_string(i + 1) + " has no second line";
            break;
        }
        const std::string& second = step == 2 ? lines[i + 1] : first;
        if (first.empty())
            continue;
        if (second.empty()) {
            problem = "line " + std::to_string(i + 2) + " is empty";
            break;
        }
        if (entries.size() == kMaxListFileEntries) {
            problem = "more than " + std::to_string(kMaxListFileEntries) + " entries";
            break;
        }
        entries.push_back(makeEntry<Entry>(first, second));
    }
    read.problem = !problem.empty() ? problem : scan.problem;
    read.excess = entries.size() > kMaxListEntries ? entries.size() - kMaxListEntries : 0;
    return entries;
}

template <class Entry>
const ListRead& ServerList<Entry>::load()
{
    m_disk = snapshot();
    m_entries = parse(m_disk, m_lastRead);
    m_base = m_entries;
    return m_lastRead;
}

template <class Entry>
ReloadOutcome ServerList<Entry>::reloadIfChanged()
{
    Snapshot now = snapshot();
    if (now == m_disk)
        return ReloadOutcome::Unchanged;
    if (now.status == ListRead::Status::Unreadable) {
        // Nothing to take from it; remember it so that save() leaves it alone.
        m_disk = std::move(now);
        m_lastRead = ListRead{ListRead::Status::Unreadable, m_disk.error, 0};
        return ReloadOutcome::Unchanged;
    }
    ListRead read;
    std::vector<Entry> theirs = parse(now, read);
    const bool edited = changed();
    m_entries = edited ? replayEdits(m_base, m_entries, theirs) : theirs;
    m_base = std::move(theirs);
    m_disk = std::move(now);
    m_lastRead = std::move(read);
    return edited ? ReloadOutcome::Merged : ReloadOutcome::Reloaded;
}

template <class Entry>
std::string ServerList<Entry>::save()
{
    reloadIfChanged();
    if (m_disk.status == ListRead::Status::Unreadable)
        return "Cannot read \"" + m_path + "\"; it was not overwritten.";
    if (m_disk.status == ListRead::Status::Read && !changed())
        return {};

    if (m_lastRead.damaged()) {
        // Keep what could not be read: the new file holds only the sound part.
        std::error_code ec;
        std::filesystem::copy_file(m_path, m_path + kDamagedCopySuffix,
                                   std::filesystem::copy_options::overwrite_existing, ec);
        if (ec)
            return "Cannot keep a copy of \"" + m_path + "\"; it was not overwritten.";
    }
    std::string bytes;
    for (const Entry& entry : m_entries)
        appendLines(bytes, entry);
    const std::string error = writeFileSafely(m_path, bytes);
    if (!error.empty())
        return error;
    m_base = m_entries;
    m_disk = Snapshot{ListRead::Status::Read, std::move(bytes), {}};
    m_lastRead = ListRead{ListRead::Status::Read, {},
                          m_entries.size() > kMaxListEntries ? m_entries.size() - kMaxListEntries : 0};
    return {};
}

template class ServerList<std::string>;
template class ServerList<VirtualDirEntry>;
template class ServerList<PermanentLinkEntry>;

// -- ServerLists --------------------------------------------------------------

ServerLists::ServerLists(const std::string& directory)
    : m_ip(directory, kIpListFile),
      m_virtualDirs(directory, kVirtualDirFile),
      m_links(directory, kPermanentLinkFile)
{
}

std::vector<std::string> ServerLists::load()
{
    std::vector<std::string> problems;
    auto note = [&](const std::string& path, const ListRead& read) {
        std::string text = describeRead(path, read);
        if (!text.empty())
            problems.push_back(std::move(text));
    };
    note(m_ip.path(), m_ip.load());
    note(m_virtualDirs.path(), m_virtualDirs.load());
    note(m_links.path(), m_links.load());
    return problems;
}

bool ServerLists::reloadIfChanged()
{
    bool any = false;
    any |= m_ip.reloadIfChanged() != ReloadOutcome::Unchanged;
    any |= m_virtualDirs.reloadIfChanged() != ReloadOutcome::Unchanged;
    any |= m_links.reloadIfChanged() != ReloadOutcome::Unchanged;
    return any;
}

std::vector<std::string> ServerLists::save()
{
    std::vector<std::string> errors;
    for (std::string error : {m_ip.save(), m_virtualDirs.save(), m_links.save()})
        if (!error.empty())
            errors.push_back(std::move(error));
    return errors;
}

void rebuildTables(const ServerLists& lists, ftpserver::VirtualDirTable& virtualDirs,
                   ftpserver::PermanentLinkTable& permanentLinks)
{
    const auto dirs = lists.virtualDirs().inForce();
    const auto links = lists.permanentLinks().inForce();
    virtualDirs.rebuild(std::vector<VirtualDirEntry>(dirs.begin(), dirs.end()));
    permanentLinks.rebuild(std::vector<PermanentLinkEntry>(links.begin(), links.end()));
}

std::string describeRead(const std::string& path, const ListRead& read)
{
    switch (read.status) {
    case ListRead::Status::Missing:
        return {};
    case ListRead::Status::Unreadable:
        return read.problem;
    case ListRead::Status::Read:
        break;
    }
    std::string text;
    if (!read.problem.empty())
        text = path + " was read only up to the point where " + read.problem;
    if (read.excess > 0) {
        if (!text.empty())
            text += "; ";
        text += path + " holds " + std::to_string(read.excess) + " entries beyond " +
                std::to_string(kMaxListEntries) + ", which are not used";
    }
    return text;
}

} // namespace vesk2::admin
