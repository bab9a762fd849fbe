#include "Crc32Mpeg2.h"

namespace {
struct Table {
    uint32_t t[8][256];
    Table()
    {
        for (uint32_t i = 0; i < 256; ++i) {
            uint32_t c = i << 24;
            for (int k = 0; k < 8; ++k)
                c = (c & 0x80000000u) ? (c << 1) ^ 0x04C11DB7u : (c << 1);
            t[0][i] = c;
        }
        // Slicing-by-8 tables: t[k][i] is the CRC of byte i followed by k zero bytes.
        for (int k = 1; k < 8; ++k)
            for (uint32_t i = 0; i < 256; ++i)
                t[k][i] = (t[k - 1][i] << 8) ^ t[0][t[k - 1][i] >> 24];
    }
};
const Table& table()
{
    static const Table tbl;
    return tbl;
}
} // namespace

uint32_t crc32Mpeg2(const uint8_t* data, size_t len, uint32_t crc)
{
    const Table& T = table();
    while (len >= 8) {
        const uint32_t a = crc ^ (uint32_t(data[0]) << 24 | uint32_t(data[1]) << 16 | uint32_t(data[2]) << 8 | data[3]);
        crc = T.t[7][a >> 24] ^ T.t[6][(a >> 16) & 0xFF] ^ T.t[5][(a >> 8) & 0xFF] ^ T.t[4][a & 0xFF]
            ^ T.t[3][data[4]] ^ T.t[2][data[5]] ^ T.t[1][data[6]] ^ T.t[0][data[7]];
        data += 8;
        len -= 8;
    }
    while (len--)
        crc = (crc << 8) ^ T.t[0][(crc >> 24) ^ *data++];
    return crc;
}
