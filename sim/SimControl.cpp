#include "SimControl.h"

#include "Faults.h"
#include "SimTruth.h"
#include "VirtualCamera.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <sstream>
#include <vector>

namespace irsim {

namespace {

const char* kHelpLine =
    "ok commands: scene-temp C (-40..150), flat on|off, fpa C (-40..150), fpa-ramp C (-60..60 per minute), fpa-to C RATE, "
    "fault RULE, fault clear, baud N (0: no limit), block-ms MS, uniform on|off, lid C (0..4000), geometry WxH|off, shutter, flash ADDR LEN (1..4096), reg ADDR, "
    "truth FILE, status, help, quit";

// An address or length as hex (0x...) or decimal, whole and within 0..max.
bool parseWord(const std::string& text, uint64_t max, uint32_t* out)
{
    if (text.empty() || text[0] == '-' || text[0] == '+')
        return false;
    char* end = nullptr;
    errno = 0;
    const unsigned long long v = std::strtoull(text.c_str(), &end, 0);
    if (errno != 0 || *end != '\0' || v > max)
        return false;
    *out = uint32_t(v);
    return true;
}

std::string hexOf(const std::vector<uint8_t>& bytes)
{
    static const char* digits = "0123456789abcdef";
    std::string out;
    out.reserve(bytes.size() * 2);
    for (uint8_t b : bytes) {
        out += digits[b >> 4];
        out += digits[b & 0x0F];
    }
    return out;
}

std::string fixed(double v, int decimals)
{
    char buf[64];
    std::snprintf(buf, sizeof buf, "%.*f", decimals, v);
    return buf;
}

} // namespace

bool parseNumber(const std::string& text, double lo, double hi, double* out)
{
    if (text.empty())
        return false;
    char* end = nullptr;
    const double v = std::strtod(text.c_str(), &end);
    if (*end != '\0' || !(v >= lo && v <= hi))
        return false;
    *out = v;
    return true;
}

bool SimControl::run(const std::string& rawLine, std::string* reply)
{
    std::string line = rawLine;
    while (!line.empty() && (line.back() == '\r' || line.back() == '\n'))
        line.pop_back();
    std::istringstream in(line);
    std::vector<std::string> words;
    for (std::string w; in >> w;)
        words.push_back(w);
    if (words.empty() || words[0][0] == '#')
        return false;

    const std::string& cmd = words[0];
    FrameStreamer* stream = m_camera.stream();
    auto error = [reply](const std::string& why) {
        *reply = "error: " + why;
        return true;
    };
    auto ok = [reply](const std::string& extra = std::string()) {
        *reply = extra.empty() ? "ok" : "ok " + extra;
        return true;
    };
    auto needStream = [&]() { return stream != nullptr; };

    if (cmd == "quit") {
        if (words.size() != 1)
            return error("quit takes no argument");
        m_quit = true;
        return ok();
    }
    if (cmd == "help") {
        *reply = kHelpLine;
        return true;
    }
    if (cmd == "scene-temp" || cmd == "fpa" || cmd == "fpa-ramp") {
        const bool ramp = cmd == "fpa-ramp";
        double v = 0;
        if (words.size() != 2 || !parseNumber(words[1], ramp ? -60.0 : -40.0, ramp ? 60.0 : 150.0, &v))
            return error(cmd + (ramp ? " needs degrees per minute -60..60" : " needs degrees -40..150"));
        if (!needStream())
            return error("the camera is not running");
        if (cmd == "scene-temp")
            stream->setSceneTemp(v);
        else if (cmd == "fpa")
            stream->holdFpa(v);
        else
            stream->rampFpa(v);
        return ok();
    }
    if (cmd == "fpa-to") {
        double target = 0, rate = 0;
        if (words.size() != 3 || !parseNumber(words[1], -40.0, 150.0, &target) || !parseNumber(words[2], 0.0, 600.0, &rate))
            return error("fpa-to needs degrees -40..150 and degrees per minute 0..600");
        if (!needStream())
            return error("the camera is not running");
        stream->rampFpaTo(target, rate);
        return ok();
    }
    if (cmd == "flat") {
        if (words.size() != 2 || (words[1] != "on" && words[1] != "off"))
            return error("flat needs on or off");
        if (!needStream())
            return error("the camera is not running");
        stream->setFlatField(words[1] == "on");
        return ok();
    }
    if (cmd == "uniform") {
        if (words.size() != 2 || (words[1] != "on" && words[1] != "off"))
            return error("uniform needs on or off");
        if (!needStream())
            return error("the camera is not running");
        stream->setUniform(words[1] == "on");
        return ok();
    }
    if (cmd == "lid") {
        double v = 0;
        if (words.size() != 2 || !parseNumber(words[1], 0, 4000, &v))
            return error("lid needs the counts at the corners 0..4000");
        if (!needStream())
            return error("the camera is not running");
        stream->setLidCounts(v);
        return ok();
    }
    if (cmd == "geometry") {
        int w = 0, h = 0;
        char tail = 0;
        if (words.size() != 2
            || (words[1] != "off"
                && (std::sscanf(words[1].c_str(), "%dx%d%c", &w, &h, &tail) != 2 || w < 64 || h < 16 || w > 1280
                    || h > 1024)))
            return error("geometry needs WxH (64..1280 x 16..1024, info rows included) or off");
        if (!needStream())
            return error("the camera is not running");
        stream->setGeometry(w, h);
        return ok();
    }
    if (cmd == "shutter") {
        if (!needStream())
            return error("the camera is not running");
        stream->onRegisterWrite(false, FrameStreamer::kShutterCorrect, 0);
        return ok();
    }
    if (cmd == "fault") {
        if (words.size() == 2 && words[1] == "clear") {
            m_camera.faults().clear();
            return ok();
        }
        if (words.size() != 2)
            return error("fault needs one RULE (KIND[=N][@TARGET][#N|*N|>N]) or clear");
        FaultRule rule;
        std::string why;
        if (!FaultRule::parse(words[1], &rule, &why))
            return error(why);
        m_camera.faults().add(rule);
        return ok(rule.toString());
    }
    if (cmd == "baud" || cmd == "block-ms") {
        const bool baud = cmd == "baud";
        double v = 0;
        if (words.size() != 2 || !parseNumber(words[1], 0, baud ? 12000000.0 : 600000.0, &v) || v != double(long(v)))
            return error(cmd + (baud ? " needs a rate 0..12000000" : " needs milliseconds 0..600000"));
        if (baud)
            m_camera.setBaud(int(v));
        else
            m_camera.setBlockProgramMs(int(v));
        return ok();
    }
    if (cmd == "flash") {
        uint32_t address = 0, len = 0;
        if (words.size() != 3 || !parseWord(words[1], 0xFFFFFFFFull, &address)
            || !parseWord(words[2], kMaxFlashRead, &len) || len == 0)
            return error("flash needs an address and a length 1.." + std::to_string(kMaxFlashRead));
        if (!FlashModel::inRange(address, len))
            return error("flash range leaves the device");
        return ok(hexOf(m_camera.core().readFlash(address, len)));
    }
    if (cmd == "reg") {
        uint32_t address = 0;
        if (words.size() != 2 || !parseWord(words[1], 0xFFFFFFFFull, &address))
            return error("reg needs a register address (e.g. 0xF027)");
        char text[16];
        std::snprintf(text, sizeof text, "0x%08x", unsigned(m_camera.core().longRegister(address)));
        return ok(text);
    }
    if (cmd == "truth") {
        std::string why;
        if (words.size() != 2)
            return error("truth needs a FILE");
        return writeTruthFile(m_camera, words[1], &why) ? ok() : error(why);
    }
    if (cmd == "status") {
        if (!needStream())
            return error("the camera is not running");
        return ok("scene-temp " + fixed(stream->sceneTemp(), 2) + " flat " + (stream->flatField() ? "on" : "off")
                  + " fpa " + fixed(stream->currentFpa(), 2) + " fpa-ramp " + fixed(stream->fpaRamp(), 2) + " faults "
                  + std::to_string(m_camera.faults().list().size()) + " packets "
                  + std::to_string(stream->packetsSent()) + " baud " + std::to_string(m_camera.baud())
                  + " block-ms " + std::to_string(m_camera.blockProgramMs()) + " serial-in "
                  + std::to_string(m_camera.serialBytesFromHost()) + " serial-out "
                  + std::to_string(m_camera.serialBytesToHost()) + " blocks "
                  + std::to_string(m_camera.dataBlocksProgrammed()));
    }
    return error("unknown command \"" + cmd + "\" (try help)");
}

} // namespace irsim
