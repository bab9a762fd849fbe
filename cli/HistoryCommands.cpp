#include "CliApp.h"
#include "CliCommand.h"

#include "HistoryQuery.h"
#include "HistoryRecorder.h"

#include <QDate>

#include <ostream>

namespace irbench_cli {

namespace {

// A scripted run waits this long at its end for the outbox to reach the server; a
// server that is away costs at most this (the events stay in the outbox).
constexpr int kExitForwardMs = 2000;
constexpr int kFlushMs = 10000;
constexpr int kSyncMs = 60000;

bool prepHistory(Context& c, Action* act)
{
    HistoryFilter filter;
    bool csv = false;
    const auto& a = c.opt.args;
    for (size_t i = 0; i < a.size(); ++i) {
        if (a[i] == "--csv") {
            csv = true;
        } else if (a[i] == "--kind") {
            if (i + 1 >= a.size())
                return usageError(c, "--kind 缺少事件类型");
            filter.kind = QString::fromStdString(a[++i]);
            if (!HistoryKind::all().contains(filter.kind))
                return usageError(c, "未知事件类型 " + a[i] + " (可选: " +
                                         HistoryKind::all().join(QLatin1Char(' ')).toStdString() + ")");
        } else if (a[i] == "--since") {
            if (i + 1 >= a.size())
                return usageError(c, "--since 缺少日期");
            filter.since = QDate::fromString(QString::fromStdString(a[++i]), QStringLiteral("yyyy-MM-dd"));
            if (!filter.since.isValid())
                return usageError(c, "日期 \"" + a[i] + "\" 应写作 YYYY-MM-DD");
        } else if (!a[i].empty() && a[i][0] == '-') {
            return usageError(c, "未知参数 " + a[i]);
        } else if (filter.sensorId.isEmpty()) {
            filter.sensorId = QString::fromStdString(a[i]);
        } else {
            return usageError(c, "参数个数不对: history [SENSORID] [--kind KIND] [--since YYYY-MM-DD] [--csv]");
        }
    }
    *act = [filter, csv](Context& c) {
        HistoryRecorder* rec = HistoryRecorder::instance();
        const HistoryConfig cfg = rec->config();
        QList<HistoryEvent> events;
        QString error;
        bool ok = false;
        if (cfg.hasServer()) {
            ok = queryHistory(cfg, HistorySource::Server, filter, &events, &error);
            if (!ok)
                c.err << "数据库服务器不可用 (" << error.toStdString() << "), 显示本机记录\n";
        }
        if (!ok && !queryHistory(cfg, HistorySource::Local, filter, &events, &error)) {
            c.err << "读取记录失败: " << error.toStdString() << "\n";
            return int(ExitDevice);
        }
        if (csv) {
            c.out << historyCsv(events).toStdString();
        } else {
            for (const HistoryEvent& e : events)
                c.out << historyLine(e).toStdString() << "\n";
        }
        return int(ExitOk);
    };
    return true;
}

bool prepDbSync(Context& c, Action* act)
{
    if (!HistoryRecorder::instance()->config().hasServer()) {
        c.err << "未设置数据库服务器 (--db postgresql://USER@HOST:PORT/DB 或 设置 > 数据库…)\n";
        return false;
    }
    *act = [](Context& c) {
        HistoryRecorder* rec = HistoryRecorder::instance();
        QString error;
        const int sent = rec->syncNow(kSyncMs, &error);
        if (sent < 0) {
            c.err << "上传失败: " << error.toStdString() << " (" << rec->state().pending << " 条待上传)\n";
            return int(ExitDevice);
        }
        c.out << "已上传 " << sent << " 条记录\n";
        return int(ExitOk);
    };
    return true;
}

} // namespace

bool configureHistory(Context& c)
{
    HistoryConfig cfg = HistoryConfig::fromSettings();
    if (!c.opt.db.empty()) {
        QString error;
        if (!HistoryConfig::parseDbOption(QString::fromStdString(c.opt.db), &cfg, &error)) {
            c.err << "用法错误: --db " << error.toStdString() << "\n";
            return false;
        }
    }
    HistoryRecorder::instance()->configure(cfg);
    return true;
}

void setHistoryLink(const Options& o)
{
    HistoryRecorder::instance()->setLink(
        o.serial ? QString::fromStdString(o.serialPath)
                 : QStringLiteral("%1:%2 通道 %3").arg(QString::fromStdString(o.host)).arg(o.port).arg(o.channel));
}

void finishHistory(Context& c)
{
    HistoryRecorder* rec = HistoryRecorder::instance();
    if (!rec->flushLocal(kFlushMs)) {
        c.err << "记录未保存: " << rec->state().localError.toStdString() << "\n";
        return;
    }
    if (rec->config().hasServer() && rec->state().pending > 0) {
        QString error;
        rec->syncNow(kExitForwardMs, &error);
    }
}

void addHistoryCommands(CommandTable& t)
{
    t["history"] = {-1, "history [SENSORID] [--kind K] [--since D] [--csv]",
                    "打印机芯的历史记录 (新的在前); --csv 带表头的 CSV", false, prepHistory};
    t["db-sync"] = {0, "db-sync", "把本机待上传的记录立即上传到数据库服务器, 打印条数", false, prepDbSync};
}

} // namespace irbench_cli
