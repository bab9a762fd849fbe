#include "TransferRig.h"

#include "CDevice.h"
#include "LinkClosing.h"
#include "DataExchange.h"

namespace transfertest {

TransferRig::TransferRig(bool bLogin)
{
    DataExchange::setPollIntervalMs(kPollMs);
    irsim::CameraOptions options;
    options.net.port = 0;
    options.timeScale = 0.01;
    m_camera = std::make_unique<irsim::VirtualCamera>(options);
    if (!m_camera->start(&m_error))
        return;
    if (bLogin) {
        m_link = std::make_unique<CNetConnect>();
        NetLoginParams params{"127.0.0.1", int(m_camera->port()), "admin", "admin", 1, 0};
        if (!m_link->Login(params)) {
            m_error = "login to the virtual camera failed";
            return;
        }
        CDevice::SetConnect(m_link.get());
    }
    m_ok = true;
}

TransferRig::~TransferRig()
{
    if (m_link && CDevice::Current() == m_link.get())
        closeCurrentLink();
    else if (m_link)
        m_link->Close();
    m_camera->stop();
}

bool TransferRig::fault(const std::string& rule)
{
    irsim::FaultRule f;
    std::string why;
    if (!irsim::FaultRule::parse(rule, &f, &why))
        return false;
    m_camera->faults().add(f);
    return true;
}

std::vector<irsim::Request> TransferRig::requests() const
{
    std::vector<irsim::Request> out;
    for (const auto& frame : m_camera->core().requestLog())
        out.push_back(irsim::classifyFrame(frame));
    return out;
}

std::vector<int> TransferRig::blockCommands() const
{
    std::vector<int> out;
    for (const auto& r : requests())
        if (r.kind == irsim::Request::Block)
            out.push_back(r.command);
    return out;
}

std::vector<QByteArray> TransferRig::blockData(int cmd) const
{
    std::vector<QByteArray> out;
    for (const auto& r : requests())
        if (r.kind == irsim::Request::Block && r.command == cmd)
            out.emplace_back(reinterpret_cast<const char*>(r.data.data()), int(r.data.size()));
    return out;
}

bool TransferRig::lastRequestIsExit() const
{
    const auto all = requests();
    return !all.empty() && all.back().kind == irsim::Request::Block && all.back().command == 0xE6;
}

QStringList TransferRig::requestLines() const
{
    QStringList out;
    for (const irsim::Request& r : requests()) {
        if (r.kind == irsim::Request::LongWrite) {
            out << QStringLiteral("%1=%2").arg(r.address, 0, 16).arg(r.value).toUpper();
        } else if (r.kind == irsim::Request::Block) {
            const QByteArray data(reinterpret_cast<const char*>(r.data.data()), int(r.data.size()));
            QString line = QString::number(r.command, 16).toUpper();
            if (r.command == 0xEE)
                line += QStringLiteral(" %1").arg(data.size());
            else if (!data.isEmpty())
                line += QLatin1Char(' ') + QString::fromLatin1(data.toHex());
            out << line;
        } else {
            out << QStringLiteral("other");
        }
    }
    return out;
}

QByteArray TransferRig::flash(uint32_t address, int len) const
{
    const auto bytes = m_camera->core().readFlash(address, size_t(len));
    return QByteArray(reinterpret_cast<const char*>(bytes.data()), int(bytes.size()));
}

QByteArray pattern(int n, int seed)
{
    QByteArray b(n, 0);
    for (int i = 0; i < n; ++i)
        b[i] = char(seed + i * 13 + (i >> 8) * 7);
    return b;
}

} // namespace transfertest
