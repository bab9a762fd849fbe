#pragma once

#include "CNetConnect.h"
#include "CoreFrames.h"
#include "TransferContext.h"
#include "VirtualCamera.h"

#include <QByteArray>
#include <QStringList>
#include <QVector>

#include <memory>
#include <string>
#include <vector>

namespace transfertest {

// Nominal poll pause for these tests (Pace shrinks it a hundredfold): room for the
// loopback round trip, short enough that a block nobody answers costs under 2 s.
constexpr double kPollMs = 300.0;

// A virtual camera in-process on a free port and, unless told otherwise, a network
// link logged in to it and made the current link.
class TransferRig {
public:
    explicit TransferRig(bool bLogin = true);
    ~TransferRig();

    bool ok() const { return m_ok; }
    const std::string& error() const { return m_error; }
    irsim::VirtualCamera& camera() { return *m_camera; }
    irsim::CoreModel& core() { return m_camera->core(); }
    int port() const { return int(m_camera->port()); }
    // The logged-in link (null without login); its frame buffer once it streams.
    CNetConnect* link() const { return m_link.get(); }

    // Adds a fault in the sim's text form; false when the text is not a fault.
    bool fault(const std::string& rule);
    // The requests the core received, classified, oldest first.
    std::vector<irsim::Request> requests() const;
    // Block command bytes of the block requests, in order.
    std::vector<int> blockCommands() const;
    // Data of every block request with this command byte, in order.
    std::vector<QByteArray> blockData(int cmd) const;
    bool lastRequestIsExit() const;
    // The request log as short lines: "F0E0=1", "E3 0142c000", "EE 1000", "E5", ...
    QStringList requestLines() const;
    QByteArray flash(uint32_t address, int len) const;

private:
    std::unique_ptr<irsim::VirtualCamera> m_camera;
    std::unique_ptr<CNetConnect> m_link;
    bool m_ok = false;
    std::string m_error;
};

// A context that records what a sequence reports.
class RecordingContext : public TransferContext {
public:
    void setProgress(int percent) override { progress.append(percent); }
    void setStatus(const QString& text) override { status.append(text); }
    void message(const QString& title, const QString& text) override { messages.append(title + "|" + text); }
    bool cancelled() const override { return cancel; }

    QVector<int> progress;
    QStringList status;
    QStringList messages;
    bool cancel = false;
};

QByteArray pattern(int n, int seed);

} // namespace transfertest
