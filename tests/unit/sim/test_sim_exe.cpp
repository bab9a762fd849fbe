// The irbench-sim program as scripts and CI start it.
#include "SimTestUtil.h"

#include <gtest/gtest.h>

#include <csignal>
#include <fcntl.h>
#include <poll.h>
#include <spawn.h>
#include <string>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

extern char** environ;

using namespace simtest;

namespace {

struct Child {
    pid_t pid = -1;
    int out = -1; // the child's stdout
    int err = -1; // the child's stderr

    explicit Child(std::vector<std::string> args)
    {
        int o[2], e[2];
        if (::pipe(o) != 0 || ::pipe(e) != 0)
            return;
        posix_spawn_file_actions_t fa;
        posix_spawn_file_actions_init(&fa);
        posix_spawn_file_actions_adddup2(&fa, o[1], 1);
        posix_spawn_file_actions_adddup2(&fa, e[1], 2);
        posix_spawn_file_actions_addclose(&fa, o[0]);
        posix_spawn_file_actions_addclose(&fa, e[0]);
        args.insert(args.begin(), IRBENCH_SIM_PATH);
        std::vector<char*> argv;
        for (std::string& a : args)
            argv.push_back(&a[0]);
        argv.push_back(nullptr);
        if (posix_spawn(&pid, IRBENCH_SIM_PATH, &fa, nullptr, argv.data(), environ) != 0)
            pid = -1;
        posix_spawn_file_actions_destroy(&fa);
        ::close(o[1]);
        ::close(e[1]);
        out = o[0];
        err = e[0];
    }
    ~Child()
    {
        if (pid > 0) {
            ::kill(pid, SIGKILL);
            ::waitpid(pid, nullptr, 0);
        }
        ::close(out);
        ::close(err);
    }
    // One line of stdout (without the newline), waiting at most timeoutMs.
    std::string line(int timeoutMs = 5000)
    {
        std::string text;
        char c;
        for (int waited = 0; waited < timeoutMs;) {
            pollfd p{out, POLLIN, 0};
            if (::poll(&p, 1, 20) <= 0) {
                waited += 20;
                continue;
            }
            if (::read(out, &c, 1) != 1 || c == '\n')
                break;
            text += c;
        }
        return text;
    }
    std::string errText()
    {
        std::string text;
        char buf[256];
        ssize_t n;
        while ((n = ::read(err, buf, sizeof buf)) > 0)
            text.append(buf, size_t(n));
        return text;
    }
    // Exit status, or -1 when it did not end in time.
    int wait(int timeoutMs = 5000)
    {
        const int pidfd = int(::syscall(SYS_pidfd_open, pid, 0));
        if (pidfd >= 0) {
            pollfd p{pidfd, POLLIN, 0};
            ::poll(&p, 1, timeoutMs);
            ::close(pidfd);
        }
        int status = 0;
        if (::waitpid(pid, &status, WNOHANG) != pid)
            return -1;
        pid = -1;
        return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    }
};

} // namespace

TEST(SimProgram, SerialPathFirstThenServesUntilTerminated)
{
    Child sim({"--serial", "--port", "0", "--preset", "type4", "--time-scale", "0.01"});
    ASSERT_GT(sim.pid, 0);
    const std::string path = sim.line();
    ASSERT_EQ(path.rfind("/dev/pts/", 0), 0u) << path;
    const std::string banner = sim.line();
    EXPECT_EQ(banner.rfind("irbench-sim: listening on 127.0.0.1:", 0), 0u) << banner;
    EXPECT_NE(banner.find("preset type4"), std::string::npos);

    const int fd = ::open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK);
    ASSERT_GE(fd, 0);
    termios tio;
    ::tcgetattr(fd, &tio);
    ::cfmakeraw(&tio);
    ::tcsetattr(fd, TCSANOW, &tio);
    const Bytes req = longRead(0xF0E3);
    ASSERT_EQ(::write(fd, req.data(), req.size()), ssize_t(req.size()));
    uint8_t buf[32];
    size_t got = 0;
    for (int i = 0; i < 200 && got < 11; ++i) {
        pollfd p{fd, POLLIN, 0};
        if (::poll(&p, 1, 10) > 0) {
            const ssize_t n = ::read(fd, buf + got, sizeof buf - got);
            if (n > 0)
                got += size_t(n);
        }
    }
    ::close(fd);
    ASSERT_EQ(got, 11u);
    EXPECT_EQ(valueOf(Bytes(buf, buf + 11)), 0x495242u);

    ::kill(sim.pid, SIGTERM);
    EXPECT_EQ(sim.wait(), 0);
}

TEST(SimProgram, BadArgumentsAndBusyPort)
{
    for (std::vector<std::string> args : {std::vector<std::string>{"--port", "70000"},
                                          std::vector<std::string>{"--fault", "explode"},
                                          std::vector<std::string>{"--preset", "nope"},
                                          std::vector<std::string>{"--no-network"},
                                          std::vector<std::string>{"--baud", "fast"},
                                          std::vector<std::string>{"--frobnicate"}}) {
        Child bad(args);
        EXPECT_EQ(bad.wait(), 2) << args[0];
        EXPECT_NE(bad.errText().find("usage:"), std::string::npos) << args[0];
    }

    Child first({"--port", "0"});
    const std::string banner = first.line();
    const size_t colon = banner.rfind(':', banner.find(" ("));
    ASSERT_NE(colon, std::string::npos) << banner;
    const std::string port = banner.substr(colon + 1, banner.find(' ', colon) - colon - 1);
    Child second({"--port", port});
    EXPECT_EQ(second.wait(), 1);
    EXPECT_NE(second.errText().find("in use"), std::string::npos);
    ::kill(first.pid, SIGINT);
    EXPECT_EQ(first.wait(), 0);
}
