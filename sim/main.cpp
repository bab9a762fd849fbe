// irbench-sim: the virtual camera as a program of its own.
#include "Faults.h"
#include "Presets.h"
#include "SimControl.h"
#include "VirtualCamera.h"

#include <cerrno>
#include <csignal>
#include <pthread.h>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <string>
#include <thread>
#include <unistd.h>
#include <vector>

namespace {

const char* kUsage =
    "usage: irbench-sim [--host H] [--port N] [--user U] [--password P] [--serial]\n"
    "                   [--no-network] [--preset NAME] [--fault RULE]... [--long-delay MS]\n"
    "                   [--completion-delay MS] [--time-scale X] [--fps N] [--no-crc]\n"
    "                   [--stream-fault KIND[=N]]... [--scene-temp C] [--flat] [--noisy-pixels N]\n"
    "                   [--fpa C] [--fpa-ramp C] [--baud N] [--block-ms MS] [--seed S]\n"
    "                   [--list-presets] [--help]\n";

const char* kHelp =
    "\n"
    "A virtual thermal-camera core. It answers register and block commands like a real\n"
    "core over the devnet TCP server (default 127.0.0.1:8000, user admin, password admin)\n"
    "and, with --serial, over a pseudo-terminal whose path is the first line of output.\n"
    "\n"
    "  --host H              address to listen on (default 127.0.0.1)\n"
    "  --port N              TCP port, 0 picks a free one (default 8000)\n"
    "  --user U, --password P  credentials clients must log in with (default admin/admin)\n"
    "  --serial              also serve a pseudo-terminal serial port\n"
    "  --no-network          no TCP server (needs --serial)\n"
    "  --preset NAME         identity of the core (default \"default\"; see --list-presets)\n"
    "  --long-delay MS       acknowledgement delay of 0xF021/0xF029 (default 3000)\n"
    "  --completion-delay MS completion reply of 0xF023 = 1..6, 0xF026 and 0xF03D = 0xD3\n"
    "                        (default 1500, -1 none)\n"
    "  --time-scale X        multiply every simulated delay by X (default 1)\n"
    "  --baud N              the core's serial line runs at N baud, 8N1 (10 bits a byte), both\n"
    "                        ways, on the serial front and behind the network front's serial\n"
    "                        channel (default 0: no line limit); times --time-scale\n"
    "  --block-ms MS         the core programs each 0xEE data block for MS before it\n"
    "                        acknowledges it (default 0)\n"
    "  --seed S              seed of the faults' random choices (default 1)\n"
    "  --fault RULE          inject a fault; repeatable. RULE is KIND[=N][@TARGET][#N|*N|>N|%P]:\n"
    "      KIND    noreply | zero | delay=MS | split[=PAUSE_MS] | drop | garbage[=COUNT]\n"
    "              | flip (one payload bit, checksum as it was) | badsum (checksum off by one)\n"
    "              | badend (terminator not 0xFF) | echo (wrong address / command byte)\n"
    "              | noise[=COUNT] (COUNT random bytes before the reply, default 4, max 64)\n"
    "      TARGET  0xF0E0 (32-bit register) | short:0x84 | block:0xEE | block (any block)\n"
    "      #N only the Nth matching request, *N the first N, >N every one after the Nth,\n"
    "      %P each one with probability P percent (see --seed)\n"
    "      e.g. noreply, zero@0xF0E0, delay=500@block:0xEE, split, drop@block:0xEE#3, garbage,\n"
    "      flip@block:0xEA%5\n"
    "\n"
    "Live stream (to every client that starts one):\n"
    "  --fps N               frames per second, 1..200 (default 25)\n"
    "  --no-crc              packets without the CRC tag\n"
    "  --stream-fault K[=N]  every Nth packet (default 10): crc (wrong CRC), garbage (noise\n"
    "                        after the packet) or truncate (last quarter missing); repeatable\n"
    "  --scene-temp C        blackbody temperature in the picture (default 45)\n"
    "  --flat                the blackbody fills the whole view (two-point correction)\n"
    "  --noisy-pixels N      working pixels with a large temporal noise, 0..64 (default 4)\n"
    "  --fpa C               focal-plane temperature at start (default 30)\n"
    "  --fpa-ramp C          FPA drift in degrees per minute (default 0: held)\n"
    "\n"
    "Control: one command a line on stdin, each answered with one line on stdout, \"ok\"\n"
    "or \"error: ...\":\n"
    "  scene-temp C          blackbody temperature from the next frame\n"
    "  flat on|off           blackbody over the whole view, or the ordinary scene\n"
    "  fpa C                 hold the FPA at C\n"
    "  fpa-ramp C            let the FPA drift C degrees per minute from where it is\n"
    "  fpa-to C RATE         ramp the FPA to C at RATE degrees per nominal minute, then hold it there\n"
    "  fault RULE            add a fault (grammar as --fault); fault clear removes all\n"
    "  baud N                line speed from now on (0: no limit)\n"
    "  block-ms MS           flash time of each 0xEE data block from now on\n"
    "  shutter               shutter correction (as register 0x7003 = 0)\n"
    "  flash ADDR LEN        \"ok\" and LEN (1..4096) flash bytes at ADDR in hex\n"
    "  reg ADDR              \"ok\" and the 32-bit register as 0x%08x\n"
    "  status                \"ok\" and the scene values; help lists the commands\n"
    "  quit                  stop the camera and exit 0\n"
    "\n"
    "Runs until SIGINT, SIGTERM or quit; the end of stdin only ends the control input.\n";

// The control reader outlives main's locals when it is blocked in read() at exit, so
// what it shares with main lives here.
std::mutex g_controlLock;
bool g_stopping = false;

void runControl(irsim::VirtualCamera* camera)
{
    irsim::SimControl control(*camera);
    constexpr size_t kMaxLine = 4096;
    std::string line;
    bool overlong = false;
    char buf[1024];
    for (;;) {
        const ssize_t n = ::read(0, buf, sizeof buf);
        if (n == 0)
            return; // stdin closed: the camera goes on serving
        if (n < 0) {
            if (errno == EINTR)
                continue;
            return;
        }
        for (ssize_t i = 0; i < n; ++i) {
            if (buf[i] != '\n') {
                if (line.size() < kMaxLine)
                    line += buf[i];
                else
                    overlong = true;
                continue;
            }
            std::string reply;
            bool answer = false;
            {
                std::lock_guard<std::mutex> lock(g_controlLock);
                if (g_stopping)
                    return;
                if (overlong) {
                    reply = "error: line longer than 4096 bytes";
                    answer = true;
                } else {
                    answer = control.run(line, &reply);
                }
            }
            line.clear();
            overlong = false;
            if (answer) {
                std::printf("%s\n", reply.c_str());
                std::fflush(stdout);
            }
            if (control.quitRequested()) {
                ::kill(::getpid(), SIGTERM);
                return;
            }
        }
    }
}

int usageError(const std::string& message)
{
    std::fprintf(stderr, "irbench-sim: %s\n%s", message.c_str(), kUsage);
    return 2;
}

bool parseInt(const std::string& text, long lo, long hi, long* out)
{
    if (text.empty())
        return false;
    errno = 0;
    char* end = nullptr;
    const long v = std::strtol(text.c_str(), &end, 10);
    if (errno != 0 || *end != '\0' || v < lo || v > hi)
        return false;
    *out = v;
    return true;
}

} // namespace

int main(int argc, char** argv)
{
    irsim::CameraOptions options;
    std::vector<irsim::FaultRule> faults;

    std::vector<std::string> args(argv + 1, argv + argc);
    for (size_t i = 0; i < args.size(); ++i) {
        std::string arg = args[i];
        std::string value;
        bool hasInlineValue = false;
        if (arg.rfind("--", 0) == 0) {
            const size_t eq = arg.find('=');
            if (eq != std::string::npos) {
                value = arg.substr(eq + 1);
                arg.erase(eq);
                hasInlineValue = true;
            }
        }
        auto needValue = [&](std::string* out) {
            if (hasInlineValue) {
                *out = value;
                return true;
            }
            if (i + 1 >= args.size())
                return false;
            *out = args[++i];
            return true;
        };
        auto flagOnly = [&]() { return !hasInlineValue; };
        long n = 0;
        std::string v;
        if (arg == "--help" || arg == "-h") {
            std::printf("%s%s", kUsage, kHelp);
            return 0;
        } else if (arg == "--list-presets") {
            std::printf("%s", irsim::presetListing().c_str());
            return 0;
        } else if (arg == "--serial" && flagOnly()) {
            options.serial = true;
        } else if (arg == "--no-network" && flagOnly()) {
            options.network = false;
        } else if (arg == "--host") {
            if (!needValue(&v) || v.empty())
                return usageError("--host needs an address");
            options.net.host = v;
        } else if (arg == "--port") {
            if (!needValue(&v) || !parseInt(v, 0, 65535, &n))
                return usageError("--port needs a number 0..65535");
            options.net.port = uint16_t(n);
        } else if (arg == "--user") {
            if (!needValue(&v))
                return usageError("--user needs a name");
            options.net.user = v;
        } else if (arg == "--password") {
            if (!needValue(&v))
                return usageError("--password needs a value");
            options.net.password = v;
        } else if (arg == "--preset") {
            if (!needValue(&v))
                return usageError("--preset needs a name");
            if (!irsim::findPreset(v))
                return usageError("unknown preset \"" + v + "\" (see --list-presets)");
            options.preset = v;
        } else if (arg == "--fault") {
            irsim::FaultRule rule;
            std::string error;
            if (!needValue(&v))
                return usageError("--fault needs a RULE");
            if (!irsim::FaultRule::parse(v, &rule, &error))
                return usageError(error);
            faults.push_back(rule);
        } else if (arg == "--long-delay") {
            if (!needValue(&v) || !parseInt(v, 0, 600000, &n))
                return usageError("--long-delay needs milliseconds 0..600000");
            options.longCommandDelayMs = int(n);
        } else if (arg == "--completion-delay") {
            if (!needValue(&v) || !parseInt(v, -1, 600000, &n))
                return usageError("--completion-delay needs milliseconds -1..600000");
            options.completionDelayMs = int(n);
        } else if (arg == "--baud") {
            if (!needValue(&v) || !parseInt(v, 0, 12000000, &n))
                return usageError("--baud needs a rate 0..12000000");
            options.baud = int(n);
        } else if (arg == "--block-ms") {
            if (!needValue(&v) || !parseInt(v, 0, 600000, &n))
                return usageError("--block-ms needs milliseconds 0..600000");
            options.blockProgramMs = int(n);
        } else if (arg == "--seed") {
            if (!needValue(&v) || !parseInt(v, 0, 4294967295L, &n))
                return usageError("--seed needs a number 0..4294967295");
            options.seed = uint32_t(n);
        } else if (arg == "--time-scale") {
            char* end = nullptr;
            if (!needValue(&v) || v.empty())
                return usageError("--time-scale needs a number");
            const double x = std::strtod(v.c_str(), &end);
            if (*end != '\0' || !(x >= 0.0) || x > 1000.0)
                return usageError("--time-scale needs a number 0..1000");
            options.timeScale = x;
        } else if (arg == "--fps") {
            if (!needValue(&v) || !parseInt(v, 1, 200, &n))
                return usageError("--fps needs a number 1..200");
            options.stream.frameRate = double(n);
        } else if (arg == "--flat" && flagOnly()) {
            options.stream.scene.flatField = true;
        } else if (arg == "--noisy-pixels") {
            if (!needValue(&v) || !parseInt(v, 0, 64, &n))
                return usageError("--noisy-pixels needs a number 0..64");
            options.stream.scene.noisyPixels = int(n);
        } else if (arg == "--no-crc" && flagOnly()) {
            options.stream.withCrc = false;
        } else if (arg == "--stream-fault") {
            if (!needValue(&v))
                return usageError("--stream-fault needs crc, garbage or truncate");
            const size_t eq = v.find('=');
            const std::string kind = v.substr(0, eq);
            long every = 10;
            if (eq != std::string::npos && !parseInt(v.substr(eq + 1), 1, 1000000, &every))
                return usageError("--stream-fault " + kind + "=N needs N 1..1000000");
            if (kind == "crc")
                options.stream.corruptCrcEvery = int(every);
            else if (kind == "garbage")
                options.stream.garbageEvery = int(every);
            else if (kind == "truncate")
                options.stream.truncateEvery = int(every);
            else
                return usageError("unknown stream fault \"" + kind + "\" (crc, garbage, truncate)");
        } else if (arg == "--scene-temp" || arg == "--fpa" || arg == "--fpa-ramp") {
            double x = 0;
            const bool ramp = arg == "--fpa-ramp";
            if (!needValue(&v) || !irsim::parseNumber(v, ramp ? -60.0 : -40.0, ramp ? 60.0 : 150.0, &x))
                return usageError(arg + (ramp ? " needs degrees per minute -60..60" : " needs degrees -40..150"));
            if (arg == "--scene-temp")
                options.stream.scene.sceneTempC = x;
            else if (arg == "--fpa")
                options.stream.scene.fpaTempC = x;
            else
                options.stream.scene.fpaRampCPerMin = x;
        } else {
            return usageError("unknown argument \"" + args[i] + "\"");
        }
    }
    if (!options.network && !options.serial)
        return usageError("--no-network needs --serial");

    // SIGINT and SIGTERM are taken with sigwait below; block them before any thread
    // starts so that every thread inherits the mask.
    std::signal(SIGPIPE, SIG_IGN);
    sigset_t stopSignals;
    sigemptyset(&stopSignals);
    sigaddset(&stopSignals, SIGINT);
    sigaddset(&stopSignals, SIGTERM);
    pthread_sigmask(SIG_BLOCK, &stopSignals, nullptr);

    irsim::VirtualCamera camera(options);
    for (const irsim::FaultRule& rule : faults)
        camera.faults().add(rule);
    std::string error;
    if (!camera.start(&error)) {
        std::fprintf(stderr, "irbench-sim: cannot start: %s\n", error.c_str());
        return 1;
    }

    if (options.serial) {
        std::printf("%s\n", camera.ptyPath().c_str());
        std::fflush(stdout);
    }
    if (options.network)
        std::printf("irbench-sim: listening on %s:%u (user %s, password %s), preset %s\n",
                    options.net.host.c_str(), unsigned(camera.port()), options.net.user.c_str(),
                    options.net.password.c_str(), options.preset.c_str());
    else
        std::printf("irbench-sim: serial on %s, preset %s\n", camera.ptyPath().c_str(), options.preset.c_str());
    for (const irsim::FaultRule& rule : faults)
        std::printf("irbench-sim: fault %s\n", rule.toString().c_str());
    if (options.network)
        std::printf("irbench-sim: stream %g fps%s%s%s%s\n", options.stream.frameRate,
                    options.stream.withCrc ? "" : ", no CRC",
                    options.stream.corruptCrcEvery ? ", corrupt CRC" : "",
                    options.stream.garbageEvery ? ", garbage" : "",
                    options.stream.truncateEvery ? ", truncated packets" : "");
    std::fflush(stdout);

    std::thread(runControl, &camera).detach();

    int sig = 0;
    while (sigwait(&stopSignals, &sig) != 0) {
    }
    {
        std::lock_guard<std::mutex> lock(g_controlLock);
        g_stopping = true;
    }
    camera.stop();
    return 0;
}
