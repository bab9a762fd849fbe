#pragma once

#include <string>

namespace irsim {

class VirtualCamera;

// A whole decimal number within lo..hi (command line and control lines alike).
bool parseNumber(const std::string& text, double lo, double hi, double* out);

// The control interface of a running camera, one command a line:
//   scene-temp C | flat on|off | fpa C | fpa-ramp C | fault RULE | fault clear |
//   baud N | block-ms MS | uniform on|off | lid C | geometry WxH|off | shutter | flash ADDR LEN | reg ADDR | status | help | quit
// Every command gets one line back: "ok" (or "ok " and the asked values) or
// "error: " and why. Blank lines and lines starting with '#' get no answer.
class SimControl {
public:
    // Most bytes one "flash" line shows (twice as many hex digits).
    static constexpr uint32_t kMaxFlashRead = 4096;

    explicit SimControl(VirtualCamera& camera) : m_camera(camera) {}

    // Runs one line; false when it is to be ignored. `reply` is the answer line
    // without its newline.
    bool run(const std::string& line, std::string* reply);
    bool quitRequested() const { return m_quit; }

private:
    VirtualCamera& m_camera;
    bool m_quit = false;
};

} // namespace irsim
