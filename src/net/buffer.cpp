#include "net/buffer.h"

#include <algorithm>
#include <cstring>

namespace vesk2::net {

TBuffer::TBuffer(int size)
    : m_size(size <= 0 ? 1514 : static_cast<std::size_t>(size)), m_data(new unsigned char[m_size])
{
}

std::size_t TBuffer::Write(const void* data, std::size_t len)
{
    const std::size_t take = std::min(len, m_size - m_wrCount);
    if (take > 0)
        std::memcpy(m_data.get() + m_wrCount, data, take);
    m_wrCount += take;
    return take;
}

const unsigned char* TBuffer::Peek(std::size_t& len) const
{
    len = m_wrCount - m_rdCount;
    return m_data.get() + m_rdCount;
}

void TBuffer::Remove(std::size_t len)
{
    m_rdCount = std::min(m_rdCount + len, m_wrCount);
    if (m_rdCount == m_wrCount)
        m_rdCount = m_wrCount = 0;
}

} // namespace vesk2::net
