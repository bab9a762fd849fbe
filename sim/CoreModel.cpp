#include "CoreModel.h"

#include <algorithm>
#include <chrono>

namespace irsim {

namespace {

int64_t monotonicMs()
{
    using namespace std::chrono;
    return duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count();
}

std::vector<uint8_t> be32(uint32_t value)
{
    std::vector<uint8_t> out;
    appendU32BE(out, value);
    return out;
}

RequestKey keyOf(const Request& r)
{
    RequestKey key;
    switch (r.kind) {
    case Request::LongWrite:
    case Request::LongRead: key.kind = RequestKey::Register; key.address = r.address; break;
    case Request::ShortWrite:
    case Request::ShortRead: key.kind = RequestKey::ShortRegister; key.address = r.address; break;
    case Request::Block: key.kind = RequestKey::Block; key.address = r.command; break;
    case Request::Raw: key.kind = RequestKey::Raw; break;
    }
    return key;
}

// Noise a broken line or a confused bridge puts in front of a reply; never a start
// byte, so a scanning reader can still find the frame behind it.
std::vector<uint8_t> garbage(int n)
{
    static const uint8_t pattern[] = {0x00, 0x55, 0xAA, 0x13, 0x7E, 0xC3, 0x0D, 0x99};
    std::vector<uint8_t> out;
    for (int i = 0; i < n; ++i)
        out.push_back(pattern[i % sizeof pattern]);
    return out;
}

} // namespace

CoreModel::CoreModel()
{
    const Identity* preset = findPreset("default");
    if (preset)
        m_identity = *preset;
    loadIdentityLocked();
}

CoreModel::~CoreModel()
{
    m_scheduler.stop();
}

bool CoreModel::isCompletionCommand(uint32_t address, uint32_t value)
{
    if (address == kOneKeyCalibration)
        return value >= 1 && value <= 6;
    if (address == kBadPixelCommand)
        return value == kDetectOwnBadPixels; // cursor mode (15) is an ordinary write
    return address == kNvffcCapture;
}

void CoreModel::setPictureSource(PictureSource source)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    m_pictureSource = std::move(source);
}

void CoreModel::setGainObserver(GainObserver observer)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    m_gainObserver = std::move(observer);
}

void CoreModel::announceGainTable(uint32_t address)
{
    if (!m_gainObserver)
        return;
    for (int tec = 1; tec <= 4; ++tec) {
        if (address != CoreNuc::gainAddress(tec))
            continue;
        const UpgradeEngine::Transfer t = m_upgrade.lastWriteAt(address);
        m_gainObserver(t.valid ? m_upgrade.flash().read(address, t.size) : std::vector<uint8_t>());
        return;
    }
}

bool CoreModel::runOneKeyStep(uint32_t value)
{
    if (!m_pictureSource)
        return true; // a core without a detector: nothing to look at or store
    if (value == 1 || value == 2) {
        std::vector<uint16_t> average;
        int width = 0, rows = 0;
        if (!m_pictureSource(m_identity, kCoreAverageFrames, &average, &width, &rows))
            return false;
        m_nuc.setPoint(value == 2, average, width, rows);
        return true;
    }
    // 3..6: gains of TEC 1..4 from the two points, into that TEC's flash area.
    std::vector<uint8_t> table;
    if (!m_nuc.gainTable(&table))
        return false;
    const uint32_t address = CoreNuc::gainAddress(int(value) - 2);
    if (!m_upgrade.storeInternal(address, table))
        return false;
    announceGainTable(address);
    return true;
}

void CoreModel::setIdentity(const Identity& identity)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    m_identity = identity;
    loadIdentityLocked();
}

Identity CoreModel::identity() const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_identity;
}

void CoreModel::loadIdentityLocked()
{
    const Identity& id = m_identity;
    m_short[1] = id.form0Bytes();
    m_short[6] = id.form1Bytes();
    m_short[14] = be32(id.processDate);
    m_short[15] = be32(id.hardwareDate);
    if (!id.rawSerial.empty())
        m_short[132].assign(id.rawSerial.begin(),
                            id.rawSerial.begin() + std::min(id.rawSerial.size(), kMaxRawIdBytes));
    else
        m_short[132] = be32(id.serialNumber);
    if (!id.rawSensorId.empty())
        m_long[0xF0E3].assign(id.rawSensorId.begin(),
                              id.rawSensorId.begin() + std::min(id.rawSensorId.size(), kMaxRawIdBytes));
    else
        m_long[0xF0E3] = be32(id.sensorIdHigh);
    m_long[0xF0E4] = be32(id.sensorIdLow);
    m_long[0xF031] = be32(id.softwareVersion);
    m_long[0xF032] = be32(id.softwareDate);
    m_long[0xF033] = be32(id.fpgaVersion);
    m_long[0xF034] = be32(id.fpgaDate);
}

void CoreModel::setWriteObserver(WriteObserver observer)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    m_writeObserver = std::move(observer);
}

void CoreModel::setTimeScale(double scale)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    m_timeScale = scale >= 0 ? scale : 0;
}

void CoreModel::setLongCommandDelayMs(int ms)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    m_longDelayMs = ms >= 0 ? ms : 0;
}

void CoreModel::setCompletionDelayMs(int ms)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    m_completionDelayMs = ms;
}

void CoreModel::setBlockProgramMs(int ms)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    m_blockProgramMs = ms >= 0 ? ms : 0;
}

int CoreModel::blockProgramMs() const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_blockProgramMs;
}

void CoreModel::receive(const PeerPtr& peer, const uint8_t* data, size_t len)
{
    if (!peer || !data || len == 0)
        return;
    std::vector<Outgoing> out;
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        for (auto it = m_peers.begin(); it != m_peers.end();) {
            if (it->second.peer.expired()) {
                m_unframedGone += it->second.assembler.unframedBytes();
                it = m_peers.erase(it);
            } else {
                ++it;
            }
        }
        PeerState& state = m_peers[peer.get()];
        if (state.peer.lock() != peer)
            state.peer = peer;
        state.assembler.push(data, len);

        const int64_t now = monotonicMs();
        std::vector<uint8_t> frame;
        while (state.assembler.next(&frame, now)) {
            ++m_requests;
            m_log.push_back(frame);
            if (m_log.size() > kMaxLoggedFrames)
                m_log.pop_front();

            const Request request = classifyFrame(frame);
            const FaultEffect fx = m_faults.apply(keyOf(request));
            const Outcome outcome = handle(request, fx.zero);
            // A one-key step: the core answers at once and then works; the completion
            // reply, if there is one, carries the outcome of that work. A lost reply
            // (noreply, drop) does not stop the work.
            auto oneKeyWork = [this, &request, &outcome](bool reply, double delayMs) {
                Outgoing done;
                done.delayMs = delayMs;
                const uint8_t addressByte = request.addressByte;
                const uint32_t value = outcome.oneKeyValue;
                done.work = [this, addressByte, value, reply]() {
                    bool ok;
                    {
                        std::lock_guard<std::mutex> lock(m_mutex);
                        ok = runOneKeyStep(value);
                    }
                    return reply ? writeReply(addressByte, ok ? 1 : 0) : std::vector<uint8_t>();
                };
                return done;
            };
            if (fx.drop) {
                if (outcome.oneKeyStep)
                    out.push_back(oneKeyWork(false, 0.0));
                Outgoing o;
                o.drop = true;
                out.push_back(o);
                // The link is gone: whatever else was in flight goes with it.
                state.assembler.clear();
                break;
            }
            if (fx.noReply) {
                if (outcome.oneKeyStep)
                    out.push_back(oneKeyWork(false, 0.0));
                continue;
            }
            const double extra = fx.delayMs;
            Outgoing reply;
            reply.bytes = garbage(fx.garbageBytes);
            reply.bytes.insert(reply.bytes.end(), fx.noise.begin(), fx.noise.end());
            std::vector<uint8_t> frame = outcome.reply;
            corruptReply(&frame, fx);
            reply.bytes.insert(reply.bytes.end(), frame.begin(), frame.end());
            reply.delayMs = (outcome.delayMs + extra) * m_timeScale;
            reply.split = fx.split;
            reply.splitPauseMs = fx.splitPauseMs * m_timeScale;
            out.push_back(reply);
            if (outcome.oneKeyStep) {
                const bool withReply = m_completionDelayMs >= 0;
                out.push_back(oneKeyWork(withReply, withReply ? (m_completionDelayMs + extra) * m_timeScale : 0.0));
            } else if (!outcome.completion.empty()) {
                Outgoing done;
                done.bytes = outcome.completion;
                done.delayMs = (m_completionDelayMs + extra) * m_timeScale;
                out.push_back(done);
            }
        }
    }
    dispatch(peer, out);
}

void CoreModel::dispatch(const PeerPtr& peer, const std::vector<Outgoing>& out)
{
    std::weak_ptr<Peer> weak = peer;
    auto sendLater = [this, weak](double delayMs, std::vector<uint8_t> bytes) {
        m_scheduler.schedule(delayMs, [weak, bytes]() {
            if (PeerPtr p = weak.lock())
                if (p->alive())
                    p->sendChunk(bytes.data(), bytes.size());
        });
    };
    for (const Outgoing& o : out) {
        if (o.work) {
            // The work happens even when the client has gone; only the reply needs it.
            m_scheduler.schedule(o.delayMs, [weak, work = o.work]() {
                const std::vector<uint8_t> bytes = work();
                if (bytes.empty())
                    return;
                if (PeerPtr p = weak.lock())
                    if (p->alive())
                        p->sendChunk(bytes.data(), bytes.size());
            });
            continue;
        }
        if (o.drop) {
            peer->dropConnection();
            continue;
        }
        if (o.split && o.bytes.size() >= 2) {
            const size_t half = o.bytes.size() / 2;
            std::vector<uint8_t> first(o.bytes.begin(), o.bytes.begin() + half);
            std::vector<uint8_t> second(o.bytes.begin() + half, o.bytes.end());
            if (o.delayMs <= 0)
                peer->sendChunk(first.data(), first.size());
            else
                sendLater(o.delayMs, std::move(first));
            sendLater(o.delayMs + o.splitPauseMs, std::move(second));
            continue;
        }
        if (o.delayMs <= 0)
            peer->sendChunk(o.bytes.data(), o.bytes.size());
        else
            sendLater(o.delayMs, o.bytes);
    }
}

CoreModel::Outcome CoreModel::handle(const Request& r, bool refuse)
{
    Outcome out;
    switch (r.kind) {
    case Request::LongWrite:
        return handleLongWrite(r, refuse);
    case Request::ShortWrite:
        if (!refuse) {
            m_short[uint8_t(r.address)] = r.data;
            if (m_writeObserver)
                m_writeObserver(true, r.address, r.value);
        }
        out.reply = writeReply(r.addressByte, refuse ? 0 : 1);
        return out;
    case Request::LongRead:
    case Request::ShortRead: {
        std::vector<uint8_t> payload = registerPayload(r);
        if (refuse)
            payload.assign(payload.size(), 0);
        out.reply = readReply(r.addressByte, payload);
        return out;
    }
    case Request::Raw:
        // A command typed in the console: the core acknowledges what it understood.
        out.reply = writeReply(r.addressByte, refuse ? 0 : 1);
        return out;
    case Request::Block:
        if (refuse) {
            out.reply = UpgradeEngine::isDataRequest(r.command) ? blockDataReply(r.command, nullptr, 0)
                                                               : blockAck(r.command, 0);
            return out;
        }
        {
            const int commits = m_upgrade.commitCount();
            const uint64_t blocks = m_upgrade.dataBlockCount();
            const UpgradeEngine::Reply reply = m_upgrade.block(r.command, r.data);
            if (m_upgrade.dataBlockCount() != blocks)
                out.delayMs = m_blockProgramMs; // flash programming before the ack
            out.reply = reply.data ? blockDataReply(r.command, reply.payload.data(), reply.payload.size())
                                   : blockAck(r.command, reply.value);
            if (m_upgrade.commitCount() != commits)
                announceGainTable(m_upgrade.lastCommitted().address);
        }
        return out;
    }
    return out;
}

CoreModel::Outcome CoreModel::handleLongWrite(const Request& r, bool refuse)
{
    Outcome out;
    if (refuse) {
        // A long command that fails still takes its time: the core reports the
        // failure when its work ends, not at once.
        if (r.address == kOneKeyConfig || r.address == kAutoCorrection)
            out.delayMs = m_longDelayMs;
        out.reply = writeReply(r.addressByte, 0);
        return out;
    }
    uint8_t value = 1;
    if (r.address == kEnterUpgrade)
        value = m_upgrade.writeEnter(r.value);
    else if (r.address == kConfirmUpgrade)
        value = m_upgrade.writeConfirm(r.value);
    else if (r.address == kCloseCommand && r.value == 5)
        ++m_closeCommands;
    if (value == 1) {
        m_long[r.address] = r.data;
        if (m_writeObserver)
            m_writeObserver(false, r.address, r.value);
    }
    out.reply = writeReply(r.addressByte, value);
    if (r.address == kOneKeyConfig || r.address == kAutoCorrection)
        out.delayMs = m_longDelayMs;
    else if (r.address == kBadPixelDetectV30)
        out.delayMs = kDetectV30DelayMs;
    else if (r.address == kShutterCorrect)
        out.delayMs = kShutterDelayMs;
    if (value == 1 && isCompletionCommand(r.address, r.value)) {
        if (r.address == kOneKeyCalibration) {
            // Done while the host waits; a step that cannot be done (gains without
            // both points) completes with 0.
            out.oneKeyStep = true;
            out.oneKeyValue = r.value;
        } else if (m_completionDelayMs >= 0) {
            out.completion = writeReply(r.addressByte, 1);
        }
    }
    return out;
}

std::vector<uint8_t> CoreModel::registerPayload(const Request& r) const
{
    if (r.kind == Request::LongRead) {
        auto it = m_long.find(r.address);
        return it != m_long.end() ? it->second : std::vector<uint8_t>(4, 0);
    }
    auto it = m_short.find(uint8_t(r.address));
    return it != m_short.end() ? it->second : std::vector<uint8_t>(4, 0);
}

void CoreModel::forgetPeer(const Peer* peer)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    auto it = m_peers.find(peer);
    if (it == m_peers.end())
        return;
    m_unframedGone += it->second.assembler.unframedBytes();
    m_peers.erase(it);
}

void CoreModel::cancelPending()
{
    m_scheduler.stop();
}

std::vector<std::vector<uint8_t>> CoreModel::requestLog() const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return {m_log.begin(), m_log.end()};
}

uint64_t CoreModel::requestCount() const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_requests;
}

uint64_t CoreModel::unframedBytes() const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    uint64_t n = m_unframedGone;
    for (const auto& entry : m_peers)
        n += entry.second.assembler.unframedBytes();
    return n;
}

void CoreModel::clearLog()
{
    std::lock_guard<std::mutex> lock(m_mutex);
    m_log.clear();
    m_requests = 0;
}

uint32_t CoreModel::longRegister(uint32_t address) const
{
    const std::vector<uint8_t> bytes = longRegisterBytes(address);
    uint32_t v = 0;
    for (uint8_t b : bytes)
        v = (v << 8) | b;
    return v;
}

std::vector<uint8_t> CoreModel::longRegisterBytes(uint32_t address) const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    auto it = m_long.find(address);
    return it != m_long.end() ? it->second : std::vector<uint8_t>(4, 0);
}

void CoreModel::setLongRegister(uint32_t address, uint32_t value)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    m_long[address] = be32(value);
}

std::vector<uint8_t> CoreModel::shortRegister(uint8_t address) const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    auto it = m_short.find(address);
    return it != m_short.end() ? it->second : std::vector<uint8_t>(4, 0);
}

void CoreModel::setShortRegister(uint8_t address, const std::vector<uint8_t>& bytes)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    // One reply carries at most 252 payload bytes.
    m_short[address].assign(bytes.begin(), bytes.begin() + std::min<size_t>(bytes.size(), 252));
}

int CoreModel::closeCommandCount() const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_closeCommands;
}

UpgradeEngine::State CoreModel::upgradeState() const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_upgrade.state();
}

std::vector<uint8_t> CoreModel::readFlash(uint32_t address, size_t len) const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_upgrade.flash().read(address, len);
}

UpgradeEngine::Transfer CoreModel::lastWrite(int selector) const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_upgrade.lastWrite(selector);
}

UpgradeEngine::Transfer CoreModel::lastCommitted() const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_upgrade.lastCommitted();
}

int CoreModel::commitCount() const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_upgrade.commitCount();
}

int CoreModel::reloadCount() const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_upgrade.reloadCount();
}

uint64_t CoreModel::dataBlocksProgrammed() const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_upgrade.dataBlockCount();
}

} // namespace irsim
