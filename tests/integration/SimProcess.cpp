#include "SimProcess.h"

#include <QElapsedTimer>
#include <QRegularExpression>

namespace irtest {

SimProcess::SimProcess(const QStringList& extraArgs, bool serial)
    : m_proc(std::make_unique<QProcess>())
{
    QStringList args{"--port", "0"};
    if (serial)
        args << "--serial";
    args << extraArgs;
    m_proc->setProcessChannelMode(QProcess::SeparateChannels);
    m_proc->start(IRBENCH_SIM_PATH, args);
    if (!m_proc->waitForStarted(5000))
        return;
    QElapsedTimer t;
    t.start();
    const QRegularExpression listening("listening on [^:\\s]+:(\\d+)");
    while (t.elapsed() < 10000) {
        if (!m_proc->canReadLine() && !m_proc->waitForReadyRead(200)) {
            if (m_proc->state() != QProcess::Running)
                return;
            continue;
        }
        while (m_proc->canReadLine()) {
            const QString line = QString::fromUtf8(m_proc->readLine()).trimmed();
            m_output += line + "\n";
            if (serial && m_pty.isEmpty()) {
                m_pty = line; // the first line names the pty
                continue;
            }
            if (line.startsWith("irbench-sim: serial on") && extraArgs.contains("--no-network")) {
                m_ok = m_pty.startsWith("/dev/");
                return;
            }
            const auto m = listening.match(line);
            if (m.hasMatch()) {
                m_port = m.captured(1).toInt();
                m_ok = m_port > 0 && (!serial || m_pty.startsWith("/dev/"));
                return;
            }
        }
    }
}

SimProcess::~SimProcess()
{
    terminate();
}

QString SimProcess::control(const QString& line, int timeoutMs)
{
    if (!m_ok || m_proc->state() != QProcess::Running)
        return {};
    m_proc->write((line + "\n").toUtf8());
    m_proc->waitForBytesWritten(timeoutMs);
    QElapsedTimer t;
    t.start();
    while (t.elapsed() < timeoutMs) {
        while (m_proc->canReadLine()) {
            const QString reply = QString::fromUtf8(m_proc->readLine()).trimmed();
            m_output += reply + "\n";
            if (reply == "ok" || reply.startsWith("ok ") || reply.startsWith("error: "))
                return reply;
        }
        if (!m_proc->waitForReadyRead(100) && m_proc->state() != QProcess::Running)
            break;
    }
    return {};
}

int SimProcess::terminate()
{
    if (!m_proc || m_proc->state() == QProcess::NotRunning)
        return m_proc ? m_proc->exitCode() : -1;
    m_proc->terminate();
    if (!m_proc->waitForFinished(5000)) {
        m_proc->kill();
        m_proc->waitForFinished(2000);
        return -1;
    }
    return m_proc->exitStatus() == QProcess::NormalExit ? m_proc->exitCode() : -1;
}

namespace {

CliResult runProgram(const QString& program, const QStringList& args, int timeoutMs)
{
    CliResult r;
    QProcess p;
    QElapsedTimer t;
    t.start();
    p.start(program, args);
    if (!p.waitForStarted(5000))
        return r;
    if (!p.waitForFinished(timeoutMs)) {
        p.kill();
        p.waitForFinished(2000);
        r.err = "timed out";
        r.elapsedMs = t.elapsed();
        return r;
    }
    r.elapsedMs = t.elapsed();
    r.exitCode = p.exitStatus() == QProcess::NormalExit ? p.exitCode() : -1;
    r.out = QString::fromUtf8(p.readAllStandardOutput());
    r.err = QString::fromUtf8(p.readAllStandardError());
    return r;
}

} // namespace

CliResult runCli(const QStringList& args, int timeoutMs)
{
    return runProgram(IRBENCH_CLI_PATH, args, timeoutMs);
}

CliResult runCliWithFileLimit(const QStringList& args, int blocks, int timeoutMs)
{
    const QString script = QString("ulimit -f %1 && exec \"$0\" \"$@\"").arg(blocks);
    return runProgram("bash", QStringList{"-c", script, IRBENCH_CLI_PATH} + args, timeoutMs);
}

} // namespace irtest
