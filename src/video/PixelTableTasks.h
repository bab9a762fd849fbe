#pragma once

#include "CPixelDetector.h"
#include "TransferContext.h"

#include <QByteArray>
#include <QString>

#include <cstdint>
#include <vector>

class CFindFrame;

// The video page's bad-pixel table work as blocking sequences: one frame from the
// stream, the two automatic detectors, the table built from the mark list, and the
// table file itself ("<core>/Pixel/FinalPixel.bin", 4-byte records). Run them off the
// GUI thread; they touch no widget and word every failure through the context. The
// detectors read the core's own table first, so the table they leave holds what the
// core already corrects plus what was found.
namespace PixelTableTasks {

using Point = CPixelDetector::Point;

// The detector list of the page: index 1 is "工具V10", anything else "工具V20".
enum class Solution { V20, V10 };
Solution solutionFromIndex(int nIndex);

// One image of the stream (image rows only, row-major).
struct Image {
    std::vector<uint16_t> pixels;
    int width = 0;
    int height = 0;
};

// Empty when a frame of this size can be turned into a table; else the refusal
// shown to the operator (the record holds 12-bit coordinates and the detector's
// buffers 2,764,800 pixels).
QString unsupportedSizeText(int width, int height);

// Captures the next frame of the stream, gives the stream a second, and takes the
// captured image. False (reported) when no frame arrives or the size is refused.
bool captureImage(TransferContext& ctx, CFindFrame* frames, Image* image);

// Automatic detection on `image` with the chosen detector; the table it leaves holds
// the core's own table (read back into the table file first) plus what was found.
// V10 (local mean): the marks join the found pixels; `added` gets the found pixels
// that were not marked yet, in scan order, as soon as the detection has run (also
// when a later step fails). V20 (local median): the core's table seeds the bad map
// and the marks are not used; `added` stays empty. `found` gets the number of pixels
// the detection added. Both outputs may be null.
bool autoDetect(TransferContext& ctx, Solution solution, const CPixelDetector& detector, const Image& image,
                const std::vector<Point>& marks, const QString& sensorId, std::vector<Point>* added = nullptr,
                int* found = nullptr);

// The marks merged into the local table ("FinalPixel.bin", else "FinalPixel.bak");
// without either the operator is told to run a detection first and nothing is written.
bool createTable(TransferContext& ctx, const std::vector<Point>& marks, int width, int height,
                 const QString& sensorId);

// At most `maxBytes` of a table file; false when it cannot be opened or read.
bool readTableFile(const QString& path, qint64 maxBytes, QByteArray* data);
// Replaces the file only once every byte is on disk.
bool writeTableFile(const QString& path, const std::vector<uint8_t>& records);

} // namespace PixelTableTasks
