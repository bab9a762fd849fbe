#include "CliApp.h"

#include "CComConnect.h"
#include "CDevice.h"
#include "CNetConnect.h"
#include "CommandLogText.h"
#include "DataExchange.h"

#include <QObject>

#include <cctype>
#include <cstdio>
#include <functional>
#include <map>
#include <memory>
#include <ostream>

namespace irbench_cli {

namespace {

struct Options {
    bool serial = false;
    std::string serialPath;
    int baud = 115200;
    std::string host = "127.0.0.1";
    int port = 8000;
    std::string user = "admin";
    std::string password = "admin";
    int channel = 1;
    double pollMs = 200;
    bool trace = false;
    std::string command;
    std::vector<std::string> args;
};

struct Context {
    Options opt;
    std::ostream& out;
    std::ostream& err;
};

using Action = std::function<int(Context&)>;

struct Command {
    int argc;             // exact number of arguments
    const char* synopsis; // for messages
    std::function<bool(Context&, Action*)> prepare; // false: usage error already reported
};

std::string hex32(unsigned long long v, bool pad)
{
    char buf[32];
    std::snprintf(buf, sizeof(buf), pad ? "0x%08llx" : "0x%llx", v);
    return buf;
}

bool usageError(Context& c, const std::string& why)
{
    c.err << "用法错误: " << why << "\n" << usage();
    return false;
}

bool number(Context& c, size_t i, unsigned long long max, unsigned long long* v, const char* what)
{
    if (parseNumber(c.opt.args[i], max, v))
        return true;
    return usageError(c, std::string(what) + " \"" + c.opt.args[i] + "\" 不是有效的数字或超出范围");
}

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

const std::map<std::string, Command>& commands()
{
    static const std::map<std::string, Command> table = {
        {"read-reg", {1, "read-reg ADDR", prepReadReg}},
        {"write-reg", {2, "write-reg ADDR VALUE", prepWriteReg}},
        {"read-short", {1, "read-short ADDR8", prepReadShort}},
        {"write-short", {3, "write-short ADDR8 VALUE WIDTH", prepWriteShort}},
        {"raw", {1, "raw HEXTEXT", prepRaw}},
    };
    return table;
}

// Parses options up to the command word. Returns ExitOk or ExitUsage.
int parseOptions(const std::vector<std::string>& args, Options& o, std::ostream& err)
{
    bool sawNet = false;
    size_t i = 0;
    auto need = [&](const std::string& name) -> const std::string* {
        if (i + 1 >= args.size()) {
            err << "用法错误: " << name << " 缺少参数\n";
            return nullptr;
        }
        return &args[++i];
    };
    for (; i < args.size(); ++i) {
        const std::string& a = args[i];
        if (a.empty() || a[0] != '-')
            break;
        unsigned long long n = 0;
        const std::string* v = nullptr;
        if (a == "--serial") {
            if (!(v = need(a)))
                return ExitUsage;
            o.serial = true;
            o.serialPath = *v;
        } else if (a == "--baud") {
            if (!(v = need(a)) || !parseNumber(*v, 4000000, &n) || n == 0) {
                err << "用法错误: --baud 需要正整数\n";
                return ExitUsage;
            }
            o.baud = int(n);
        } else if (a == "--net") {
            if (!(v = need(a)))
                return ExitUsage;
            sawNet = true;
            std::string hp = *v;
            const auto colon = hp.rfind(':');
            if (colon != std::string::npos) {
                if (!parseNumber(hp.substr(colon + 1), 65535, &n) || n == 0) {
                    err << "用法错误: 端口无效: " << hp << "\n";
                    return ExitUsage;
                }
                o.port = int(n);
                hp = hp.substr(0, colon);
            }
            if (hp.empty()) {
                err << "用法错误: --net 缺少地址\n";
                return ExitUsage;
            }
            o.host = hp;
        } else if (a == "--user") {
            if (!(v = need(a)))
                return ExitUsage;
            o.user = *v;
        } else if (a == "--password") {
            if (!(v = need(a)))
                return ExitUsage;
            o.password = *v;
        } else if (a == "--channel") {
            if (!(v = need(a)) || !parseNumber(*v, 0x7FFFFFFF, &n)) {
                err << "用法错误: --channel 需要整数\n";
                return ExitUsage;
            }
            o.channel = int(n);
        } else if (a == "--poll-ms") {
            if (!(v = need(a)) || !parseNumber(*v, 60000, &n)) {
                err << "用法错误: --poll-ms 需要 0 到 60000 的整数\n";
                return ExitUsage;
            }
            o.pollMs = double(n);
        } else if (a == "--trace") {
            o.trace = true;
        } else if (a == "--help" || a == "-h") {
            return ExitUsage;
        } else {
            err << "用法错误: 未知选项 " << a << "\n";
            return ExitUsage;
        }
    }
    if (o.serial && sawNet) {
        err << "用法错误: --serial 与 --net 只能选一个\n";
        return ExitUsage;
    }
    if (i >= args.size()) {
        err << "用法错误: 缺少命令\n";
        return ExitUsage;
    }
    o.command = args[i];
    o.args.assign(args.begin() + long(i) + 1, args.end());
    return ExitOk;
}

} // namespace

bool parseNumber(const std::string& text, unsigned long long max, unsigned long long* value)
{
    if (text.empty())
        return false;
    unsigned base = 10;
    size_t i = 0;
    if (text.size() > 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X')) {
        base = 16;
        i = 2;
    }
    unsigned long long v = 0;
    for (; i < text.size(); ++i) {
        const char ch = text[i];
        unsigned d;
        if (ch >= '0' && ch <= '9')
            d = unsigned(ch - '0');
        else if (base == 16 && ch >= 'a' && ch <= 'f')
            d = unsigned(ch - 'a' + 10);
        else if (base == 16 && ch >= 'A' && ch <= 'F')
            d = unsigned(ch - 'A' + 10);
        else
            return false;
        v = v * base + d;
        if (v > max)
            return false;
    }
    *value = v;
    return true;
}

std::string usage()
{
    return "irbench-cli [--serial PATH [--baud N] | --net HOST[:PORT] [--user U] [--password P] [--channel N]]\n"
           "            [--poll-ms N] [--trace] COMMAND ARGS\n"
           "  read-reg ADDR                   读 32 位寄存器, 输出 0x%08x\n"
           "  write-reg ADDR VALUE            写 32 位寄存器, 机芯回 1 为成功\n"
           "  read-short ADDR8                读短寄存器, 输出 0x%x\n"
           "  write-short ADDR8 VALUE WIDTH   写短寄存器 (宽度 1、2 或 4 字节)\n"
           "  raw HEXTEXT                     发送一条十六进制命令 (最多 32 字节)\n"
           "数字可写十进制或 0x 十六进制。默认网络 127.0.0.1:8000, 用户 admin, 密码 admin, 通道 1;\n"
           "串口默认 115200 波特; --poll-ms 默认 200。\n"
           "退出码: 0 成功, 1 机芯拒绝或无应答, 2 用法错误, 3 无法连接。\n";
}

int run(const std::vector<std::string>& args, std::ostream& out, std::ostream& err)
{
    Context c{Options(), out, err};
    if (parseOptions(args, c.opt, err) != ExitOk) {
        err << usage();
        return ExitUsage;
    }
    const auto it = commands().find(c.opt.command);
    if (it == commands().end()) {
        usageError(c, "未知命令 " + c.opt.command);
        return ExitUsage;
    }
    Action action;
    if (int(c.opt.args.size()) != it->second.argc) {
        usageError(c, std::string("参数个数不对: ") + it->second.synopsis);
        return ExitUsage;
    }
    if (!it->second.prepare(c, &action))
        return ExitUsage;

    DataExchange::setPollIntervalMs(c.opt.pollMs);
    DataExchange* dx = DataExchange::instance();
    QObject traceContext;
    if (c.opt.trace) {
        QObject::connect(dx, &DataExchange::signalSendCMD, &traceContext,
                         [&err](const QString& s) { err << commandLogLine(s, true).toStdString() << "\n"; },
                         Qt::DirectConnection);
        QObject::connect(dx, &DataExchange::signalRecvCMD, &traceContext,
                         [&err](const QString& s) { err << commandLogLine(s, false).toStdString() << "\n"; },
                         Qt::DirectConnection);
    }

    std::unique_ptr<CComConnect> com;
    std::unique_ptr<CNetConnect> net;
    if (c.opt.serial) {
        com = std::make_unique<CComConnect>();
        if (!com->Open(c.opt.serialPath, c.opt.baud)) {
            err << "设备连接失败! 无法打开串口 " << c.opt.serialPath << " (不存在、无权限或已被占用)\n";
            return ExitNoConnection;
        }
        CDevice::SetConnect(com.get());
    } else {
        net = std::make_unique<CNetConnect>();
        NetLoginParams p;
        p.ip = c.opt.host;
        p.port = c.opt.port;
        p.user = c.opt.user;
        p.password = c.opt.password;
        p.channel = c.opt.channel;
        if (!net->Login(p)) {
            err << "设备连接失败! 无法登录 " << c.opt.host << ":" << c.opt.port << "\n";
            return ExitNoConnection;
        }
        CDevice::SetConnect(net.get());
    }

    const int rc = action(c);
    CDevice::Close();
    return rc;
}

} // namespace irbench_cli
