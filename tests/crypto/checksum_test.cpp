#include "crypto/checksum.h"

#include "crypto_test_util.h"

#include <gtest/gtest.h>

#include <string>

namespace vesk2::crypto {
namespace {

std::uint32_t ofText(const std::string& s, std::uint32_t start = kChecksumStart)
{
    return checksum(reinterpret_cast<const std::uint8_t*>(s.data()), s.size(), start);
}

TEST(Checksum, ReferenceValues)
{
    EXPECT_EQ(ofText(""), 0xFFFFFFFFu);
    EXPECT_EQ(ofText("", 0x12345678u), 0x12345678u);
    EXPECT_EQ(ofText("abc"), 0xCADBBE3Du);
    EXPECT_EQ(ofText("123456789"), 0x340BC6D9u);
    const auto body = test::patternBytes(4092);
    EXPECT_EQ(checksum(body.data(), body.size()), 0xDC51E592u);
}

TEST(Checksum, ContinuesFromAPreviousValueAndHasNoLengthLimit)
{
    // No final inversion: a checksum over two parts equals one over the whole.
    const auto data = test::patternBytes(70000);
    const std::uint32_t first = checksum(data.data(), 30000);
    EXPECT_EQ(checksum(data.data() + 30000, 40000, first), checksum(data.data(), data.size()));
    EXPECT_EQ(~ofText("123456789"), 0xCBF43926u); // the common CRC-32
}

} // namespace
} // namespace vesk2::crypto
