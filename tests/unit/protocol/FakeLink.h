#pragma once

#include "CDevice.h"
#include "CInterfaceConnect.h"

#include <QByteArray>
#include <QList>
#include <QMutex>
#include <QMutexLocker>

#include <algorithm>
#include <cstring>
#include <deque>
#include <functional>

// A scripted link: records every write and serves one queued entry per Read. An empty
// entry (or an empty queue) means "nothing arrived". Serial mode answers such a read with
// true and count 0 and leaves the buffer alone; mailbox mode (the network link) answers
// false, copying zeros over what a previous chunk occupied.
class FakeLink : public CInterfaceConnect {
public:
    enum Mode { Serial, Mailbox };
    // Called with each written frame; may queue replies (runs under the link's lock).
    using Responder = std::function<void(FakeLink&, const QByteArray&)>;

    explicit FakeLink(Mode mode = Serial) : m_mode(mode) {}

    bool Write(const void* data, int len) override
    {
        QMutexLocker l(&m_mu);
        if (!m_writeOk)
            return false;
        const QByteArray frame(static_cast<const char*>(data), len);
        m_writes.append(frame);
        if (m_responder)
            m_responder(*this, frame);
        return true;
    }

    bool Read(unsigned char* buf, int len, int* count) override
    {
        QMutexLocker l(&m_mu);
        ++m_reads;
        QByteArray chunk;
        if (!m_queue.empty()) {
            chunk = m_queue.front();
            m_queue.pop_front();
        }
        if (m_mode == Serial) {
            const int n = std::min<int>(chunk.size(), len);
            if (n > 0)
                std::memcpy(buf, chunk.constData(), size_t(n));
            if (count)
                *count = n;
            return true;
        }
        if (chunk.isEmpty()) {
            if (m_lastChunk < 0)
                return false;
            const int n = std::min(m_lastChunk, len);
            std::memset(buf, 0, size_t(n));
            if (count)
                *count = m_lastChunk;
            return false;
        }
        m_lastChunk = chunk.size();
        const int n = std::min<int>(chunk.size(), len);
        std::memcpy(buf, chunk.constData(), size_t(n));
        if (count)
            *count = chunk.size();
        return true;
    }

    void Close() override {}

    // Reply served by the read that comes after `idleReads` empty ones.
    void queueReply(const QByteArray& bytes, int idleReads = 0)
    {
        QMutexLocker l(&m_mu);
        queueLocked(bytes, idleReads);
    }
    void queueLocked(const QByteArray& bytes, int idleReads = 0)
    {
        for (int i = 0; i < idleReads; ++i)
            m_queue.push_back(QByteArray());
        m_queue.push_back(bytes);
    }
    void setResponder(Responder r) { QMutexLocker l(&m_mu); m_responder = std::move(r); }
    void setWriteOk(bool ok) { QMutexLocker l(&m_mu); m_writeOk = ok; }

    int reads() const { QMutexLocker l(&m_mu); return m_reads; }
    QList<QByteArray> writes() const { QMutexLocker l(&m_mu); return m_writes; }
    QByteArray lastWrite() const { QMutexLocker l(&m_mu); return m_writes.isEmpty() ? QByteArray() : m_writes.last(); }
    int pending() const { QMutexLocker l(&m_mu); return int(m_queue.size()); }
    void resetCounts() { QMutexLocker l(&m_mu); m_reads = 0; m_writes.clear(); }

private:
    mutable QMutex m_mu;
    Mode m_mode;
    bool m_writeOk = true;
    int m_reads = 0;
    int m_lastChunk = -1;
    QList<QByteArray> m_writes;
    std::deque<QByteArray> m_queue;
    Responder m_responder;
};

// Installs a link as the current one for the lifetime of the object.
class ScopedLink {
public:
    explicit ScopedLink(CInterfaceConnect* link) : m_prev(CDevice::Current()) { CDevice::SetConnect(link); }
    ~ScopedLink() { CDevice::SetConnect(m_prev); }

private:
    CInterfaceConnect* m_prev;
};
