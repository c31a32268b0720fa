#pragma once
// TBuffer: one block of a socket's send buffer.

#include <cstddef>
#include <memory>

namespace vesk2::net {

class TBuffer {
public:
    // A size of 0 or less means 1514.
    explicit TBuffer(int size);

    // Appends at the write count; accepts at most the free tail (the space
    // before the read count is not reused). Returns the bytes taken.
    std::size_t Write(const void* data, std::size_t len);
    // The bytes between read count and write count.
    const unsigned char* Peek(std::size_t& len) const;
    // Advances the read count; when it reaches the write count both return to 0.
    void Remove(std::size_t len);

    std::size_t Unsent() const { return m_wrCount - m_rdCount; }
    std::size_t Size() const { return m_size; }

private:
    std::size_t m_size;
    std::unique_ptr<unsigned char[]> m_data;
    std::size_t m_wrCount = 0;
    std::size_t m_rdCount = 0;
};

} // namespace vesk2::net
