#include "VideoPixelToolsPanel.h"

#include "CCursorWriter.h"
#include "CDevice.h"
#include "CFindFrame.h"
#include "CPageTransferContext.h"
#include "CPixelDetector.h"
#include "CalibrationTree.h"
#include "CoreTableTransfer.h"
#include "CustomMessageBox.h"
#include "DataExchange.h"
#include "DetectPageWidget.h"
#include "DeviceRunner.h"
#include "IFrameSource.h"
#include "PixelTableTasks.h"
#include "SettingsStore.h"
#include "SkinControls.h"
#include "VideoMarkPanel.h"

#include <QFileInfo>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QIntValidator>
#include <QLabel>
#include <QPointer>
#include <QPushButton>

#include <memory>

namespace {

// Detection thresholds when the settings hold none.
constexpr int kDefaultThreshold = 50;
constexpr int kMaxThreshold = 16383; // 14-bit pixels

// Shutter correction: the core closes its shutter and takes a new offset.
constexpr int kRegShutterCorrect = 0x7003;

} // namespace

VideoPixelToolsPanel::VideoPixelToolsPanel(QWidget* pPage, VideoMarkPanel* pMarks, QWidget* parent)
    : QWidget(parent)
    , m_pPage(pPage)
    , m_pMarks(pMarks)
{
    QWidget* grpPixel = this;
    int nHigh = 0, nLow = 0;
    SettingsStore::readThresholds(&nHigh, &nLow);
    // A key that was never written reads 0, which no detection could use.
    m_pEdtHThrd = new QLineEditEx(QString::number(nHigh > 0 ? nHigh : kDefaultThreshold), grpPixel);
    m_pEdtHThrd->setObjectName("m_pEdtHThrd");
    m_pEdtLThrd = new QLineEditEx(QString::number(nLow > 0 ? nLow : kDefaultThreshold), grpPixel);
    m_pEdtLThrd->setObjectName("m_pEdtLThrd");
    for (QLineEdit* edt : {m_pEdtHThrd, m_pEdtLThrd}) {
        edt->setValidator(new QIntValidator(1, kMaxThreshold, edt));
        edt->setFixedWidth(60);
    }
    m_pCmbSolution = new QComboBoxEx(grpPixel);
    m_pCmbSolution->setObjectName("m_pCmbSolution");
    m_pCmbSolution->addItems({QStringLiteral("工具V20"), QStringLiteral("工具V10")});
    auto button = [grpPixel](const QString& caption, const char* name) {
        auto* btn = new QPushButton(caption, grpPixel);
        btn->setObjectName(name);
        return btn;
    };
    m_pBtnAutoDetect = button(QStringLiteral("自动检测"), "m_pBtnAutoDetect");
    m_pBtnCreatePixel = button(QStringLiteral("生成坏点表"), "m_pBtnCreatePixel");
    m_pBtnReSet = button(QStringLiteral("重置坏点表"), "m_pBtnReSet");
    m_pBtnSendPixel = button(QStringLiteral("发送坏点"), "m_pBtnSendPixel");
    m_pBtnShutterCorrect = button(QStringLiteral("快门校正"), "m_pBtnShutterCorrect");
    m_pPrgPixel = new QProgressBarEx(grpPixel);
    m_pPrgPixel->setObjectName("m_pPrgPixel");
    m_pPrgPixel->setTextVisible(false);
    m_pPrgPixel->setFixedHeight(4);
    // The bar shows only while a table operation runs; its row keeps its place.
    QSizePolicy policy = m_pPrgPixel->sizePolicy();
    policy.setRetainSizeWhenHidden(true);
    m_pPrgPixel->setSizePolicy(policy);
    m_pPrgPixel->hide();

    // Detection on the first two rows, the table operations on the third.
    auto* grid = new QGridLayout(grpPixel);
    grid->setHorizontalSpacing(6);
    grid->setVerticalSpacing(5);
    grid->setContentsMargins(8, 6, 8, 4);
    auto* thresholds = new QHBoxLayout;
    thresholds->setSpacing(4);
    thresholds->addWidget(new QLabel(QStringLiteral("亮点阈值："), grpPixel));
    thresholds->addWidget(m_pEdtHThrd);
    thresholds->addSpacing(12);
    thresholds->addWidget(new QLabel(QStringLiteral("暗点阈值："), grpPixel));
    thresholds->addWidget(m_pEdtLThrd);
    thresholds->addStretch(1);
    grid->addLayout(thresholds, 0, 0, 1, 3);
    grid->addWidget(m_pCmbSolution, 1, 0);
    grid->addWidget(m_pBtnAutoDetect, 1, 1);
    grid->addWidget(m_pBtnCreatePixel, 1, 2);
    grid->addWidget(m_pBtnReSet, 2, 0);
    grid->addWidget(m_pBtnSendPixel, 2, 1);
    grid->addWidget(m_pBtnShutterCorrect, 2, 2);
    grid->addWidget(m_pPrgPixel, 3, 0, 1, 3);
    grid->setRowStretch(4, 1);

    connect(m_pBtnAutoDetect, &QPushButton::clicked, this, &VideoPixelToolsPanel::On_BtnAutoDetect);
    connect(m_pBtnCreatePixel, &QPushButton::clicked, this, &VideoPixelToolsPanel::On_CreatePixel);
    connect(m_pBtnReSet, &QPushButton::clicked, this, &VideoPixelToolsPanel::On_ReSet);
    connect(m_pBtnSendPixel, &QPushButton::clicked, this, &VideoPixelToolsPanel::On_BtnSendPixel);
    connect(m_pBtnShutterCorrect, &QPushButton::clicked, this, &VideoPixelToolsPanel::On_ShutterCorrect);
}

VideoPixelToolsPanel::~VideoPixelToolsPanel() = default;

bool VideoPixelToolsPanel::readThresholdEdits(int* nHigh, int* nLow)
{
    bool okHigh = false, okLow = false;
    *nHigh = m_pEdtHThrd->text().trimmed().toInt(&okHigh);
    *nLow = m_pEdtLThrd->text().trimmed().toInt(&okLow);
    if (okHigh && okLow && *nHigh >= 1 && *nHigh <= kMaxThreshold && *nLow >= 1 && *nLow <= kMaxThreshold)
        return true;
    CustomMessageBox::MsgBox(nullptr, QStringLiteral("警告"),
                             QStringLiteral("亮点阈值和暗点阈值必须是 1 到 %1 的整数!").arg(kMaxThreshold));
    return false;
}

// The table belongs to the identified core's folder; without a sensor ID there is
// no folder to use.
bool VideoPixelToolsPanel::checkTableTarget()
{
    if (!m_strSensorId.trimmed().isEmpty())
        return true;
    CustomMessageBox::MsgBox(nullptr, QStringLiteral("提示"), QStringLiteral("未获取到机芯 Sensor ID, 请重新连接设备!"));
    return false;
}

bool VideoPixelToolsPanel::runPixelTask(const std::function<bool(DeviceTaskContext&)>& task,
                                   const std::function<void(bool)>& done)
{
    // A cursor write still on its way must not land inside an upgrade-mode sequence.
    if (!m_pMarks->cursorWriter()->waitIdle(0)
        || !DeviceRunner::instance()->run(m_pPage, m_pPrgPixel, task, done)) {
        CustomMessageBox::MsgBox(nullptr, QStringLiteral("提示"), QStringLiteral("设备正忙, 请稍后再试!"));
        return false;
    }
    return true;
}

void VideoPixelToolsPanel::On_BtnAutoDetect()
{
    if (!m_pDetector)
        m_pDetector = std::make_unique<CPixelDetector>();
    int nHigh = 0, nLow = 0;
    if (!readThresholdEdits(&nHigh, &nLow))
        return;
    SettingsStore::writeThresholds(nHigh, nLow);
    m_pDetector->SetThresholds(nHigh, nLow);

    CFindFrame* frames = m_pFrames ? m_pFrames->FrameBuffer() : nullptr;
    if (!frames) {
        CustomMessageBox::MsgBox(nullptr, QStringLiteral("提示"), QStringLiteral("未取流, 请先开启取流!"));
        return;
    }
    if (!CDevice::Current()) {
        CustomMessageBox::MsgBox(nullptr, QStringLiteral("警告"), QStringLiteral("未连接任何设备!"));
        return;
    }
    if (!checkTableTarget())
        return;

    const PixelTableTasks::Solution solution = PixelTableTasks::solutionFromIndex(m_pCmbSolution->currentIndex());
    const CPixelDetector detector = *m_pDetector;
    const QString sensorId = m_strSensorId;
    std::vector<PixelTableTasks::Point> marks;
    marks.reserve(size_t(m_pMarks->marks().size()));
    for (const QPoint& pt : m_pMarks->marks())
        marks.push_back({pt.x(), pt.y()});
    // Filled on the runner's thread, read on the GUI thread once it has finished.
    struct Outcome {
        PixelTableTasks::Image image;
        std::vector<PixelTableTasks::Point> added;
    };
    auto outcome = std::make_shared<Outcome>();
    auto task = [frames, detector, sensorId, marks, solution, outcome](DeviceTaskContext& run) {
        CPageTransferContext ctx(run);
        if (!PixelTableTasks::captureImage(ctx, frames, &outcome->image))
            return false;
        return PixelTableTasks::autoDetect(ctx, solution, detector, outcome->image, marks, sensorId,
                                           &outcome->added);
    };
    QPointer<VideoMarkPanel> self(m_pMarks);
    runPixelTask(task, [self, outcome](bool) {
        // What V10 found joins the marks even when the core's table could not be read.
        if (!self || outcome->added.empty())
            return;
        std::vector<QPoint> points;
        points.reserve(outcome->added.size());
        for (const PixelTableTasks::Point& p : outcome->added)
            points.emplace_back(p.x, p.y);
        self->appendMarks(points, outcome->image.pixels, outcome->image.width);
    });
}

void VideoPixelToolsPanel::On_CreatePixel()
{
    if (!m_pDetector)
        m_pDetector = std::make_unique<CPixelDetector>();
    CFindFrame* frames = m_pFrames ? m_pFrames->FrameBuffer() : nullptr;
    if (!frames) {
        CustomMessageBox::MsgBox(nullptr, QStringLiteral("提示"), QStringLiteral("未取流, 请先开启取流!"));
        return;
    }
    const QSize image = frames->FrameSize();
    if (image.isEmpty()) {
        CustomMessageBox::MsgBox(nullptr, QStringLiteral("提示"), QStringLiteral("尚未收到图像, 请确认视频流正常后重试!"));
        return;
    }
    if (!checkTableTarget())
        return;
    std::vector<PixelTableTasks::Point> marks;
    marks.reserve(size_t(m_pMarks->marks().size()));
    for (const QPoint& pt : m_pMarks->marks())
        marks.push_back({pt.x(), pt.y()});
    const QString sensorId = m_strSensorId;
    runPixelTask(
        [marks, image, sensorId](DeviceTaskContext& task) {
            CPageTransferContext ctx(task);
            return PixelTableTasks::createTable(ctx, marks, image.width(), image.height(), sensorId);
        },
        {});
}

void VideoPixelToolsPanel::On_ReSet()
{
    if (!CDevice::Current()) {
        CustomMessageBox::MsgBox(nullptr, QStringLiteral("警告"), QStringLiteral("未连接任何设备!"));
        return;
    }
    runPixelTask(
        [](DeviceTaskContext& task) {
            CPageTransferContext ctx(task);
            return resetCorePixelTable(ctx);
        },
        {});
}

void VideoPixelToolsPanel::On_BtnSendPixel()
{
    if (!CDevice::Current()) {
        CustomMessageBox::MsgBox(nullptr, QStringLiteral("警告"), QStringLiteral("未连接任何设备!"));
        return;
    }
    if (!checkTableTarget())
        return;
    // Checked here, before the core is put into upgrade mode for nothing.
    const QString path = CalibrationTree(m_strSensorId).pixelTable();
    if (!QFileInfo(path).isFile()) {
        CustomMessageBox::MsgBox(nullptr, QStringLiteral("错误"), QStringLiteral("本地坏点表不存在, 请先进行自动检测"));
        return;
    }
    if (!m_pMarks->cursorWriter()->waitIdle(0)) {
        CustomMessageBox::MsgBox(nullptr, QStringLiteral("提示"), QStringLiteral("设备正忙, 请稍后再试!"));
        return;
    }
    // The calibration page owns the send; this page is disabled while it runs.
    if (m_pDetect) {
        m_pDetect->SendPixelTable(m_pPage, m_pPrgPixel);
        return;
    }
    runPixelTask(
        [path](DeviceTaskContext& task) {
            CPageTransferContext ctx(task);
            return writePixelTableToCore(ctx, path);
        },
        {});
}

void VideoPixelToolsPanel::On_ShutterCorrect()
{
    if (!CDevice::Current()) {
        CustomMessageBox::MsgBox(nullptr, QStringLiteral("警告"), QStringLiteral("未连接任何设备!"));
        return;
    }
    // The result is not reported: the corrected picture is the operator's answer.
    runPixelTask(
        [](DeviceTaskContext&) {
            DataExchange::instance()->writeRegister(kRegShutterCorrect, 0);
            return true;
        },
        {});
}
