#include "HistoryTabWidget.h"

#include "CComonFun.h"
#include "CameraInfoDataManager.h"
#include "CustomMessageBox.h"
#include "FileChooser.h"
#include "HistoryQuery.h"
#include "HistoryRecorder.h"

#include <QComboBox>
#include <QCoreApplication>
#include <QDir>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QPointer>
#include <QPushButton>
#include <QTableWidget>
#include <QThreadPool>
#include <QTimer>
#include <QVBoxLayout>

namespace {

constexpr int kShownEvents = 2000;
// Events recorded a moment ago should be in the list: the reader waits this long for
// the recorder's file (on its own thread).
constexpr int kFlushMs = 2000;

QString localTime(const QDateTime& t)
{
    return t.toLocalTime().toString(QStringLiteral("yyyy-MM-dd HH:mm:ss"));
}

} // namespace

HistoryTabWidget::HistoryTabWidget(QWidget* parent)
    : QWidget(parent)
{
    setObjectName("HistoryTab");
    m_pLabCore = new QLabel(this);
    m_pLabCore->setObjectName("m_pLabHistoryCore");
    m_pCbxKind = new QComboBox(this);
    m_pCbxKind->setObjectName("m_pCbxHistoryKind");
    m_pCbxKind->addItem(QStringLiteral("全部类型"), QString());
    for (const QString& kind : HistoryKind::all())
        m_pCbxKind->addItem(HistoryKind::caption(kind), kind);
    m_pBtnRefresh = new QPushButton(QStringLiteral("刷新"), this);
    m_pBtnRefresh->setObjectName("m_pBtnHistoryRefresh");
    m_pBtnExport = new QPushButton(QStringLiteral("导出CSV"), this);
    m_pBtnExport->setObjectName("m_pBtnHistoryExport");
    m_pTabEvents = new QTableWidget(0, 6, this);
    m_pTabEvents->setObjectName("m_pTabHistory");
    m_pTabEvents->setHorizontalHeaderLabels({QStringLiteral("时间"), QStringLiteral("类型"), QStringLiteral("结果"),
                                             QStringLiteral("工位"), QStringLiteral("操作员"), QStringLiteral("详情")});
    m_pTabEvents->horizontalHeader()->setStretchLastSection(true);
    m_pTabEvents->verticalHeader()->setVisible(false);
    m_pTabEvents->setEditTriggers(QAbstractItemView::NoEditTriggers);
    m_pTabEvents->setSelectionBehavior(QAbstractItemView::SelectRows);
    m_pTabEvents->setWordWrap(false);
    m_pLabNote = new QLabel(this);
    m_pLabNote->setObjectName("m_pLabHistoryNote");
    m_pTimerRefresh = new QTimer(this);
    m_pTimerRefresh->setSingleShot(true);
    m_pTimerRefresh->setInterval(500);

    auto* bar = new QHBoxLayout;
    bar->addWidget(m_pLabCore, 1);
    auto* kindCaption = new QLabel(QStringLiteral("类型："), this);
    kindCaption->setObjectName("m_pLabHistoryKind");
    bar->addWidget(kindCaption);
    bar->addWidget(m_pCbxKind);
    bar->addWidget(m_pBtnRefresh);
    bar->addWidget(m_pBtnExport);
    auto* top = new QVBoxLayout(this);
    top->addLayout(bar);
    top->addWidget(m_pTabEvents, 1);
    top->addWidget(m_pLabNote);

    connect(m_pBtnRefresh, &QPushButton::clicked, this, &HistoryTabWidget::onRefresh);
    connect(m_pBtnExport, &QPushButton::clicked, this, &HistoryTabWidget::onBtnExportCsv);
    connect(m_pCbxKind, &QComboBox::currentIndexChanged, this, &HistoryTabWidget::onRefresh);
    connect(m_pTimerRefresh, &QTimer::timeout, this, &HistoryTabWidget::onRefresh);
    // New events and a newly identified core show by themselves while the tab is open.
    auto later = [this] {
        if (isVisible() && !m_pTimerRefresh->isActive())
            m_pTimerRefresh->start();
    };
    connect(HistoryRecorder::instance(), &HistoryRecorder::signalStateChanged, this, later, Qt::QueuedConnection);
    connect(CameraInfoDataManager::instance(), &CameraInfoDataManager::signalSetShowInfo, this, later,
            Qt::QueuedConnection);
}

void HistoryTabWidget::showEvent(QShowEvent* event)
{
    QWidget::showEvent(event);
    onRefresh();
}

void HistoryTabWidget::onRefresh()
{
    if (m_loading) {
        m_again = true; // one more read once this one is in
        return;
    }
    CameraInfoDataManager* mgr = CameraInfoDataManager::instance();
    HistoryFilter filter;
    filter.sensorId = mgr->isIdentified() ? mgr->sensorId() : QString();
    filter.kind = m_pCbxKind->currentData().toString();
    filter.limit = kShownEvents;
    m_pLabCore->setText(filter.sensorId.isEmpty() ? QStringLiteral("机芯：全部")
                                                  : QStringLiteral("机芯：") + filter.sensorId);
    m_loading = true;
    m_pLabNote->setText(QStringLiteral("正在读取记录..."));
    const HistoryConfig cfg = HistoryRecorder::instance()->config();
    QPointer<HistoryTabWidget> self(this);
    QThreadPool::globalInstance()->start([self, cfg, filter] {
        HistoryRecorder::instance()->flushLocal(kFlushMs);
        QList<HistoryEvent> events;
        QString error;
        QString note;
        bool ok = false;
        if (cfg.hasServer()) {
            ok = queryHistory(cfg, HistorySource::Server, filter, &events, &error);
            if (!ok)
                note = QStringLiteral("数据库服务器不可用，显示本机记录");
        }
        if (!ok && !queryHistory(cfg, HistorySource::Local, filter, &events, &error)) {
            events.clear();
            note = QStringLiteral("读取记录失败：") + error;
        }
        QMetaObject::invokeMethod(
            QCoreApplication::instance(),
            [self, events, note] {
                if (self)
                    self->showEvents(events, note);
            },
            Qt::QueuedConnection);
    });
}

void HistoryTabWidget::showEvents(const QList<HistoryEvent>& events, const QString& note)
{
    m_loading = false;
    m_events = events;
    m_pTabEvents->setRowCount(0);
    m_pTabEvents->setRowCount(int(events.size()));
    for (int row = 0; row < events.size(); ++row) {
        const HistoryEvent& e = events[row];
        const QStringList cells{localTime(e.started), HistoryKind::caption(e.kind), historyResultText(e), e.station,
                                e.operatorName, historyDetailsText(e.details)};
        for (int col = 0; col < cells.size(); ++col) {
            auto* item = new QTableWidgetItem(cells[col]);
            if (col == 5)
                item->setToolTip(QString(cells[col]).replace(QLatin1Char(' '), QLatin1Char('\n')));
            if (col == 2 && !e.ok)
                item->setForeground(QColor(0xd0, 0x10, 0x10));
            m_pTabEvents->setItem(row, col, item);
        }
    }
    m_pTabEvents->resizeColumnsToContents();
    m_pLabNote->setText(note.isEmpty() ? QStringLiteral("共 %1 条").arg(events.size()) : note);
    if (m_again) {
        m_again = false;
        onRefresh();
    }
}

void HistoryTabWidget::onBtnExportCsv()
{
    if (m_events.isEmpty()) {
        CustomMessageBox::MsgBox(nullptr, QStringLiteral("提示"), QStringLiteral("没有可导出的记录"), 0);
        return;
    }
    CameraInfoDataManager* mgr = CameraInfoDataManager::instance();
    const QString name = QStringLiteral("history_%1_%2.csv")
                             .arg(mgr->isIdentified() ? mgr->safeSensorId() : QStringLiteral("all"),
                                  CComonFun::dateStamp());
    const QString path = FileChooser::getSaveFileName(nullptr, QStringLiteral("导出CSV"),
                                                      QDir(CComonFun::dataRoot()).filePath(name),
                                                      QStringLiteral("CSV (*.csv)"));
    if (path.isEmpty())
        return;
    QString error;
    if (!writeHistoryCsv(path, m_events, &error)) {
        CustomMessageBox::MsgBox(nullptr, QStringLiteral("错误"),
                                 QStringLiteral("导出失败: %1\n%2").arg(QDir::toNativeSeparators(path), error), 0);
        return;
    }
    CustomMessageBox::MsgBox(nullptr, QStringLiteral("提示"),
                             QStringLiteral("已导出 %1 条记录到 %2").arg(m_events.size()).arg(QDir::toNativeSeparators(path)),
                             0);
}
