#include "QualityGroup.h"

#include "CFindFrame.h"
#include "CPageTransferContext.h"
#include "CalibrationTree.h"
#include "CameraInfoDataManager.h"
#include "CustomMessageBox.h"
#include "DetectPageWidget.h"
#include "DeviceRunner.h"
#include "HistoryConfig.h"
#include "HistoryRecorder.h"
#include "IFrameSource.h"
#include "PathText.h"
#include "QualityPictures.h"
#include "QualityReport.h"
#include "QualityRun.h"

#include <QDir>
#include <QFileInfo>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QPointer>
#include <QProgressBar>
#include <QPushButton>
#include <QTableWidget>
#include <QUrl>
#include <QVBoxLayout>

#include <memory>

namespace {

constexpr int kMapWidth = 240;
constexpr QSize kHistSize(340, 180);

void tell(const QString& title, const QString& text)
{
    CustomMessageBox::MsgBox(nullptr, title, text, 0);
}

// What the worker hands back: the run, then the core's writes for the report (the
// history is read off the GUI thread).
struct QualityOutcome {
    QualityRunResult run;
    QList<QPair<QString, QString>> writes;
    QString writesError;
};

// 项目, 测量值, 标准, 结果 of each figure, for the box and the report alike.
QList<QStringList> figureRows(const QualityRunResult& r)
{
    QList<QStringList> rows;
    for (const char* key : kQualityKeys) {
        const QString limit = qualityLimitText(r.limits, key);
        const QString result = limit.isEmpty()
            ? QString()
            : (qualityFailed(r.verdict, key) ? QStringLiteral("未通过") : QStringLiteral("通过"));
        rows << QStringList{qualityCaption(key), qualityValueText(r.figures, key), limit, result};
    }
    return rows;
}

QList<QPair<QString, QString>> identityRows()
{
    static const char* const kVersionCaptions[6] = {"软件版本", "软件版本日期", "FPGA版本",
                                                    "FPGA版本日期", "工艺版本日期", "硬件版本日期"};
    const CameraInfoDataManager* mgr = CameraInfoDataManager::instance();
    QList<QPair<QString, QString>> rows;
    // Sensor ID and serial number head the report already.
    rows << qMakePair(QStringLiteral("机芯信息"), mgr->moduleInfo());
    const QSize size = mgr->frameSize();
    if (size.isValid() && !size.isEmpty())
        rows << qMakePair(QStringLiteral("分辨率"), QStringLiteral("%1 x %2").arg(size.width()).arg(size.height() - 2));
    rows << qMakePair(QStringLiteral("Sensor类型"), QString::number(mgr->sensorTypeCode()))
         << qMakePair(QStringLiteral("机芯类别"), QString::number(mgr->coreClass()));
    const QStringList versions = mgr->versions();
    for (int i = 0; i < 6; ++i)
        rows << qMakePair(QString::fromUtf8(kVersionCaptions[i]), versions.value(i));
    return rows;
}

} // namespace

QualityGroup::QualityGroup(DetectPageWidget* pPage)
    : QGroupBox(QStringLiteral("质量检验"), pPage)
    , m_pPage(pPage)
{
    setObjectName("m_pGBoxQuality");
    buildUi();
    connect(m_pBtnQuality, &QPushButton::clicked, this, &QualityGroup::OnBtnQuality);
    connect(DeviceRunner::instance(), &DeviceRunner::signalStatus, this, [this](const QString& text) {
        if (m_bRunning)
            m_pLabQualityStatus->setText(text);
    });
}

QualityGroup::~QualityGroup() = default;

void QualityGroup::buildUi()
{
    int frames = kDefaultQualityFrames;
    QualityLimits limits;
    readQualityLimits(&limits, &frames);
    m_pEdtQualityFrames = new QLineEdit(QString::number(frames), this);
    m_pEdtQualityFrames->setObjectName("m_pEdtQualityFrames");
    m_pEdtQualityFrames->setMaximumWidth(60);
    m_pBtnQuality = new QPushButton(QStringLiteral("质量检验"), this);
    m_pBtnQuality->setObjectName("m_pBtnQuality");
    m_pBtnQuality->setMinimumWidth(80);
    m_pLabQualityStatus = new QLabel(this);
    m_pLabQualityStatus->setObjectName("m_pLabQualityStatus");

    m_pTblQuality = new QTableWidget(8, 4, this);
    m_pTblQuality->setObjectName("m_pTblQuality");
    m_pTblQuality->setHorizontalHeaderLabels(
        {QStringLiteral("项目"), QStringLiteral("测量值"), QStringLiteral("标准"), QStringLiteral("结果")});
    m_pTblQuality->verticalHeader()->hide();
    m_pTblQuality->setEditTriggers(QAbstractItemView::NoEditTriggers);
    m_pTblQuality->setSelectionMode(QAbstractItemView::NoSelection);
    m_pTblQuality->setFocusPolicy(Qt::NoFocus);
    m_pTblQuality->horizontalHeader()->setSectionResizeMode(QHeaderView::Stretch);
    m_pTblQuality->verticalHeader()->setSectionResizeMode(QHeaderView::Fixed);
    m_pTblQuality->verticalHeader()->setDefaultSectionSize(23);
    m_pTblQuality->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    for (int i = 0; i < 8; ++i) {
        m_pTblQuality->setItem(i, 0, new QTableWidgetItem(qualityCaption(kQualityKeys[i])));
        for (int c = 1; c < 4; ++c)
            m_pTblQuality->setItem(i, c, new QTableWidgetItem);
    }
    // All eight rows without a scroll bar of their own: the page scrolls.
    // (the style sheet's header is taller than its size hint says before polish)
    m_pTblQuality->setFixedHeight(qMax(32, m_pTblQuality->horizontalHeader()->sizeHint().height()) + 8 * 23 + 6);
    m_pTblQuality->setMinimumWidth(340);

    m_pLabQualityVerdict = new QLabel(QStringLiteral("未检验"), this);
    m_pLabQualityVerdict->setObjectName("m_pLabQualityVerdict");
    m_pLabQualityVerdict->setAlignment(Qt::AlignCenter);
    m_pLabQualityVerdict->setMinimumSize(180, 90);
    QFont big = m_pLabQualityVerdict->font();
    big.setPointSize(30);
    big.setBold(true);
    m_pLabQualityVerdict->setFont(big);
    m_pLabQualityFailed = new QLabel(this);
    m_pLabQualityFailed->setObjectName("m_pLabQualityFailed");
    m_pLabQualityFailed->setWordWrap(true);
    m_pLabQualityFailed->setAlignment(Qt::AlignHCenter | Qt::AlignTop);
    m_pLabQualityFailed->setMaximumWidth(220);

    m_pLabQualityMap = new QLabel(this);
    m_pLabQualityMap->setObjectName("m_pLabQualityMap");
    m_pLabQualityMap->setFixedSize(kMapWidth, kMapWidth * 4 / 5);
    m_pLabQualityMap->setAlignment(Qt::AlignCenter);
    m_pLabQualityMap->setFrameShape(QFrame::StyledPanel);
    m_pLabQualityMap->setToolTip(QStringLiteral("偏差图：蓝低红高，±5σ 截止，黑色为坏点表像元"));
    m_pLabQualityHist = new QLabel(this);
    m_pLabQualityHist->setObjectName("m_pLabQualityHist");
    m_pLabQualityHist->setFixedSize(kHistSize);
    m_pLabQualityHist->setAlignment(Qt::AlignCenter);
    m_pLabQualityHist->setFrameShape(QFrame::StyledPanel);

    m_pPgbQuality = new QProgressBar(this);
    m_pPgbQuality->setObjectName("m_pPgbQuality");
    m_pPgbQuality->setRange(0, 100);
    m_pPgbQuality->setValue(0);
    m_pLabQualityReport = new QLabel(this);
    m_pLabQualityReport->setObjectName("m_pLabQualityReport");
    m_pLabQualityReport->setTextFormat(Qt::RichText);
    m_pLabQualityReport->setOpenExternalLinks(true);
    m_pLabQualityReport->setTextInteractionFlags(Qt::TextBrowserInteraction);

    auto* grid = new QGridLayout(this);
    grid->setHorizontalSpacing(10);
    grid->setVerticalSpacing(6);
    auto* top = new QHBoxLayout;
    top->addWidget(new QLabel(QStringLiteral("检验帧数："), this));
    top->addWidget(m_pEdtQualityFrames);
    top->addWidget(m_pBtnQuality);
    top->addSpacing(12);
    top->addWidget(m_pLabQualityStatus, 1);
    grid->addLayout(top, 0, 0, 1, 2);
    grid->addWidget(m_pTblQuality, 1, 0);
    auto* verdict = new QVBoxLayout;
    verdict->addWidget(m_pLabQualityVerdict);
    verdict->addWidget(m_pLabQualityFailed, 1);
    grid->addLayout(verdict, 1, 1);
    auto* pictures = new QHBoxLayout;
    pictures->addWidget(m_pLabQualityMap);
    pictures->addWidget(m_pLabQualityHist);
    pictures->addStretch(1);
    grid->addLayout(pictures, 2, 0, 1, 2);
    grid->addWidget(m_pPgbQuality, 3, 0, 1, 2);
    grid->addWidget(m_pLabQualityReport, 4, 0, 1, 2);
    grid->setColumnStretch(0, 1);
}

void QualityGroup::reloadSettings()
{
    int frames = kDefaultQualityFrames;
    QualityLimits limits;
    readQualityLimits(&limits, &frames);
    m_pEdtQualityFrames->setText(QString::number(frames));
}

QString QualityGroup::verdictText() const
{
    return m_pLabQualityVerdict->text();
}

void QualityGroup::showNoVerdict(const QString& caption, const QString& why, const char* colour)
{
    m_pLabQualityVerdict->setText(caption);
    m_pLabQualityVerdict->setStyleSheet(QStringLiteral("color: %1;").arg(QString::fromLatin1(colour)));
    m_pLabQualityFailed->setText(why);
}

void QualityGroup::showRunning()
{
    showNoVerdict(QStringLiteral("检验中"), QString(), "#606060");
    for (int i = 0; i < 8; ++i)
        for (int c = 1; c < 4; ++c)
            m_pTblQuality->item(i, c)->setText(QString());
    m_pLabQualityMap->clear();
    m_pLabQualityHist->clear();
    m_pLabQualityReport->clear();
    m_strReport.clear();
    m_strRunDir.clear();
    m_imgMap = QImage();
    m_imgHist = QImage();
}

void QualityGroup::OnBtnQuality()
{
    CFindFrame* frames = m_pPage->frameSource() ? m_pPage->frameSource()->FrameBuffer() : nullptr;
    if (!m_pPage->deviceConnected() || !frames) {
        tell(QStringLiteral("警告"), QStringLiteral("未连接任何设备!"));
        return;
    }
    if (m_pPage->sensorId().isEmpty()) {
        tell(QStringLiteral("警告"), QStringLiteral("机芯未识别,无法检验!"));
        return;
    }
    bool ok = false;
    const int n = m_pEdtQualityFrames->text().trimmed().toInt(&ok);
    if (!ok || n < kMinQualityFrames || n > kMaxQualityFrames) {
        tell(QStringLiteral("警告"), QStringLiteral("检验帧数必须是2~128之间的整数!"));
        return;
    }
    QualityJob job;
    readQualityLimits(&job.limits, nullptr);
    job.sensorId = m_pPage->sensorId();
    job.serial = CameraInfoDataManager::instance()->serialNumber();
    job.frames = n;
    auto outcome = std::make_shared<QualityOutcome>();
    showRunning();
    m_pPgbQuality->setValue(0);
    m_bRunning = true;
    QPointer<QualityGroup> self(this);
    auto task = [frames, job, outcome](DeviceTaskContext& device) {
        CPageTransferContext ctx(device);
        const bool judged = runQualityCheck(ctx, frames, job, &outcome->run);
        if (judged && !qualityWritesSinceConnected(job.sensorId, &outcome->writes, &outcome->writesError))
            outcome->writes.clear();
        return judged;
    };
    auto done = [self, outcome](bool) {
        if (!self)
            return;
        self->m_bRunning = false;
        self->m_pLabQualityStatus->clear();
        self->showResult(outcome->run);
        if (outcome->run.outcome == QualityRunResult::Outcome::Judged)
            self->writeReport(outcome->run, outcome->writes, outcome->writesError);
    };
    if (!DeviceRunner::instance()->run(m_pPage, m_pPgbQuality, std::move(task), done)) {
        m_bRunning = false;
        showNoVerdict(QStringLiteral("未检验"), QString(), "#606060");
        tell(QStringLiteral("提示"), QStringLiteral("设备正忙,请等待当前操作完成后再试!"));
    }
}

void QualityGroup::showResult(const QualityRunResult& r)
{
    m_strRunDir = r.runDir;
    if (r.outcome == QualityRunResult::Outcome::Failed) {
        // The sequence has told the operator why.
        showNoVerdict(QStringLiteral("未完成"), r.error, "#606060");
        return;
    }
    const QList<QStringList> rows = figureRows(r);
    for (int i = 0; i < rows.size(); ++i) {
        for (int c = 1; c < 4; ++c)
            m_pTblQuality->item(i, c)->setText(rows[i][c]);
        const bool failed = rows[i][3] == QStringLiteral("未通过");
        m_pTblQuality->item(i, 3)->setForeground(failed ? QColor(0xd0, 0x10, 0x10) : QColor(0x10, 0x80, 0x20));
    }
    if (r.outcome == QualityRunResult::Outcome::RecordLost) {
        // Figures without a record: shown for diagnosis, never as a verdict.
        showNoVerdict(QStringLiteral("未判定"),
                      QStringLiteral("检验结果未能写入历史记录，不给出结论"), "#c07000");
        tell(QStringLiteral("错误"), QStringLiteral("检验结果未能写入历史记录，不给出结论，请检查数据库后重新检验：\n%1")
                                       .arg(r.error));
        return;
    }
    if (r.verdict.pass) {
        showNoVerdict(QStringLiteral("合格"), QString(), "#108020");
    } else {
        QStringList failed;
        for (const auto& key : r.verdict.failed)
            failed << qualityCaption(key.c_str());
        showNoVerdict(QStringLiteral("不合格"), failed.join(QStringLiteral("、")), "#d01010");
    }
    m_imgMap = qualityDeviationMap(r.meanImage.data(), r.badMap.data(), r.width, r.rows, r.figures.mean,
                                   r.figures.meanSpread);
    m_imgHist = qualityHistogram(r.meanImage.data(), r.badMap.data(), r.width, r.rows, kHistSize);
    m_pLabQualityMap->setPixmap(QPixmap::fromImage(
        m_imgMap.scaled(m_pLabQualityMap->size() - QSize(4, 4), Qt::KeepAspectRatio, Qt::FastTransformation)));
    m_pLabQualityHist->setPixmap(QPixmap::fromImage(m_imgHist));
}

void QualityGroup::writeReport(const QualityRunResult& r, const QList<QPair<QString, QString>>& writes,
                               const QString& writesError)
{
    QString error;
    QString mapPath, histPath;
    if (!saveQualityPictures(m_imgMap, m_imgHist, r.runDir, &mapPath, &histPath, &error))
        tell(QStringLiteral("提示"), QStringLiteral("检验图片保存失败：%1").arg(error));

    const HistoryConfig cfg = HistoryRecorder::instance()->config();
    QualityReportData d;
    d.sensorId = r.sensorId;
    d.serial = r.serial;
    d.identity = identityRows();
    d.started = r.started;
    d.station = cfg.station.isEmpty() ? defaultStationName() : cfg.station;
    d.operatorName = cfg.operatorName.isEmpty() ? defaultOperatorName() : cfg.operatorName;
    d.frames = r.frames;
    d.width = r.width;
    d.rows = r.rows;
    d.tableSource = r.tableSource;
    d.writes = writes;
    d.writesError = writesError;
    d.figureRows = figureRows(r);
    d.verdict = qualityVerdictCaption(r.verdict);
    d.pass = r.verdict.pass;
    d.deviationMap = m_imgMap;
    d.histogram = m_imgHist;
    d.runDir = r.runDir;
    // Two runs in one second must not share a report: the earlier one stays as it was.
    const QString first = qualityReportPath(CalibrationTree(r.sensorId).reportDir(), r.started);
    QString path = first;
    for (int n = 2; QFileInfo::exists(path) && n < 1000; ++n)
        path = first.left(first.size() - 4) + QStringLiteral("_%1.pdf").arg(n);
    if (!writeQualityReport(d, path, &error)) {
        tell(QStringLiteral("提示"), QStringLiteral("检验报告写入失败：%1").arg(error));
        m_pLabQualityReport->setText(QStringLiteral("报告未生成"));
        return;
    }
    m_strReport = path;
    m_pLabQualityReport->setText(QStringLiteral("报告：<a href=\"%1\">%2</a>")
                                     .arg(QUrl::fromLocalFile(path).toString().toHtmlEscaped(),
                                          QDir::toNativeSeparators(path).toHtmlEscaped()));
}
