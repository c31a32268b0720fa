#pragma once
// The server's two runtime tables: virtual directories and permanent links.
//
// Each holds 128 pairs of texts; an entry whose first text is empty is free.
// The server only reads them; the administration code refills them from its
// lists whenever a list changes. Until then every entry is free.

#include <array>
#include <cstddef>
#include <string>
#include <vector>

namespace vesk2::ftpserver {

inline constexpr std::size_t kServerTableSize = 128;

// A real local directory shown to clients under another name.
// Both texts end in "/"; `VirtualMap` starts with "/".
struct VirtualDirEntry {
    std::string DirectoryPath;   // real path; empty = free
    std::string VirtualMap;      // the name the client sees

    bool isFree() const { return DirectoryPath.empty(); }
};

// A directory reachable by name from anywhere and shown in every listing.
struct PermanentLinkEntry {
    std::string DirectoryPath;   // target directory; empty = free
    std::string LinkName;

    bool isFree() const { return DirectoryPath.empty(); }
};

// A fixed table of kServerTableSize entries.
template <typename Entry>
class ServerTable {
public:
    static constexpr std::size_t size() { return kServerTableSize; }

    // Entry i (0-based); i must be below size().
    const Entry& operator[](std::size_t i) const { return m_entries[i]; }
    Entry& operator[](std::size_t i) { return m_entries[i]; }

    auto begin() const { return m_entries.begin(); }
    auto end() const { return m_entries.end(); }

    // Frees every entry.
    void clear();

    // Refills the table from a list, in list order: entries whose first text
    // is empty are skipped, the rest take the slots from the first on, and
    // what does not fit in the table is ignored. Returns the number stored.
    std::size_t rebuild(const std::vector<Entry>& list);

private:
    std::array<Entry, kServerTableSize> m_entries{};
};

using VirtualDirTable = ServerTable<VirtualDirEntry>;
using PermanentLinkTable = ServerTable<PermanentLinkEntry>;

extern template class ServerTable<VirtualDirEntry>;
extern template class ServerTable<PermanentLinkEntry>;

} // namespace vesk2::ftpserver
