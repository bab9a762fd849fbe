#include "PtyFront.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

namespace irsim {

namespace {

// How often the reader thread wakes without input (see run()).
constexpr int kIdleWakeMs = 50;
// Longest a reply write waits for room in the terminal's input queue.
constexpr int kWriteBudgetMs = 500;

std::string errnoText(const char* what)
{
    return std::string(what) + ": " + std::strerror(errno);
}

void closeFd(int& fd)
{
    if (fd >= 0)
        ::close(fd);
    fd = -1;
}

} // namespace

class PtyFront::PtyPeer : public Peer {
public:
    explicit PtyPeer(PtyFront* front) : m_front(front) {}

    void sendChunk(const uint8_t* data, size_t len) override
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        if (!m_front || m_muted)
            return;
        PtyFront* front = m_front;
        front->m_line.toHost(data, len, [front](const uint8_t* d, size_t n) { front->writeOut(d, n); });
    }
    // A serial line cannot be hung up from the core's side; the core goes deaf and
    // mute instead until the host sends again.
    void dropConnection() override
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_muted = true;
    }
    bool alive() const override
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        return m_front != nullptr;
    }
    void onInput()
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_muted = false;
    }
    void detach()
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_front = nullptr;
    }

private:
    mutable std::mutex m_mutex;
    PtyFront* m_front;
    bool m_muted = false;
};

PtyFront::PtyFront() = default;

PtyFront::~PtyFront()
{
    stop();
}

void PtyFront::setDataHandler(DataHandler handler)
{
    m_handler = std::move(handler);
}

bool PtyFront::start(std::string* error)
{
    if (m_running)
        return true;
    auto fail = [&](const std::string& why) {
        if (error)
            *error = why;
        closeFd(m_slaveHold);
        closeFd(m_master);
        closeFd(m_wake[0]);
        closeFd(m_wake[1]);
        return false;
    };
    m_master = ::posix_openpt(O_RDWR | O_NOCTTY);
    if (m_master < 0)
        return fail(errnoText("posix_openpt"));
    if (::grantpt(m_master) != 0)
        return fail(errnoText("grantpt"));
    if (::unlockpt(m_master) != 0)
        return fail(errnoText("unlockpt"));
    char name[128];
    if (::ptsname_r(m_master, name, sizeof name) != 0)
        return fail(errnoText("ptsname"));
    m_slavePath = name;
    ::fcntl(m_master, F_SETFL, ::fcntl(m_master, F_GETFL) | O_NONBLOCK);
    ::fcntl(m_master, F_SETFD, FD_CLOEXEC);

    // Our own handle on the slave keeps the terminal (and its raw settings) alive
    // between clients, so the master never sees a hang-up.
    m_slaveHold = ::open(name, O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (m_slaveHold < 0)
        return fail(errnoText("open pty slave"));
    termios tio{};
    if (::tcgetattr(m_slaveHold, &tio) != 0)
        return fail(errnoText("tcgetattr"));
    ::cfmakeraw(&tio); // no echo, no CR/LF translation, 8 bits
    tio.c_cflag |= CLOCAL | CREAD;
    tio.c_cc[VMIN] = 0;
    tio.c_cc[VTIME] = 0;
    ::cfsetispeed(&tio, B115200);
    ::cfsetospeed(&tio, B115200);
    if (::tcsetattr(m_slaveHold, TCSANOW, &tio) != 0)
        return fail(errnoText("tcsetattr"));

    if (::pipe2(m_wake, O_CLOEXEC | O_NONBLOCK) != 0)
        return fail(errnoText("pipe"));

    m_peer = std::make_shared<PtyPeer>(this);
    m_running = true;
    m_thread = std::thread(&PtyFront::run, this);
    return true;
}

void PtyFront::stop()
{
    if (!m_running.exchange(false))
        return;
    if (m_peer)
        m_peer->detach();
    const char c = 'q';
    if (::write(m_wake[1], &c, 1) < 0) {
        // The reader also checks m_running at its next idle wake.
    }
    if (m_thread.joinable())
        m_thread.join();
    m_line.stop();
    std::lock_guard<std::mutex> lock(m_writeMutex);
    closeFd(m_slaveHold);
    closeFd(m_master);
    closeFd(m_wake[0]);
    closeFd(m_wake[1]);
}

bool PtyFront::running() const
{
    return m_running;
}

std::string PtyFront::slavePath() const
{
    return m_slavePath;
}

PeerPtr PtyFront::peer() const
{
    return m_peer;
}

void PtyFront::run()
{
    uint8_t buf[4096];
    while (m_running) {
        pollfd fds[2] = {{m_master, POLLIN, 0}, {m_wake[0], POLLIN, 0}};
        const int r = ::poll(fds, 2, kIdleWakeMs);
        // A client that set exclusive mode (TIOCEXCL) and closed would lock every
        // later client out, because the terminal outlives it; lift it again.
        ::ioctl(m_slaveHold, TIOCNXCL);
        if (r < 0) {
            if (errno == EINTR)
                continue;
            break;
        }
        if (fds[1].revents)
            break;
        if (fds[0].revents & POLLIN) {
            const ssize_t n = ::read(m_master, buf, sizeof buf);
            if (n > 0) {
                m_peer->onInput();
                if (m_handler) {
                    PeerPtr peer = m_peer;
                    m_line.toCore(buf, size_t(n),
                                  [this, peer](const uint8_t* d, size_t len) { m_handler(peer, d, len); });
                }
            }
            continue;
        }
        if (fds[0].revents & (POLLHUP | POLLERR)) {
            // Not expected while we hold the slave; wait on the wake pipe alone so a
            // lasting hang-up cannot turn this loop into a spin.
            pollfd wake{m_wake[0], POLLIN, 0};
            if (::poll(&wake, 1, kIdleWakeMs) > 0)
                break;
        }
    }
}

void PtyFront::writeOut(const uint8_t* data, size_t len)
{
    std::lock_guard<std::mutex> lock(m_writeMutex);
    size_t done = 0;
    int waitedMs = 0;
    while (done < len && m_master >= 0) {
        const ssize_t n = ::write(m_master, data + done, len - done);
        if (n > 0) {
            done += size_t(n);
            continue;
        }
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0 && errno != EAGAIN)
            return;
        // The terminal's input queue is full (nobody reads the slave): wait a bounded
        // time for room, then drop the rest like a line without a listener.
        if (waitedMs >= kWriteBudgetMs)
            return;
        pollfd out{m_master, POLLOUT, 0};
        ::poll(&out, 1, 20);
        waitedMs += 20;
    }
}

} // namespace irsim
