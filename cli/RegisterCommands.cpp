#include "CliCommand.h"
#include "CliApp.h"

#include "CameraInfoDataManager.h"
#include "DataExchange.h"

#include <QString>
#include <QStringList>

#include <cctype>
#include <ostream>

namespace irbench_cli {

namespace {

// Each command checks its arguments before anything is connected and returns the
// work to do once the link is up.
bool prepReadReg(Context& c, Action* act)
{
    unsigned long long addr;
    if (!number(c, 0, 0xFFFFFFFFull, &addr, "地址"))
        return false;
    *act = [addr](Context& c) {
        unsigned value = 0;
        DataExchange* dx = DataExchange::instance();
        if (!dx->readRegister(int(addr), &value) || !dx->lastReplyReceived()) {
            c.err << "机芯无应答: 读寄存器 " << hex32(addr, false) << " 失败\n";
            return int(ExitDevice);
        }
        c.out << hex32(value, true) << "\n";
        return int(ExitOk);
    };
    return true;
}

bool prepWriteReg(Context& c, Action* act)
{
    unsigned long long addr, value;
    if (!number(c, 0, 0xFFFFFFFFull, &addr, "地址") || !number(c, 1, 0xFFFFFFFFull, &value, "数值"))
        return false;
    *act = [addr, value](Context& c) {
        if (!DataExchange::instance()->writeRegister(int(addr), int(uint32_t(value)))) {
            c.err << "机芯未确认: 写寄存器 " << hex32(addr, false) << " = " << hex32(value, false) << " 失败\n";
            return int(ExitDevice);
        }
        return int(ExitOk);
    };
    return true;
}

bool prepReadShort(Context& c, Action* act)
{
    unsigned long long addr;
    if (!number(c, 0, 0xFF, &addr, "短地址"))
        return false;
    *act = [addr](Context& c) {
        unsigned value = 0;
        DataExchange* dx = DataExchange::instance();
        if (!dx->readShortRegister(int(addr), &value) || !dx->lastReplyReceived()) {
            c.err << "机芯无应答: 读短寄存器 " << hex32(addr, false) << " 失败\n";
            return int(ExitDevice);
        }
        c.out << hex32(value, false) << "\n";
        return int(ExitOk);
    };
    return true;
}

bool prepWriteShort(Context& c, Action* act)
{
    unsigned long long addr, value, width;
    if (!number(c, 0, 0xFF, &addr, "短地址") || !number(c, 1, 0xFFFFFFFFull, &value, "数值")
        || !number(c, 2, 4, &width, "宽度"))
        return false;
    if (width != 1 && width != 2 && width != 4)
        return usageError(c, "宽度只能是 1、2 或 4");
    if ((width == 1 && value > 0xFF) || (width == 2 && value > 0xFFFF))
        return usageError(c, "数值超出该宽度的范围");
    *act = [addr, value, width](Context& c) {
        int v = int(uint32_t(value));
        if (!DataExchange::instance()->writeRegisterSized(int(addr), &v, int(width))) {
            c.err << "机芯未确认: 写短寄存器 " << hex32(addr, false) << " = " << hex32(value, false) << " 失败\n";
            return int(ExitDevice);
        }
        return int(ExitOk);
    };
    return true;
}

bool prepRaw(Context& c, Action* act)
{
    const std::string text = c.opt.args[0];
    if (text.empty() || text.size() > 64)
        return usageError(c, "命令须为 1 到 64 个十六进制字符(最多 32 字节)");
    for (char ch : text)
        if (!std::isxdigit(static_cast<unsigned char>(ch)))
            return usageError(c, "命令只能包含十六进制字符, 不能有空格或分隔符");
    *act = [text](Context& c) {
        if (!DataExchange::instance()->sendRawCommand(QString::fromStdString(text))) {
            c.err << "机芯未确认: 命令 " << text << " 失败\n";
            return int(ExitDevice);
        }
        return int(ExitOk);
    };
    return true;
}

bool prepIdentify(Context& c, Action* act)
{
    unsigned long long form = 0;
    if (c.opt.args.size() == 2) {
        if (c.opt.args[0] != "--form")
            return usageError(c, "identify 只接受 --form N");
        if (!number(c, 1, 3, &form, "设备形态"))
            return false;
    } else if (!c.opt.args.empty()) {
        return usageError(c, "参数个数不对: identify [--form N]");
    }
    *act = [form](Context& c) {
        CameraInfoDataManager* mgr = CameraInfoDataManager::instance();
        mgr->setDeviceForm(int(form));
        mgr->identifyNow();
        const QStringList v = mgr->versions();
        const QSize size = mgr->frameSize();
        auto line = [&c](const char* key, const QString& value) {
            c.out << key << ": " << value.toStdString() << "\n";
        };
        line("module_info", mgr->moduleInfo());
        line("sensor_id", mgr->sensorId());
        line("serial_number", mgr->serialNumber());
        const char* versionKeys[] = {"software_version", "software_date", "fpga_version",
                                     "fpga_date", "process_date", "hardware_date"};
        for (int i = 0; i < 6; ++i)
            line(versionKeys[i], i < v.size() ? v[i] : QString());
        line("sensor_type", QString::number(mgr->sensorTypeCode()));
        line("core_class", QString::number(mgr->coreClass()));
        line("frame_size", QString("%1x%2").arg(size.width()).arg(size.height()));
        if (mgr->readError() != 0) {
            c.err << mgr->readErrorText().toStdString() << "\n";
            return int(ExitDevice);
        }
        return int(ExitOk);
    };
    return true;
}

} // namespace

void addRegisterCommands(CommandTable& t)
{
    t["read-reg"] = {1, "read-reg ADDR", "读 32 位寄存器, 输出 0x%08x", true, prepReadReg};
    t["write-reg"] = {2, "write-reg ADDR VALUE", "写 32 位寄存器, 机芯回 1 为成功", true, prepWriteReg};
    t["read-short"] = {1, "read-short ADDR8", "读短寄存器, 输出 0x%x", true, prepReadShort};
    t["write-short"] = {3, "write-short ADDR8 VALUE WIDTH", "写短寄存器 (宽度 1、2 或 4 字节)", true, prepWriteShort};
    t["raw"] = {1, "raw HEXTEXT", "发送一条十六进制命令 (最多 32 字节)", true, prepRaw};
    t["identify"] = {-1, "identify [--form N]", "识别机芯: 模块信息、传感器 ID、序列号、版本、类型、尺寸", true, prepIdentify};
}

} // namespace irbench_cli
