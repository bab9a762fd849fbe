// The drift sweep's sample folder and the stabilisation record come from disk and may
// be cut short or hold anything: arbitrary "tfpa.bin", sample files of any length and
// an arbitrary background_info.dat go through the fit and the record.
#include "StableFpaData.h"
#include "TempDriftData.h"

#include <QByteArray>
#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include <cstddef>
#include <cstdint>
#include <algorithm>

namespace {

void put(const QString& path, const uint8_t* data, size_t n)
{
    QFile f(path);
    if (f.open(QIODevice::WriteOnly | QIODevice::Truncate))
        f.write(reinterpret_cast<const char*>(data), qint64(n));
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    static QTemporaryDir dir;
    if (size < 4 || !dir.isValid())
        return 0;
    const int type = data[0] & 1 ? 3 : 1;
    const int samples = 1 + data[1] % 8;
    const int height = data[2] & 1 ? 6 : 4; // with or without the two info rows
    const size_t tfpa = std::min<size_t>(size - 3, size_t(data[3]) % 40);
    const uint8_t* rest = data + 4;
    size_t left = size - 4;
    QDir(dir.path()).removeRecursively();
    QDir().mkpath(dir.path() + "/data");
    const QString samplesDir = dir.path() + "/data";
    put(tempdrift::temperatureFile(samplesDir), rest, std::min(tfpa, left));
    rest += std::min(tfpa, left);
    left -= std::min(tfpa, left);
    for (int i = 1; i <= samples && left > 0; ++i) {
        // Most files whole (8 x 4 pixels), some cut short or too long.
        const size_t n = std::min<size_t>(left, (i % 3) ? 64 : 1 + rest[0] % 100);
        put(tempdrift::sampleFile(samplesDir, i), rest, n);
        rest += n;
        left -= n;
    }
    tempdrift::fitSamples(samplesDir, dir.path() + "/ret", type, 8, height);
    const QString info = dir.path() + "/background_info.dat";
    put(info, rest, left);
    stablefpa::recordCollection(info, int(data[2] >> 1) % 48, double(int8_t(data[3])) / 3.0, data[1]);
    return 0;
}
