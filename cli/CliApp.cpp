#include "CliApp.h"
#include "CliCommand.h"

#include "CComConnect.h"
#include "CDevice.h"
#include "LinkClosing.h"
#include "CNetConnect.h"
#include "CommandLogText.h"
#include "DataExchange.h"
#include "NetLoginError.h"

#include <QObject>

#include <cctype>
#include <algorithm>
#include <cstdio>
#include <functional>
#include <map>
#include <memory>
#include <ostream>

namespace irbench_cli {

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

namespace {

const CommandTable& commands()
{
    static const CommandTable table = [] {
        CommandTable t;
        addRegisterCommands(t);
        addFileCommands(t);
        addTransferCommands(t);
        addStreamCommands(t);
        addCalibrationCommands(t);
        addCaptureCommands(t);
        addSensorConfigCommands(t);
        addNoShutterCommands(t);
        addHistoryCommands(t);
        addSheetCommands(t);
        addDriftCommands(t);
        addQualityCommands(t);
        return t;
    }();
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
        } else if (a == "--pacing") {
            DataExchange::Pacing pacing = DataExchange::Pacing::Fixed;
            if (!(v = need(a)) || !DataExchange::pacingFromName(QString::fromStdString(*v), &pacing)) {
                err << "用法错误: --pacing 只能是 fixed 或 reply\n";
                return ExitUsage;
            }
            o.pacing = pacing;
        } else if (a == "--db") {
            const std::string* v = need("--db");
            if (!v)
                return ExitUsage;
            o.db = *v;
        } else if (a == "--trace") {
            o.trace = true;
        } else if (a == "--help" || a == "-h") {
            o.command = "help";
            return ExitOk;
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
    std::string u = "irbench-cli [--serial PATH [--baud N] | --net HOST[:PORT] [--user U] [--password P] [--channel N]]\n"
                    "            [--poll-ms N] [--pacing fixed|reply] [--trace] [--db sqlite:PATH|postgresql://U@H:P/DB] COMMAND ARGS\n"
                    "  help (或 --help, -h)              显示本说明\n";
    for (const auto& entry : commands()) {
        std::string syn = entry.second.synopsis;
        syn.resize(std::max<size_t>(syn.size() + 2, 34), ' ');
        u += "  " + syn + entry.second.help + "\n";
    }
    u += "数字可写十进制或 0x 十六进制。默认网络 127.0.0.1:8000, 用户 admin, 密码 admin, 通道 1;\n"
         "串口默认 115200 波特; --poll-ms 默认 200。\n"
         "--pacing fixed: 每次读取前等待一个轮询间隔 (默认); reply: 应答一到即返回, 超时与 fixed 相同。\n"
         "--db: 历史记录数据库 (默认 设置 > 数据库…, 未设置时为 <数据目录>/info/irbench.sqlite);\n"
         "服务器密码取自环境变量 IRBENCH_DB_PASSWORD 或 ~/.pgpass。\n"
         "退出码: 0 成功, 1 机芯拒绝或无应答, 2 用法错误, 3 无法连接。\n"
         "输出文件无法写入也为 1; 输入文件不可用 (不存在、为空、是文件夹或长度不对) 为 2, 在连接机芯之前检查。\n";
    return u;
}

int run(const std::vector<std::string>& args, std::ostream& out, std::ostream& err)
{
    Context c{Options(), out, err};
    if (parseOptions(args, c.opt, err) != ExitOk) {
        err << usage();
        return ExitUsage;
    }
    if (c.opt.command == "help") {
        out << usage();
        return ExitOk;
    }
    const auto it = commands().find(c.opt.command);
    if (it == commands().end()) {
        usageError(c, "未知命令 " + c.opt.command);
        return ExitUsage;
    }
    Action action;
    if (it->second.argc >= 0 && int(c.opt.args.size()) != it->second.argc) {
        usageError(c, std::string("参数个数不对: ") + it->second.synopsis);
        return ExitUsage;
    }
    if (!configureHistory(c))
        return ExitUsage;
    if (!it->second.prepare(c, &action))
        return c.refusal;

    DataExchange::setPollIntervalMs(c.opt.pollMs);
    DataExchange::setPacing(c.opt.pacing);
    DataExchange* dx = DataExchange::instance();
    QObject traceContext;
    if (c.opt.trace) {
        QObject::connect(dx, &DataExchange::signalSendCMD, &traceContext,
                         [&err](const QString& s) { err << commandLogLine(s, true).toStdString() << "\n"; },
                         Qt::DirectConnection);
        QObject::connect(dx, &DataExchange::signalRecvCMD, &traceContext,
                         [&err](const QString& s) { err << commandLogLine(s, false).toStdString() << "\n"; },
                         Qt::DirectConnection);
        QObject::connect(dx, &DataExchange::signalDroppedReply, &traceContext,
                         [&err](const QString& s, const QString& why) {
                             err << droppedReplyLogLine(s, why).toStdString() << "\n";
                         },
                         Qt::DirectConnection);
    }

    if (!it->second.needsLink) {
        const int rc = action(c);
        finishHistory(c);
        return rc;
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
            err << "设备连接失败! 无法登录 " << c.opt.host << ":" << c.opt.port << "\n"
                << netLoginFailureReason(net->LastLoginError(), QString::fromStdString(c.opt.host), c.opt.port)
                       .toStdString()
                << "\n";
            return ExitNoConnection;
        }
        CDevice::SetConnect(net.get());
    }

    setHistoryLink(c.opt);
    const int rc = action(c);
    closeCurrentLink();
    finishHistory(c);
    return rc;
}

} // namespace irbench_cli
