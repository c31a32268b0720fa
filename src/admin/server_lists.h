#pragma once
// The server's three administrator-edited lists and their files in the
// program directory: the IP list ("ipdenials.dat", one address entry per
// line), the virtual directories ("virtmaps.dat", directory path then virtual
// name) and the permanent links ("permalinks.dat", directory path then link
// name). Lines end in CR LF; a lone LF is read as a line end too.
//
// Reading. A file is read as far as it is sound and never rewritten by a
// read. Reading stops at the first line that is incomplete (no line end), too
// long, or holds a control character other than TAB, and at a pair whose name
// line is empty; everything before it is kept and the problem is reported.
// Empty IP lines and pairs whose first line is empty are dropped, as before.
//
// At most kMaxListEntries entries are in force: adding to a full list is
// refused. Entries beyond that in a file (or in the result of a merge, below)
// are kept and written back, but the connection check and the runtime tables
// never use them.
//
// Never clobbering other writers. Each list remembers the exact bytes its file
// held when it was last read or written (its base). reloadIfChanged() compares
// the file with that; when they differ the file is read again and the edits
// made in memory since the base was taken are replayed onto it: every entry
// removed in memory is removed from the file's version (its first equal
// entry), every entry added in memory is appended, in memory order. save()
// reloads first and then writes only when the list differs from the file (or
// there is no file, which is always recreated). So two processes editing the
// same list both keep their edits, and a server that runs for months does not
// overwrite a file edited on disk. A file that exists but cannot be read is
// never overwritten; a damaged file that has to be replaced is first copied
// to its name + ".damaged".
//
// Nothing here throws; failures come back as texts.

#include "ftpserver/virtual_tables.h"

#include <cstddef>
#include <span>
#include <string>
#include <vector>

namespace vesk2::admin {

inline constexpr const char* kIpListFile = "ipdenials.dat";
inline constexpr const char* kVirtualDirFile = "virtmaps.dat";
inline constexpr const char* kPermanentLinkFile = "permalinks.dat";

// Most entries in force in each list (the runtime tables' size).
inline constexpr std::size_t kMaxListEntries = ftpserver::kServerTableSize;
// Longest line a list file may hold (a full path fits).
inline constexpr std::size_t kMaxListLineLength = 4096;
// Most bytes read from a list file; anything beyond counts as damage.
inline constexpr std::size_t kMaxListFileBytes = 1024 * 1024;

// What the last read of a list file found.
struct ListRead {
    enum class Status { Read, Missing, Unreadable };
    Status status = Status::Missing;
    // For Read: why reading stopped early (empty when the whole file was
    // sound); for Unreadable: the error.
    std::string problem;
    // Entries read beyond kMaxListEntries (kept, not in force).
    std::size_t excess = 0;

    bool damaged() const { return status == Status::Read && !problem.empty(); }
};

enum class AddResult { Added, ListFull, NotStorable };
enum class ReloadOutcome { Unchanged, Reloaded, Merged };

// Entry: std::string (IP list), ftpserver::VirtualDirEntry or ftpserver::PermanentLinkEntry.
template <class Entry>
class ServerList {
public:
    // `directory` gets a trailing "/" when it has none.
    ServerList(std::string directory, const char* fileName);

    const std::string& path() const { return m_path; }
    const std::vector<Entry>& entries() const { return m_entries; }
    // The entries the server uses: the first kMaxListEntries.
    std::span<const Entry> inForce() const;
    std::size_t size() const { return m_entries.size(); }
    bool empty() const { return m_entries.empty(); }
    bool full() const { return m_entries.size() >= kMaxListEntries; }

    // Appends. Refused when the list is full, or when a text is empty or holds
    // something a line of the file cannot (a line end, a control character,
    // more than kMaxListLineLength bytes).
    AddResult add(const Entry& entry);
    // Removes the entries at these positions; positions out of range are ignored.
    void remove(const std::vector<std::size_t>& positions);
    void clear() { m_entries.clear(); }

    // The list differs from what its file held when it was last read or written.
    bool changed() const;

    // Start-up: reads the file; a missing or unreadable file gives an empty list.
    const ListRead& load();
    // Reads the file again when its bytes differ from those last read or
    // written, keeping the edits made in memory (see above). Never writes.
    ReloadOutcome reloadIfChanged();
    // Shut-down: reloadIfChanged(), then writes when needed. Error text or empty.
    std::string save();

    const ListRead& lastRead() const { return m_lastRead; }

private:
    struct Snapshot {
        ListRead::Status status = ListRead::Status::Missing;
        std::string bytes;
        std::string error;
        bool operator==(const Snapshot& other) const { return status == other.status && bytes == other.bytes; }
    };

    Snapshot snapshot() const;
    std::vector<Entry> parse(const Snapshot& snap, ListRead& read) const;

    std::string m_path;
    std::vector<Entry> m_entries;
    std::vector<Entry> m_base;   // the list as its file held it at the last read or write
    Snapshot m_disk;             // the file at the last read or write
    ListRead m_lastRead;
};

using IpList = ServerList<std::string>;
using VirtualDirList = ServerList<ftpserver::VirtualDirEntry>;
using PermanentLinkList = ServerList<ftpserver::PermanentLinkEntry>;

extern template class ServerList<std::string>;
extern template class ServerList<ftpserver::VirtualDirEntry>;
extern template class ServerList<ftpserver::PermanentLinkEntry>;

// The three lists of one program directory.
class ServerLists {
public:
    explicit ServerLists(const std::string& directory);

    IpList& ipList() { return m_ip; }
    VirtualDirList& virtualDirs() { return m_virtualDirs; }
    PermanentLinkList& permanentLinks() { return m_links; }
    const IpList& ipList() const { return m_ip; }
    const VirtualDirList& virtualDirs() const { return m_virtualDirs; }
    const PermanentLinkList& permanentLinks() const { return m_links; }

    // Loads all three; returns one text per file that was damaged, unreadable
    // or too long, for the log.
    std::vector<std::string> load();
    // reloadIfChanged() on all three; true when any list's entries changed
    // (rebuild the runtime tables then).
    bool reloadIfChanged();
    // Saves all three; returns the error texts.
    std::vector<std::string> save();

private:
    IpList m_ip;
    VirtualDirList m_virtualDirs;
    PermanentLinkList m_links;
};

// Refills the server's runtime tables from the lists, in list order.
void rebuildTables(const ServerLists& lists, ftpserver::VirtualDirTable& virtualDirs,
                   ftpserver::PermanentLinkTable& permanentLinks);

// A text describing what a read found, "" when the file was sound or missing.
std::string describeRead(const std::string& path, const ListRead& read);

} // namespace vesk2::admin
