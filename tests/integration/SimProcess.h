#pragma once

#include <QProcess>
#include <QString>
#include <QStringList>
#include <memory>

namespace irtest {

// irbench-sim started as a separate process on a free port; stopped with SIGTERM.
class SimProcess {
public:
    explicit SimProcess(const QStringList& extraArgs = {}, bool serial = false);
    ~SimProcess();
    bool ok() const { return m_ok; }
    int port() const { return m_port; }
    QString ptyPath() const { return m_pty; }
    QString output() const { return m_output; }
    // One line to the camera's control input; its answer ("ok ...", "error: ..."), or
    // an empty text when none came within timeoutMs.
    QString control(const QString& line, int timeoutMs = 5000);
    // Sends SIGTERM and waits; returns the exit code (-1 when it had to be killed).
    int terminate();

private:
    std::unique_ptr<QProcess> m_proc;
    bool m_ok = false;
    int m_port = 0;
    QString m_pty;
    QString m_output;
};

struct CliResult {
    int exitCode = -1;
    QString out;
    QString err;
    qint64 elapsedMs = 0;
};

// Runs irbench-cli with the given arguments (bounded by timeoutMs).
CliResult runCli(const QStringList& args, int timeoutMs = 30000);
// The same under a file-size limit of `blocks` (bash's ulimit -f): a disk that fills
// up, without touching a device node.
CliResult runCliWithFileLimit(const QStringList& args, int blocks, int timeoutMs = 30000);

} // namespace irtest
