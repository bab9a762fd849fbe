#include "CPixelDetector.h"

#include <algorithm>
#include <new>

constexpr uint8_t CPixelDetector::kResetRecord[CPixelDetector::kRecordBytes];

bool CPixelDetector::SizeSupported(int width, int height)
{
    return width > 0 && height > 0 && width <= kMaxSide && height <= kMaxSide
        && long(width) * long(height) <= kMaxPixels;
}

void CPixelDetector::EncodeRecord(int x, int y, uint8_t mask, uint8_t out[kRecordBytes])
{
    const uint32_t a = (uint32_t(y + 1) << 12) + uint32_t(x + 1);
    out[0] = mask;
    out[1] = uint8_t(a >> 16);
    out[2] = uint8_t(a >> 8);
    out[3] = uint8_t(a);
}

bool CPixelDetector::DecodeRecord(const uint8_t in[kRecordBytes], int* x, int* y, uint8_t* mask)
{
    const uint32_t a = (uint32_t(in[1]) << 16) | (uint32_t(in[2]) << 8) | in[3];
    const int row = int(a >> 12) - 1;
    const int col = int(a & 0xFFF) - 1;
    if (row < 0 || col < 0)
        return false;
    if (x)
        *x = col;
    if (y)
        *y = row;
    if (mask)
        *mask = in[0];
    return true;
}

uint8_t CPixelDetector::NeighbourMask(const uint8_t* map, int width, int height, int x, int y)
{
    static const int dx[8] = {-1, 0, 1, -1, 1, -1, 0, 1};
    static const int dy[8] = {-1, -1, -1, 0, 0, 1, 1, 1};
    uint8_t mask = 0;
    for (int k = 0; k < 8; ++k) {
        const int nx = x + dx[k];
        const int ny = y + dy[k];
        if (nx < 0 || ny < 0 || nx >= width || ny >= height || map[size_t(ny) * width + nx])
            mask |= uint8_t(1u << k);
    }
    return mask;
}

bool CPixelDetector::EncodeMap(const uint8_t* map, int width, int height, std::vector<uint8_t>* records)
{
    if (!records)
        return false;
    records->clear();
    if (!map || !SizeSupported(width, height))
        return false;
    size_t count = 0;
    const size_t n = size_t(width) * height;
    for (size_t i = 0; i < n; ++i)
        count += map[i] ? 1 : 0;
    records->resize(count * kRecordBytes);
    uint8_t* out = records->data();
    for (int y = 0; y < height; ++y) {
        const uint8_t* row = map + size_t(y) * width;
        for (int x = 0; x < width; ++x) {
            if (!row[x])
                continue;
            EncodeRecord(x, y, NeighbourMask(map, width, height, x, y), out);
            out += kRecordBytes;
        }
    }
    return true;
}

bool CPixelDetector::DecodeTable(const uint8_t* records, size_t bytes, int width, int height, uint8_t* map,
                                 TableStats* stats)
{
    if (!map || (!records && bytes) || !SizeSupported(width, height))
        return false;
    TableStats s;
    s.trailing = bytes % kRecordBytes;
    const size_t count = bytes / kRecordBytes;
    for (size_t r = 0; r < count; ++r) {
        int x = 0, y = 0;
        ++s.records;
        // A record from a core of another resolution (or a damaged file) must not
        // land outside the map.
        if (!DecodeRecord(records + r * kRecordBytes, &x, &y, nullptr) || x >= width || y >= height) {
            ++s.outside;
            continue;
        }
        uint8_t& m = map[size_t(y) * width + x];
        if (m)
            ++s.duplicates;
        m = 1;
    }
    if (stats) {
        stats->records += s.records;
        stats->outside += s.outside;
        stats->duplicates += s.duplicates;
        stats->trailing += s.trailing;
    }
    return true;
}

bool CPixelDetector::MergeTables(const std::vector<Block>& blocks, int width, int height,
                                 std::vector<uint8_t>* records, TableStats* stats)
{
    if (!records)
        return false;
    records->clear();
    if (!SizeSupported(width, height))
        return false;
    std::vector<uint8_t> map;
    try {
        map.assign(size_t(width) * height, 0);
    } catch (const std::bad_alloc&) {
        return false;
    }
    for (const Block& b : blocks) {
        if (!DecodeTable(b.data, b.bytes, width, height, map.data(), stats))
            return false;
    }
    return EncodeMap(map.data(), width, height, records);
}

bool CPixelDetector::MapFromGains(const uint16_t* gains, int width, int height, std::vector<uint8_t>* map)
{
    if (!map || !gains || !SizeSupported(width, height))
        return false;
    const size_t n = size_t(width) * height;
    map->assign(n, 0);
    for (size_t i = 0; i < n; ++i)
        (*map)[i] = (gains[i] >= 45000 || gains[i] <= 25000) ? 1 : 0;
    return true;
}

bool CPixelDetector::MapFromPoints(const std::vector<Point>& points, int width, int height,
                                   std::vector<uint8_t>* map)
{
    if (!map || !SizeSupported(width, height))
        return false;
    map->assign(size_t(width) * height, 0);
    for (const Point& p : points) {
        if (p.x >= 0 && p.y >= 0 && p.x < width && p.y < height)
            (*map)[size_t(p.y) * width + p.x] = 1;
    }
    return true;
}

bool CPixelDetector::DetectV10(const uint16_t* image, int width, int height, std::vector<Point>* bad) const
{
    if (!bad)
        return false;
    bad->clear();
    if (!image || !SizeSupported(width, height))
        return false;
    const int r = kV10Radius;
    // Column sums over the window's rows, slid down one row at a time; each window sum
    // then slides along the row. At most 625 x 65535 fits 32 bits.
    std::vector<uint32_t> col(size_t(width), 0);
    for (int y = 0; y <= std::min(r, height - 1); ++y) {
        const uint16_t* row = image + size_t(y) * width;
        for (int x = 0; x < width; ++x)
            col[x] += row[x];
    }
    for (int y = 0; y < height; ++y) {
        if (y > 0) {
            if (y + r < height) {
                const uint16_t* in = image + size_t(y + r) * width;
                for (int x = 0; x < width; ++x)
                    col[x] += in[x];
            }
            if (y - r - 1 >= 0) {
                const uint16_t* outRow = image + size_t(y - r - 1) * width;
                for (int x = 0; x < width; ++x)
                    col[x] -= outRow[x];
            }
        }
        const uint32_t rows = uint32_t(std::min(y + r, height - 1) - std::max(y - r, 0) + 1);
        uint32_t sum = 0;
        for (int x = 0; x <= std::min(r, width - 1); ++x)
            sum += col[x];
        const uint16_t* line = image + size_t(y) * width;
        for (int x = 0; x < width; ++x) {
            if (x > 0) {
                if (x + r < width)
                    sum += col[x + r];
                if (x - r - 1 >= 0)
                    sum -= col[x - r - 1];
            }
            const int64_t n = rows * uint32_t(std::min(x + r, width - 1) - std::max(x - r, 0) + 1);
            // mean = ceil(sum / n); without the division: mean <= k exactly when
            // sum <= k x n. The mean of 16-bit values always fits 16 bits.
            const int64_t v = line[x];
            if ((v - m_bright - 1) * n >= int64_t(sum) || (v + m_dark) * n < int64_t(sum))
                bad->push_back({x, y});
        }
    }
    return true;
}

bool CPixelDetector::DetectV20(const uint16_t* image, int width, int height, uint8_t* map, int* found) const
{
    if (found)
        *found = 0;
    if (!image || !map || !SizeSupported(width, height))
        return false;
    const int r = kV20Radius;
    const int t = m_bright;
    int marked = 0;
    for (int y = 0; y < height; ++y) {
        const int y0 = std::max(y - r, 0);
        const int y1 = std::min(y + r, height - 1);
        for (int x = 0; x < width; ++x) {
            const size_t i = size_t(y) * width + x;
            if (map[i])
                continue;
            const int x0 = std::max(x - r, 0);
            const int x1 = std::min(x + r, width - 1);
            const int v = image[i];
            // The median is element n / 2 of the good values sorted high to low, and
            // that element is >= a exactly when more than n / 2 values are >= a. So
            // counting against the two bounds decides the test without sorting.
            const int lowBound = v - t;      // median < v - t: bright pixel
            const int highBound = v + t + 1; // median >= v + t + 1: dark pixel
            int n = 0;
            int atLeastLow = 0;
            int atLeastHigh = 0;
            for (int yy = y0; yy <= y1; ++yy) {
                const size_t base = size_t(yy) * width;
                for (int xx = x0; xx <= x1; ++xx) {
                    if (map[base + xx])
                        continue;
                    const int u = image[base + xx];
                    ++n;
                    atLeastLow += u >= lowBound;
                    atLeastHigh += u >= highBound;
                }
            }
            const int need = n / 2 + 1;
            if (atLeastLow < need || atLeastHigh >= need) {
                map[i] = 1;
                ++marked;
            }
        }
    }
    if (found)
        *found = marked;
    return true;
}
