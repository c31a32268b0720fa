#include "ftpserver/virtual_tables.h"

namespace vesk2::ftpserver {

template <typename Entry>
void ServerTable<Entry>::clear()
{
    m_entries.fill(Entry{});
}

template <typename Entry>
std::size_t ServerTable<Entry>::rebuild(const std::vector<Entry>& list)
{
    clear();
    std::size_t stored = 0;
    for (const Entry& entry : list) {
        if (stored == m_entries.size()) {
            break;
        }
        if (!entry.isFree()) {
            m_entries[stored++] = entry;
        }
    }
    return stored;
}

template class ServerTable<VirtualDirEntry>;
template class ServerTable<PermanentLinkEntry>;

} // namespace vesk2::ftpserver
