// Bad-pixel table files come from disk and from the core: arbitrary bytes go through
// the decoder and the merge, for each frame size the cores have.
#include "CPixelDetector.h"

#include <cstddef>
#include <cstdint>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    if (size < 2)
        return 0;
    static const int sizes[3][2] = {{160, 120}, {384, 288}, {640, 512}};
    const int w = sizes[data[0] % 3][0];
    const int h = sizes[data[0] % 3][1];
    const size_t cut = size > 2 ? 2 + data[1] % (size - 1) : 2;
    const uint8_t* body = data + 2;
    const size_t first = cut - 2;
    const size_t second = size - cut;

    std::vector<uint8_t> map(size_t(w) * size_t(h), 0);
    CPixelDetector::TableStats stats;
    CPixelDetector::DecodeTable(body, first, w, h, map.data(), &stats);

    std::vector<uint8_t> merged;
    CPixelDetector::MergeTables({{body, first}, {data + cut, second}}, w, h, &merged, &stats);
    // What the merge writes must decode again without surprises.
    std::vector<uint8_t> again(size_t(w) * size_t(h), 0);
    CPixelDetector::DecodeTable(merged.data(), merged.size(), w, h, again.data(), &stats);
    return 0;
}
