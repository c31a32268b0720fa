#include "admin/session_table.h"

#include "ftpserver/ctrl_socket.h"

#include <stdexcept>

namespace vesk2::admin {

namespace {

bool validNumber(int n) { return n >= 1 && n <= kSessionSlots; }

} // namespace

SessionTable::SessionTable() : m_slots(kSessionSlots), m_random(std::random_device{}()) {}

SessionSlot& SessionTable::slot(int n)
{
    if (!validNumber(n))
        throw std::out_of_range("session slot " + std::to_string(n));
    return m_slots[static_cast<std::size_t>(n - 1)];
}

const SessionSlot& SessionTable::slot(int n) const
{
    return const_cast<SessionTable*>(this)->slot(n);
}

SessionSlot* SessionTable::slotOf(const ftpserver::TFtpCtrlSocket& client)
{
    if (!validNumber(client.SessionSlot))
        return nullptr;
    SessionSlot& s = m_slots[static_cast<std::size_t>(client.SessionSlot - 1)];
    return s.InUse && s.Owner == client.targetId() ? &s : nullptr;
}

const SessionSlot* SessionTable::slotOf(const ftpserver::TFtpCtrlSocket& client) const
{
    return const_cast<SessionTable*>(this)->slotOf(client);
}

int SessionTable::take(ftpserver::TFtpCtrlSocket& client)
{
    int n = 0;
    if (slotOf(client)) {
        n = client.SessionSlot; // a second login on the same connection keeps its slot
    } else {
        std::vector<int> free;
        for (int i = 1; i <= kSessionSlots; ++i)
            if (!m_slots[static_cast<std::size_t>(i - 1)].InUse)
                free.push_back(i);
        if (free.empty())
            return 0;
        std::uniform_int_distribution<std::size_t> pick(0, free.size() - 1);
        n = free[pick(m_random)];
    }
    SessionSlot& s = m_slots[static_cast<std::size_t>(n - 1)];
    s = SessionSlot{};
    s.InUse = true;
    s.Owner = client.targetId();
    client.SessionSlot = n;
    return n;
}

void SessionTable::release(ftpserver::TFtpCtrlSocket& client)
{
    if (SessionSlot* s = slotOf(client))
        *s = SessionSlot{};
    client.SessionSlot = 0;
}

void SessionTable::clear()
{
    for (SessionSlot& s : m_slots)
        s = SessionSlot{};
}

int SessionTable::inUseCount() const
{
    int n = 0;
    for (const SessionSlot& s : m_slots)
        n += s.InUse ? 1 : 0;
    return n;
}

} // namespace vesk2::admin
