#include "SimTruth.h"

#include "VirtualCamera.h"

#include <cstdio>
#include <fstream>

namespace irsim {

bool writeTruthFile(VirtualCamera& camera, const std::string& path, std::string* error)
{
    FrameStreamer* stream = camera.stream();
    if (!stream) {
        *error = "the camera is not running";
        return false;
    }
    const std::vector<float> gains = stream->pixelGains();
    const std::vector<float> offsets = stream->pixelOffsets();
    const Identity id = camera.core().identity();
    const int w = id.width, rows = id.height - 2;
    if (w <= 0 || rows <= 0 || gains.size() != size_t(w) * size_t(rows) || offsets.size() != gains.size()) {
        *error = "no picture to describe";
        return false;
    }
    const std::string tmp = path + ".part";
    {
        std::ofstream out(tmp, std::ios::trunc);
        if (!out) {
            *error = "cannot write " + tmp;
            return false;
        }
        out << "size " << w << " " << rows << "\n";
        out << "noise " << camera.options().stream.scene.noiseCounts << "\n";
        const struct {
            const char* name;
            std::vector<std::pair<int, int>> list;
        } kinds[3] = {{"dead", stream->deadPixels()}, {"hot", stream->hotPixels()}, {"noisy", stream->noisyPixels()}};
        for (const auto& k : kinds)
            for (const auto& p : k.list)
                out << k.name << " " << p.first << " " << p.second << "\n";
        for (const auto* table : {&gains, &offsets}) {
            for (int y = 0; y < rows; ++y) {
                out << (table == &gains ? "gain " : "offset ") << y;
                for (int x = 0; x < w; ++x)
                    out << " " << (*table)[size_t(y) * size_t(w) + size_t(x)];
                out << "\n";
            }
        }
        out.flush();
        if (!out) {
            *error = "cannot write " + tmp + " (disk full?)";
            std::remove(tmp.c_str());
            return false;
        }
    }
    if (std::rename(tmp.c_str(), path.c_str()) != 0) {
        *error = "cannot rename " + tmp + " to " + path;
        std::remove(tmp.c_str());
        return false;
    }
    return true;
}

} // namespace irsim
