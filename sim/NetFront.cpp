#include "NetFront.h"

#include "DevnetServerSession.h"
#include "DevnetSocket.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>

#include <atomic>
#include <cerrno>
#include <cstring>
#include <mutex>
#include <system_error>
#include <thread>
#include <vector>

namespace irsim {

namespace {

constexpr int kIdleLimitMs = 30000;  // clients ping every 5 s; silence this long = gone
constexpr int kSendTimeoutMs = 2000; // a client that stops reading is dropped after this
constexpr size_t kReadChunk = 64 * 1024;

struct Conn;

// A client's started serial channel, as the core model sees it.
class NetPeer : public Peer {
public:
    NetPeer(std::weak_ptr<Conn> conn, uint32_t tag) : m_conn(std::move(conn)), m_tag(tag) {}
    void sendChunk(const uint8_t* data, size_t len) override;
    void dropConnection() override;
    bool alive() const override { return m_alive.load(); }
    void kill() { m_alive.store(false); }
    uint32_t tag() const { return m_tag; }

private:
    std::weak_ptr<Conn> m_conn;
    const uint32_t m_tag;
    std::atomic<bool> m_alive{true};
};

struct Handlers {
    std::mutex mutex;
    NetFront::SerialHandler serial;
    NetFront::PeerClosedHandler closed;
    NetFront::StreamHandler stream;
};

// What every connection of one front shares: the serial line to the core and the
// count of logged-in clients. Lives as long as the front.
struct Shared {
    SerialLine line;
    std::atomic<int> loggedIn{0};
    int loginWaitMs = 5000;
};

// One accepted client: its socket, its reader thread and its protocol session.
struct Conn : devnet::DevnetServerSession::Events {
    Conn(int socketFd, const devnet::DevnetServerSession::Config& cfg, Handlers* h, Shared* sh, int wake)
        : fd(socketFd), handlers(h), shared(sh), wakeFd(wake)
    {
        session = std::make_unique<devnet::DevnetServerSession>(
            cfg, this, [this](const std::vector<uint8_t>& msg) { return write(msg); });
    }
    ~Conn() override { devnet::closeFd(fd); }

    bool write(const std::vector<uint8_t>& msg)
    {
        std::lock_guard<std::mutex> sl(sendMutex);
        if (fd < 0)
            return false;
        if (refuseLogin.load()) {
            // One client too many logged in: it gets "busy" instead of its login
            // answer, and the connection closes.
            if (!refusalSent) {
                refusalSent = true;
                const auto busy = devnet::encodeError(0, devnet::WireErrBusy, "too many clients");
                devnet::sendAll(fd, busy.data(), busy.size(), kSendTimeoutMs, wakeFd);
            }
            return false;
        }
        if (devnet::sendAll(fd, msg.data(), msg.size(), kSendTimeoutMs, wakeFd))
            return true;
        shutdownSocket();
        return false;
    }

    void shutdownSocket()
    {
        std::lock_guard<std::mutex> fl(fdMutex);
        if (fd >= 0)
            ::shutdown(fd, SHUT_RDWR);
    }

    void run()
    {
        std::vector<uint8_t> buf(kReadChunk);
        const int64_t start = devnet::monotonicMs();
        int64_t lastRx = start;
        for (;;) {
            const bool logged = session->loggedIn();
            const int64_t deadline = logged ? lastRx + kIdleLimitMs : start + shared->loginWaitMs;
            const int64_t left = deadline - devnet::monotonicMs();
            if (left <= 0)
                break;
            size_t got = 0;
            const auto r = devnet::readSome(fd, wakeFd, int(left), buf.data(), buf.size(), &got);
            if (r == devnet::ReadResult::Closed || r == devnet::ReadResult::Woken)
                break;
            if (r == devnet::ReadResult::Data) {
                lastRx = devnet::monotonicMs();
                if (!session->feed(buf.data(), got))
                    break;
            }
        }
        if (counted)
            shared->loggedIn.fetch_sub(1);
        session->closed(); // reports the running stream and serial channel as stopped
        {
            std::lock_guard<std::mutex> sl(sendMutex);
            std::lock_guard<std::mutex> fl(fdMutex);
            devnet::closeFd(fd);
            fd = -1;
        }
        finished.store(true);
    }

    std::shared_ptr<NetPeer> currentPeer()
    {
        std::lock_guard<std::mutex> lk(peerMutex);
        return peer;
    }

    // ---- session events (reader thread, no lock held) ----
    void loggedIn() override
    {
        counted = true;
        if (shared->loggedIn.fetch_add(1) >= NetFront::kMaxClients)
            refuseLogin.store(true);
    }

    void serialStarted(uint32_t tag, uint32_t) override
    {
        auto p = std::make_shared<NetPeer>(self, tag);
        std::lock_guard<std::mutex> lk(peerMutex);
        peer = std::move(p);
    }

    void serialStopped(uint32_t tag) override
    {
        std::shared_ptr<NetPeer> old;
        {
            std::lock_guard<std::mutex> lk(peerMutex);
            if (peer && peer->tag() == tag)
                old = std::move(peer);
        }
        if (!old)
            return;
        old->kill();
        NetFront::PeerClosedHandler h;
        {
            std::lock_guard<std::mutex> lk(handlers->mutex);
            h = handlers->closed;
        }
        if (h)
            h(old);
    }

    void serialData(uint32_t tag, uint32_t, const uint8_t* data, size_t len) override
    {
        auto p = currentPeer();
        if (!p || p->tag() != tag)
            return;
        NetFront::SerialHandler h;
        {
            std::lock_guard<std::mutex> lk(handlers->mutex);
            h = handlers->serial;
        }
        if (!h)
            return;
        shared->line.toCore(data, len, [h, p](const uint8_t* d, size_t n) {
            if (p->alive())
                h(p, d, n);
        });
    }

    void streamStarted(int32_t channel) override { reportStream(channel, true); }
    void streamStopped(int32_t channel) override { reportStream(channel, false); }

    void reportStream(int channel, bool started)
    {
        NetFront::StreamHandler h;
        {
            std::lock_guard<std::mutex> lk(handlers->mutex);
            h = handlers->stream;
        }
        if (h)
            h(channel, started);
    }

    int fd;
    Handlers* handlers;
    Shared* shared;
    const int wakeFd;
    bool counted = false;                // reader thread only
    std::atomic<bool> refuseLogin{false};
    bool refusalSent = false;            // under sendMutex
    std::weak_ptr<Conn> self;
    std::unique_ptr<devnet::DevnetServerSession> session;
    std::mutex sendMutex; // one writer at a time; the fd is closed only under it
    std::mutex fdMutex;
    std::mutex peerMutex;
    std::shared_ptr<NetPeer> peer;
    std::thread thread;
    std::atomic<bool> finished{false};
    std::atomic<bool> evicted{false}; // closed to make room for a newer connection
};

void NetPeer::sendChunk(const uint8_t* data, size_t len)
{
    if (!m_alive.load())
        return;
    auto c = m_conn.lock();
    if (!c)
        return;
    std::weak_ptr<Conn> weak = c;
    const uint32_t tag = m_tag;
    c->shared->line.toHost(data, len, [weak, tag](const uint8_t* d, size_t n) {
        if (auto conn = weak.lock())
            conn->session->sendSerial(tag, d, n);
    });
}

void NetPeer::dropConnection()
{
    if (auto c = m_conn.lock())
        c->shutdownSocket();
}

} // namespace

struct NetFront::Impl {
    Options options;
    Handlers handlers;
    Shared shared;
    std::mutex lifecycle; // start() and stop()
    mutable std::mutex mutex; // conns, running
    std::vector<std::shared_ptr<Conn>> conns;
    bool running = false;
    int listenFd = -1;
    std::atomic<uint16_t> boundPort{0};
    std::unique_ptr<devnet::WakePipe> wake;
    std::thread acceptThread;

    devnet::DevnetServerSession::Config sessionConfig() const
    {
        devnet::DevnetServerSession::Config c;
        c.user = options.user;
        c.password = options.password;
        c.serialNumber = options.serialNumber;
        c.model = options.model;
        c.channelCount = 1;
        c.serialPortCount = 1;
        return c;
    }

    std::vector<std::shared_ptr<Conn>> snapshot() const
    {
        std::lock_guard<std::mutex> lk(mutex);
        return conns;
    }

    void reap()
    {
        std::vector<std::shared_ptr<Conn>> done;
        {
            std::lock_guard<std::mutex> lk(mutex);
            for (auto it = conns.begin(); it != conns.end();) {
                if ((*it)->finished.load()) {
                    done.push_back(*it);
                    it = conns.erase(it);
                } else {
                    ++it;
                }
            }
        }
        for (auto& c : done) {
            if (c->thread.joinable())
                c->thread.join();
        }
    }

    void accepted(int fd)
    {
        devnet::setCommonOptions(fd);
        // Only clients that logged in count against the limit: connections that
        // never log in must not lock the others out. They are bounded on their own;
        // the oldest makes room for a newcomer.
        int logged = 0;
        int pending = 0;
        std::shared_ptr<Conn> oldestPending;
        {
            std::lock_guard<std::mutex> lk(mutex);
            for (const auto& c : conns) {
                if (c->finished.load() || c->evicted.load())
                    continue;
                if (c->session->loggedIn()) {
                    ++logged;
                } else {
                    ++pending;
                    if (!oldestPending)
                        oldestPending = c;
                }
            }
        }
        auto conn = std::make_shared<Conn>(fd, sessionConfig(), &handlers, &shared, wake->fd());
        conn->self = conn;
        if (pending >= NetFront::kMaxPending && oldestPending) {
            oldestPending->evicted.store(true);
            oldestPending->shutdownSocket();
        }
        if (logged >= NetFront::kMaxClients) {
            conn->session->sendError(devnet::WireErrBusy, "too many clients");
            std::lock_guard<std::mutex> sl(conn->sendMutex);
            devnet::closeFd(conn->fd);
            conn->fd = -1;
            return;
        }
        try {
            conn->thread = std::thread([conn] { conn->run(); });
        } catch (const std::system_error&) {
            std::lock_guard<std::mutex> sl(conn->sendMutex);
            devnet::closeFd(conn->fd);
            conn->fd = -1;
            return;
        }
        std::lock_guard<std::mutex> lk(mutex);
        conns.push_back(std::move(conn));
    }

    void acceptLoop()
    {
        for (;;) {
            pollfd p[2] = {{listenFd, POLLIN, 0}, {wake->fd(), POLLIN, 0}};
            const int r = ::poll(p, 2, 1000);
            if (r < 0 && errno != EINTR)
                break;
            if (p[1].revents & POLLIN)
                break;
            reap();
            if (r <= 0 || !(p[0].revents & POLLIN))
                continue;
            const int fd = ::accept4(listenFd, nullptr, nullptr, SOCK_NONBLOCK | SOCK_CLOEXEC);
            if (fd >= 0) {
                accepted(fd);
            } else if (errno == EMFILE || errno == ENFILE || errno == ENOBUFS || errno == ENOMEM) {
                // Out of descriptors: back off instead of spinning on the pending client.
                if (devnet::waitWake(wake->fd(), 100))
                    break;
            }
        }
    }
};

NetFront::NetFront(const Options& options) : d(std::make_unique<Impl>())
{
    d->options = options;
    d->shared.loginWaitMs = options.loginWaitMs;
}

NetFront::~NetFront()
{
    stop();
}

void NetFront::setSerialHandler(SerialHandler handler)
{
    std::lock_guard<std::mutex> lk(d->handlers.mutex);
    d->handlers.serial = std::move(handler);
}

void NetFront::setPeerClosedHandler(PeerClosedHandler handler)
{
    std::lock_guard<std::mutex> lk(d->handlers.mutex);
    d->handlers.closed = std::move(handler);
}

void NetFront::setStreamHandler(StreamHandler handler)
{
    std::lock_guard<std::mutex> lk(d->handlers.mutex);
    d->handlers.stream = std::move(handler);
}

bool NetFront::start(std::string* error)
{
    auto setError = [error](const std::string& e) {
        if (error)
            *error = e;
        return false;
    };
    std::lock_guard<std::mutex> life(d->lifecycle);
    std::lock_guard<std::mutex> lk(d->mutex);
    if (d->running)
        return setError("already running");
    sockaddr_in addr;
    if (!devnet::resolveIPv4(d->options.host, d->options.port, &addr, true))
        return setError("cannot resolve " + d->options.host);
    auto wake = std::make_unique<devnet::WakePipe>();
    if (!wake->valid())
        return setError(std::string("pipe: ") + std::strerror(errno));
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    if (fd < 0)
        return setError(std::string("socket: ") + std::strerror(errno));
    int one = 1;
    ::setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &one, sizeof(one));
    const int backlog = NetFront::kMaxClients + NetFront::kMaxPending;
    if (::bind(fd, reinterpret_cast<const sockaddr*>(&addr), sizeof(addr)) < 0 || ::listen(fd, backlog) < 0) {
        const std::string e = std::strerror(errno);
        devnet::closeFd(fd);
        return setError(d->options.host + ":" + std::to_string(d->options.port) + ": " + e);
    }
    sockaddr_in bound;
    socklen_t len = sizeof(bound);
    ::getsockname(fd, reinterpret_cast<sockaddr*>(&bound), &len);
    d->listenFd = fd;
    d->boundPort.store(ntohs(bound.sin_port));
    d->wake = std::move(wake);
    try {
        d->acceptThread = std::thread([this] { d->acceptLoop(); });
    } catch (const std::system_error& e) {
        devnet::closeFd(d->listenFd);
        d->listenFd = -1;
        return setError(e.what());
    }
    d->running = true;
    return true;
}

void NetFront::stop()
{
    std::lock_guard<std::mutex> life(d->lifecycle);
    {
        std::lock_guard<std::mutex> lk(d->mutex);
        if (!d->running)
            return;
        d->running = false;
    }
    d->wake->signal();
    if (d->acceptThread.joinable())
        d->acceptThread.join();
    devnet::closeFd(d->listenFd);
    d->listenFd = -1;
    std::vector<std::shared_ptr<Conn>> all;
    {
        std::lock_guard<std::mutex> lk(d->mutex);
        all.swap(d->conns);
    }
    for (auto& c : all)
        c->shutdownSocket();
    for (auto& c : all) {
        if (!c->thread.joinable())
            continue;
        if (c->thread.get_id() == std::this_thread::get_id())
            c->thread.detach(); // stop() from a handler: that thread ends on its own
        else
            c->thread.join();
    }
    d->shared.line.stop();
    // The wake pipe stays open (signalled) until the next start() or the destructor.
}

uint16_t NetFront::port() const
{
    const uint16_t p = d->boundPort.load();
    return p ? p : d->options.port;
}

void NetFront::sendStream(const uint8_t* data, size_t len)
{
    for (auto& c : d->snapshot()) {
        if (c->session->streaming())
            c->session->sendStream(data, len);
    }
}

bool NetFront::anyStreaming() const
{
    for (auto& c : d->snapshot()) {
        if (!c->finished.load() && c->session->streaming())
            return true;
    }
    return false;
}

int NetFront::clientCount() const
{
    int n = 0;
    for (auto& c : d->snapshot()) {
        if (!c->finished.load() && c->session->loggedIn())
            ++n;
    }
    return n;
}

int NetFront::pendingCount() const
{
    int n = 0;
    for (auto& c : d->snapshot()) {
        if (!c->finished.load() && !c->evicted.load() && !c->session->loggedIn())
            ++n;
    }
    return n;
}

SerialLine& NetFront::serialLine()
{
    return d->shared.line;
}

void NetFront::dropAll()
{
    for (auto& c : d->snapshot())
        c->shutdownSocket();
}

} // namespace irsim
