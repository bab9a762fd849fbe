#include "DevnetServerSession.h"

#include <algorithm>

namespace devnet {

DevnetServerSession::DevnetServerSession(const Config& config, Events* events, Sink sink)
    : m_config(config), m_events(events), m_sink(std::move(sink))
{
}

bool DevnetServerSession::reply(const std::vector<uint8_t>& msg)
{
    if (m_sink(msg))
        return true;
    m_problem = "write to the client failed";
    return false;
}

bool DevnetServerSession::protocolError(uint32_t reqId, const std::string& why)
{
    m_problem = why;
    m_sink(encodeError(reqId, WireErrProtocol, why));
    return false;
}

void DevnetServerSession::sendError(uint32_t code, const std::string& text)
{
    m_sink(encodeError(0, code, text));
}

bool DevnetServerSession::feed(const uint8_t* data, size_t len)
{
    {
        std::lock_guard<std::mutex> lk(m_mutex);
        if (m_closed)
            return false;
    }
    m_decoder.feed(data, len);
    Message m;
    while (m_decoder.next(&m)) {
        if (!handle(m))
            return false;
    }
    if (m_decoder.failed())
        return protocolError(0, m_decoder.error());
    return true;
}

bool DevnetServerSession::handle(const Message& m)
{
    bool logged;
    {
        std::lock_guard<std::mutex> lk(m_mutex);
        logged = m_loggedIn;
    }
    if (m.type == MsgLogin) {
        LoginReq req;
        if (!parseLogin(m, &req))
            return protocolError(0, "malformed login");
        if (logged)
            return protocolError(req.reqId, "already logged in");
        if (req.user != m_config.user || req.password != m_config.password) {
            m_problem = "user name or password refused";
            m_sink(encodeError(req.reqId, WireErrAuth, m_problem));
            return false;
        }
        {
            std::lock_guard<std::mutex> lk(m_mutex);
            m_loggedIn = true;
        }
        if (m_events)
            m_events->loggedIn();
        return reply(encodeLoginOk(req.reqId, m_config.serialNumber, m_config.model, m_config.channelCount,
                                   m_config.serialPortCount));
    }
    if (m.type == MsgLoginOk || m.type == MsgSerialStartOk || m.type == MsgStreamStartOk || m.type == MsgPong
        || m.type == MsgError || m.type == MsgStreamData)
        return protocolError(0, "answer type " + std::to_string(m.type) + " sent by the client");
    const bool known = m.type == MsgLogout || m.type == MsgSerialStart || m.type == MsgSerialStop
                       || m.type == MsgSerialData || m.type == MsgStreamStart || m.type == MsgStreamStop
                       || m.type == MsgPing;
    if (!known)
        return true; // optional messages of later clients are skipped
    if (!logged) {
        m_problem = "request before login";
        m_sink(encodeError(0, WireErrNotLoggedIn, m_problem));
        return false;
    }

    switch (m.type) {
    case MsgLogout:
        m_problem = "logout";
        return false;
    case MsgSerialStart: {
        StartReq req;
        if (!parseSerialStart(m, &req))
            return protocolError(0, "malformed serial start");
        if (req.port < 1 || req.port > m_config.serialPortCount)
            return reply(encodeError(req.reqId, WireErrRefused, "no serial port " + std::to_string(req.port)));
        bool hadOld;
        uint32_t oldTag;
        {
            std::lock_guard<std::mutex> lk(m_mutex);
            hadOld = m_serialOn;
            oldTag = m_serialTag;
            m_serialOn = true;
            m_serialTag = req.tag;
            m_serialPort = req.port;
        }
        if (hadOld && m_events)
            m_events->serialStopped(oldTag);
        if (m_events)
            m_events->serialStarted(req.tag, req.port);
        return reply(encodeStartOk(MsgSerialStartOk, req.reqId));
    }
    case MsgSerialStop: {
        uint32_t tag = 0;
        if (!parseU32(m, &tag))
            return protocolError(0, "malformed serial stop");
        bool stop;
        {
            std::lock_guard<std::mutex> lk(m_mutex);
            stop = m_serialOn && m_serialTag == tag;
            if (stop)
                m_serialOn = false;
        }
        if (stop && m_events)
            m_events->serialStopped(tag);
        return true;
    }
    case MsgSerialData: {
        DataMsg d;
        if (!parseSerialData(m, &d))
            return protocolError(0, "malformed serial data");
        bool current;
        {
            std::lock_guard<std::mutex> lk(m_mutex);
            current = m_serialOn && m_serialTag == d.tag;
        }
        // Data for a stopped channel can still be in flight: dropped, not an error.
        if (current && d.len > 0 && m_events)
            m_events->serialData(d.tag, d.channel, d.data, d.len);
        return true;
    }
    case MsgStreamStart: {
        StartReq req;
        if (!parseStreamStart(m, &req))
            return protocolError(0, "malformed stream start");
        bool hadOld;
        int32_t oldChannel;
        {
            std::lock_guard<std::mutex> lk(m_mutex);
            hadOld = m_streamOn;
            oldChannel = m_streamChannel;
            m_streamOn = true;
            m_streamTag = req.tag;
            m_streamChannel = req.channel;
        }
        if (hadOld && m_events)
            m_events->streamStopped(oldChannel);
        if (m_events)
            m_events->streamStarted(req.channel);
        return reply(encodeStartOk(MsgStreamStartOk, req.reqId));
    }
    case MsgStreamStop: {
        uint32_t tag = 0;
        if (!parseU32(m, &tag))
            return protocolError(0, "malformed stream stop");
        bool stop;
        int32_t channel;
        {
            std::lock_guard<std::mutex> lk(m_mutex);
            stop = m_streamOn && m_streamTag == tag;
            channel = m_streamChannel;
            if (stop)
                m_streamOn = false;
        }
        if (stop && m_events)
            m_events->streamStopped(channel);
        return true;
    }
    case MsgPing: {
        uint32_t seq = 0;
        if (!parseU32(m, &seq))
            return protocolError(0, "malformed ping");
        return reply(encodePing(MsgPong, seq));
    }
    default:
        return true;
    }
}

bool DevnetServerSession::sendSerial(uint32_t tag, const uint8_t* data, size_t len)
{
    if (!data || len == 0)
        return false;
    while (len > 0) {
        uint32_t port;
        {
            std::lock_guard<std::mutex> lk(m_mutex);
            if (m_closed || !m_serialOn || m_serialTag != tag)
                return false;
            port = m_serialPort;
        }
        const size_t n = std::min(len, kMaxSerialChunk);
        if (!m_sink(encodeSerialData(tag, port, data, n)))
            return false;
        data += n;
        len -= n;
    }
    return true;
}

bool DevnetServerSession::sendStream(const uint8_t* data, size_t len)
{
    if (!data || len == 0)
        return false;
    while (len > 0) {
        uint32_t tag;
        {
            std::lock_guard<std::mutex> lk(m_mutex);
            if (m_closed || !m_streamOn)
                return false;
            tag = m_streamTag;
        }
        const size_t n = std::min(len, kMaxStreamChunk);
        if (!m_sink(encodeStreamData(tag, data, n)))
            return false;
        data += n;
        len -= n;
    }
    return true;
}

bool DevnetServerSession::loggedIn() const
{
    std::lock_guard<std::mutex> lk(m_mutex);
    return m_loggedIn && !m_closed;
}

bool DevnetServerSession::streaming() const
{
    std::lock_guard<std::mutex> lk(m_mutex);
    return m_streamOn && !m_closed;
}

bool DevnetServerSession::serialRunning() const
{
    std::lock_guard<std::mutex> lk(m_mutex);
    return m_serialOn && !m_closed;
}

void DevnetServerSession::closed()
{
    bool serial, stream;
    uint32_t tag;
    int32_t channel;
    {
        std::lock_guard<std::mutex> lk(m_mutex);
        if (m_closed)
            return;
        m_closed = true;
        serial = m_serialOn;
        tag = m_serialTag;
        stream = m_streamOn;
        channel = m_streamChannel;
        m_serialOn = false;
        m_streamOn = false;
    }
    if (stream && m_events)
        m_events->streamStopped(channel);
    if (serial && m_events)
        m_events->serialStopped(tag);
}

} // namespace devnet
