#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

// Bad pixels: the table format the core reads, the conversions between table and bad
// map, and the detectors that find bad pixels in a frame or a gain table.
//
// Table ("FinalPixel.bin"): 4-byte records, no header, in scan order. Byte 0 is the
// neighbour mask, bit k set when neighbour k is bad or lies outside the image
// (k = 0 (x-1, y-1), 1 (x, y-1), 2 (x+1, y-1), 3 (x-1, y), 4 (x+1, y), 5 (x-1, y+1),
// 6 (x, y+1), 7 (x+1, y+1)); bytes 1..3 are ((y + 1) << 12) + (x + 1), big-endian.
// Bad map: one byte per pixel, row-major, 1 = bad.
//
// Sizes: each side fits the record's 12 bits (at most 4095) and the frame at most
// kMaxPixels (1920 x 1440); anything larger is refused, never cut.
class CPixelDetector {
public:
    static constexpr int kRecordBytes = 4;
    static constexpr int kMaxSide = 4095;
    static constexpr long kMaxPixels = 2764800;
    static constexpr int kV10Radius = 12; // 25 x 25 window
    static constexpr int kV20Radius = 2;  // 5 x 5 window
    // The single entry the core's table is reset to (and the fallback table holds):
    // mask 0, 1-based row 16, column 323.
    static constexpr uint8_t kResetRecord[kRecordBytes] = {0x00, 0x01, 0x01, 0x43};

    struct Point {
        int x;
        int y;
        bool operator==(const Point& o) const { return x == o.x && y == o.y; }
    };

    // What a table held when it was read into a map.
    struct TableStats {
        size_t records = 0;    // whole records read
        size_t outside = 0;    // records naming a pixel outside the frame (skipped)
        size_t duplicates = 0; // records naming a pixel already set
        size_t trailing = 0;   // bytes after the last whole record (ignored)
    };

    // Parameters the calibration page hands over before a run.
    struct Params {
        int width = 0;
        int height = 0;
        int frameCount = 0;
        int frameMean = 0;
        float threshold = 0.02f;
    };

    static bool SizeSupported(int width, int height);

    // One record; Decode gives false (and leaves the outputs alone) when the row or
    // column field is 0, i.e. names no pixel at all.
    static void EncodeRecord(int x, int y, uint8_t mask, uint8_t out[kRecordBytes]);
    static bool DecodeRecord(const uint8_t in[kRecordBytes], int* x, int* y, uint8_t* mask);
    // The neighbour mask of (x, y) in a map.
    static uint8_t NeighbourMask(const uint8_t* map, int width, int height, int x, int y);

    // Records of every bad pixel of the map, in scan order. False for an unsupported
    // size or a null map (records then empty).
    static bool EncodeMap(const uint8_t* map, int width, int height, std::vector<uint8_t>* records);
    // Sets the pixel of every record in `map` (width x height, not cleared first).
    // Records outside the frame are skipped and counted. False for an unsupported size
    // or null pointers.
    static bool DecodeTable(const uint8_t* records, size_t bytes, int width, int height, uint8_t* map,
                            TableStats* stats = nullptr);

    struct Block {
        const uint8_t* data;
        size_t bytes;
    };
    // Union of several tables as one table in scan order, duplicates merged.
    static bool MergeTables(const std::vector<Block>& blocks, int width, int height, std::vector<uint8_t>* records,
                            TableStats* stats = nullptr);

    // Gain-based map: a pixel is bad when its gain reached a clamp limit
    // (K <= 25000 or K >= 45000). `map` is resized to width x height.
    static bool MapFromGains(const uint16_t* gains, int width, int height, std::vector<uint8_t>* map);
    // Map from a list of points (duplicates and points outside are ignored).
    static bool MapFromPoints(const std::vector<Point>& points, int width, int height, std::vector<uint8_t>* map);

    void SetThresholds(int bright, int dark)
    {
        m_bright = bright;
        m_dark = dark;
    }
    int brightThreshold() const { return m_bright; }
    int darkThreshold() const { return m_dark; }
    void SetParams(const Params& p) { m_params = p; }
    const Params& params() const { return m_params; }

    // Local-mean test: a pixel is bad when it lies more than `bright` above or `dark`
    // below the rounded-up mean of its 25 x 25 window (cut at the edges, the pixel
    // included). `bad` receives the bad pixels in scan order.
    bool DetectV10(const uint16_t* image, int width, int height, std::vector<Point>* bad) const;
    // Local-median test over the 5 x 5 window of pixels not yet bad, in scan order; a
    // pixel found bad is set in `map` at once and leaves the windows after it. Only
    // `bright` is used, in both directions. `found` (optional) gets the number of
    // pixels newly set.
    bool DetectV20(const uint16_t* image, int width, int height, uint8_t* map, int* found = nullptr) const;

private:
    int m_bright = 50;
    int m_dark = 50;
    Params m_params;
};
