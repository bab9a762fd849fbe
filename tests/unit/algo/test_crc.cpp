#include "Crc32Mpeg2.h"

#include <gtest/gtest.h>

#include <random>
#include <vector>

namespace {
uint32_t bitwiseCrc(const std::vector<uint8_t>& d)
{
    uint32_t crc = 0xFFFFFFFFu;
    for (uint8_t b : d) {
        crc ^= uint32_t(b) << 24;
        for (int i = 0; i < 8; ++i)
            crc = (crc & 0x80000000u) ? (crc << 1) ^ 0x04C11DB7u : crc << 1;
    }
    return crc;
}
} // namespace

TEST(Crc32Mpeg2, CheckValueAndEmptyInput)
{
    const char* s = "123456789";
    EXPECT_EQ(crc32Mpeg2(reinterpret_cast<const uint8_t*>(s), 9), 0x0376E6E7u);
    EXPECT_EQ(crc32Mpeg2(nullptr, 0), 0xFFFFFFFFu);
}

TEST(Crc32Mpeg2, SlicedMatchesBitwiseForEveryLengthAndSplit)
{
    std::mt19937 rng(7);
    for (size_t len = 0; len < 70; ++len) {
        std::vector<uint8_t> d(len);
        for (auto& b : d)
            b = uint8_t(rng());
        const uint32_t want = bitwiseCrc(d);
        ASSERT_EQ(crc32Mpeg2(d.data(), d.size()), want) << len;
        // Continuing a CRC over two pieces gives the same result as one pass.
        const size_t cut = len / 3;
        ASSERT_EQ(crc32Mpeg2(d.data() + cut, len - cut, crc32Mpeg2(d.data(), cut)), want) << len;
    }
}
