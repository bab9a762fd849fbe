// Any text as a limits file: parsed or refused, never a crash; a parsed one prints and
// parses back to itself, and a refused one leaves the limits as they were.
#include "QualityFigures.h"

#include <cstdint>
#include <cstdlib>
#include <string>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const std::string text(reinterpret_cast<const char*>(data), size);
    QualityLimits l;
    const std::string before = qualityLimitsText(l);
    int line = 0;
    std::string why;
    if (!parseQualityLimits(text, &l, &line, &why)) {
        if (qualityLimitsText(l) != before || why.empty())
            std::abort();
        return 0;
    }
    QualityLimits back;
    if (!parseQualityLimits(qualityLimitsText(l), &back, nullptr, nullptr))
        std::abort();
    return 0;
}
