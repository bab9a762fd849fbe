#include "VideoPageWidget.h"
#include "DetectPageWidget.h"

#include "CCursorWriter.h"
#include "CDevice.h"
#include "CFindFrame.h"
#include "CNetConnect.h"
#include "CPixelDetector.h"
#include "CVideoRender.h"
#include "CameraInfoDataManager.h"
#include "CustomMessageBox.h"
#include "DetectPageWidget.h"
#include "DeviceRunner.h"
#include "QSignPixelWidget.h"
#include "SettingsStore.h"
#include "SkinControls.h"

#include <QGridLayout>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QKeyEvent>
#include <QScrollArea>
#include <QScrollBar>
#include <QSlider>
#include <QTabWidget>
#include <QTimer>
#include <QVBoxLayout>

namespace {

const char* const kCaptions[VideoPageWidget::kValueLabels] = {
    "| FPA: ", "| CAV: ", "| PCB: ", "| TEC:", "| SENS: ", "| HBV: ", "| LBV: ",
    "| BaseL: ", "| Ival: ", "| INX: ", "| TINT: ", "| EOCC: ", "| VIEC: ", "| BVAL: "};

const QString kHelp = QStringLiteral(
    "手动坏点提示\n\n1. 点击预览画面\n\n2. (Ctrl+)方向键(快速)移动\n\n3. Enter-确认; Delete-撤销");

// Defaults when the settings hold no rectangle yet.
constexpr int kDefaultRectSize = 4;
constexpr float kDefaultHighPos = 0.5f;
constexpr float kDefaultLowPos = 0.1f;

QSlider* makeSlider(QWidget* parent, const char* name)
{
    auto* s = new QSlider(Qt::Horizontal, parent);
    s->setObjectName(name);
    s->setRange(0, 100);
    return s;
}

} // namespace

VideoPageWidget::VideoPageWidget(QWidget* parent)
    : QWidget(parent)
{
    setObjectName("VideoPageWidget");
    setupUi();

    m_pStartDelay = new QTimer(this);
    m_pStartDelay->setSingleShot(true);
    m_pStartDelay->setInterval(50);
    m_pPageTimer = new QTimer(this);
    m_pPageTimer->setInterval(50);
    connect(m_pStartDelay, &QTimer::timeout, m_pPageTimer, qOverload<>(&QTimer::start));
    connect(m_pPageTimer, &QTimer::timeout, this, &VideoPageWidget::OnPageTimer);

    m_pCursor = new CCursorWriter(this);
    connect(m_pCursor, &CCursorWriter::signalDone, this, &VideoPageWidget::OnCursorDone);

    connect(m_pCmbAgc, qOverload<int>(&QComboBox::currentIndexChanged), this, &VideoPageWidget::OnChangeAGCMode);
    connect(m_pBtnModifyRect, &QPushButton::clicked, this, &VideoPageWidget::On_ModifyRect);
    connect(m_pSldHighH, &QSlider::valueChanged, this, &VideoPageWidget::On_HRectHMove);
    connect(m_pSldHighV, &QSlider::valueChanged, this, &VideoPageWidget::On_HRectVMove);
    connect(m_pSldLowH, &QSlider::valueChanged, this, &VideoPageWidget::On_LRectHMove);
    connect(m_pSldLowV, &QSlider::valueChanged, this, &VideoPageWidget::On_LRectVMove);
    connect(m_pChkSignPixel, &QCheckBox::stateChanged, this, &VideoPageWidget::On_PixelSwitch);
    connect(m_pSignPixel, &QSignPixelWidget::Sig_SignPixel, this, &VideoPageWidget::On_SignPixel);
    connect(m_pSignPixel, &QSignPixelWidget::Sig_BtnToCrossShairs, this, &VideoPageWidget::On_BtnToCrossShairs);
    connect(m_pBtnLoadCross, &QPushButton::clicked, this, &VideoPageWidget::On_BtnLoadCross);
    connect(m_pBtnDisCross, &QPushButton::clicked, this, &VideoPageWidget::On_BtnDisCross);
    connect(m_pCmbEnlargeTimes, qOverload<int>(&QComboBox::currentIndexChanged), this,
            &VideoPageWidget::On_ChangeEnlargeTimes);
    connect(m_pBtnRevoke, &QPushButton::clicked, this, &VideoPageWidget::On_Revoke);
    connect(m_pBtnAutoDetect, &QPushButton::clicked, this, &VideoPageWidget::On_BtnAutoDetect);
    connect(m_pBtnCreatePixel, &QPushButton::clicked, this, &VideoPageWidget::On_CreatePixel);
    connect(m_pBtnReSet, &QPushButton::clicked, this, &VideoPageWidget::On_ReSet);
    connect(m_pBtnSendPixel, &QPushButton::clicked, this, &VideoPageWidget::On_BtnSendPixel);
    connect(m_pBtnShutterCorrect, &QPushButton::clicked, this, &VideoPageWidget::On_ShutterCorrect);
    m_pSignPixel->installEventFilter(this);

    loadRectSettings();
    resetValueLabels();
}

VideoPageWidget::~VideoPageWidget() = default;

void VideoPageWidget::setupUi()
{
    m_pSignPixel = new QSignPixelWidget;
    m_pScrPicture = new QScrollArea(this);
    m_pScrPicture->setObjectName("m_pScrPicture");
    m_pScrPicture->setWidget(m_pSignPixel);
    m_pScrPicture->setFixedSize(388, 292);
    m_pScrPicture->setAlignment(Qt::AlignCenter);

    // Display: AGC and the sampling rectangles.
    auto* grpShow = new QGroupBoxEx(QStringLiteral("显示"), this);
    m_pCmbAgc = new QComboBoxEx(grpShow);
    m_pCmbAgc->setObjectName("m_pCmbAgc");
    m_pCmbAgc->addItems({QStringLiteral("Line"), QStringLiteral("Histeq"), QStringLiteral("Special")});
    m_pEdtRectSize = new QLineEditEx(QStringLiteral("4"), grpShow);
    m_pEdtRectSize->setObjectName("m_pEdtRectSize");
    m_pSldHighH = makeSlider(grpShow, "m_pSldHighH");
    m_pSldHighV = makeSlider(grpShow, "m_pSldHighV");
    m_pSldLowH = makeSlider(grpShow, "m_pSldLowH");
    m_pSldLowV = makeSlider(grpShow, "m_pSldLowV");
    m_pBtnModifyRect = new QPushButton(QStringLiteral("修改矩形框"), grpShow);
    m_pBtnModifyRect->setObjectName("m_pBtnModifyRect");
    auto* show = new QGridLayout(grpShow);
    show->setVerticalSpacing(3);
    show->setContentsMargins(8, 4, 8, 6);
    show->addWidget(new QLabel(QStringLiteral("AGC:"), grpShow), 0, 0);
    show->addWidget(m_pCmbAgc, 0, 1);
    show->addWidget(new QLabel(QStringLiteral("矩形大小："), grpShow), 1, 0);
    show->addWidget(m_pEdtRectSize, 1, 1);
    const QString sliderCaptions[4] = {QStringLiteral("高温水平位置"), QStringLiteral("高温垂直位置"),
                                       QStringLiteral("低温水平位置"), QStringLiteral("低温垂直位置")};
    QSlider* sliders[4] = {m_pSldHighH, m_pSldHighV, m_pSldLowH, m_pSldLowV};
    for (int i = 0; i < 4; ++i) {
        show->addWidget(new QLabel(sliderCaptions[i], grpShow), 2 + i, 0);
        show->addWidget(sliders[i], 2 + i, 1);
    }
    show->addWidget(m_pBtnModifyRect, 6, 0, 1, 2);

    // Status panel and the bad-pixel table tools share one place below the picture;
    // the page has no room for both at once at the window's 800 x 600.
    m_pTabTools = new QTabWidget(this);
    m_pTabTools->setObjectName("m_pTabTools");
    m_pTabTools->setDocumentMode(true);

    // Status panel: the stream, the frame mean and the housekeeping values.
    auto* grpState = new QWidget(m_pTabTools);
    auto* state = new QGridLayout(grpState);
    state->setHorizontalSpacing(4);
    state->setVerticalSpacing(2);
    state->setContentsMargins(8, 4, 8, 6);
    m_pLabStream = new QLabel(grpState);
    m_pLabStream->setObjectName("m_pLabStream");
    m_pLabMean = new QLabel(grpState);
    m_pLabMean->setObjectName("m_pLabMean");
    state->addWidget(m_pLabStream, 0, 0, 1, 3);
    state->addWidget(new QLabel(QStringLiteral("帧平均像素："), grpState), 0, 3, 1, 2);
    state->addWidget(m_pLabMean, 0, 5);
    for (int i = 0; i < kValueLabels; ++i) {
        m_pLabValues[i] = new QLabel(grpState);
        m_pLabValues[i]->setObjectName(QStringLiteral("m_pLabValue%1").arg(i));
        m_pLabValues[i]->setMinimumWidth(52);
        const int row = 1 + i / 3, col = (i % 3) * 2;
        state->addWidget(new QLabel(QString::fromUtf8(kCaptions[i]), grpState), row, col);
        state->addWidget(m_pLabValues[i], row, col + 1);
    }

    // Marking and the core's crosshair.
    auto* grpMark = new QGroupBoxEx(QStringLiteral("坏点标记"), this);
    m_pChkSignPixel = new QCheckBoxEx(QStringLiteral("标记坏点"), grpMark);
    m_pChkSignPixel->setObjectName("m_pChkSignPixel");
    m_pBtnRevoke = new QPushButton(QStringLiteral("撤销标记"), grpMark);
    m_pBtnRevoke->setObjectName("m_pBtnRevoke");
    m_pCmbEnlargeTimes = new QComboBoxEx(grpMark);
    m_pCmbEnlargeTimes->setObjectName("m_pCmbEnlargeTimes");
    m_pCmbEnlargeTimes->addItems({"1", "2", "4", "8"});
    m_pBtnLoadCross = new QPushButton(QStringLiteral("高亮"), grpMark);
    m_pBtnLoadCross->setObjectName("m_pBtnLoadCross");
    m_pBtnDisCross = new QPushButton(QStringLiteral("取消"), grpMark);
    m_pBtnDisCross->setObjectName("m_pBtnDisCross");
    m_pTabPixel = new QTableWidgetEx(0, 3, grpMark);
    m_pTabPixel->setObjectName("m_pTabPixel");
    m_pTabPixel->setHorizontalHeaderLabels({"X", "Y", QStringLiteral("灰度")});
    m_pTabPixel->horizontalHeader()->setSectionResizeMode(QHeaderView::Stretch);
    m_pTabPixel->verticalHeader()->setVisible(false);
    m_pTabPixel->verticalHeader()->setDefaultSectionSize(20);
    m_pTabPixel->setEditTriggers(QAbstractItemView::NoEditTriggers);
    m_pTabPixel->setMinimumHeight(60);
    // The help text, and in its place the cursor's 5 x 5 neighbourhood once used.
    m_pLabHelp = new QLabel(kHelp, grpMark);
    m_pLabHelp->setObjectName("m_pLabHelp");
    m_pLabHelp->setStyleSheet("font-size:11px;");
    m_pWgtGrid = new QWidget(grpMark);
    auto* grid = new QGridLayout(m_pWgtGrid);
    grid->setContentsMargins(0, 0, 0, 0);
    grid->setSpacing(1);
    for (int i = 0; i < 25; ++i) {
        m_pLabGrid[i] = new QLabel("0", m_pWgtGrid);
        m_pLabGrid[i]->setAlignment(Qt::AlignCenter);
        m_pLabGrid[i]->setStyleSheet("color:black;");
        grid->addWidget(m_pLabGrid[i], i / 5, i % 5);
    }
    m_pWgtGrid->setStyleSheet("QLabel { font-size:11px; }");
    m_pWgtGrid->hide();
    auto* mark = new QGridLayout(grpMark);
    mark->setVerticalSpacing(4);
    mark->setContentsMargins(8, 4, 8, 6);
    mark->addWidget(m_pChkSignPixel, 0, 0, 1, 2);
    mark->addWidget(m_pBtnRevoke, 0, 2, 1, 2);
    mark->addWidget(new QLabel(QStringLiteral("放大倍数："), grpMark), 1, 0);
    mark->addWidget(m_pCmbEnlargeTimes, 1, 1);
    mark->addWidget(m_pBtnLoadCross, 1, 2);
    mark->addWidget(m_pBtnDisCross, 1, 3);
    mark->addWidget(m_pTabPixel, 2, 0, 1, 2);
    mark->addWidget(m_pLabHelp, 2, 2, 1, 2, Qt::AlignTop);
    mark->addWidget(m_pWgtGrid, 2, 2, 1, 2, Qt::AlignTop);
    mark->setRowStretch(2, 1);

    auto* grpPixel = new QWidget(m_pTabTools);
    setupPixelTools(grpPixel);
    m_pTabTools->addTab(grpState, QStringLiteral("状态"));
    m_pTabTools->addTab(grpPixel, QStringLiteral("坏点表"));

    auto* layout = new QGridLayout(this);
    layout->setContentsMargins(8, 6, 8, 6);
    layout->setSpacing(6);
    layout->addWidget(m_pScrPicture, 0, 0, Qt::AlignLeft | Qt::AlignTop);
    layout->addWidget(grpShow, 0, 1);
    layout->addWidget(m_pTabTools, 1, 0, Qt::AlignTop);
    layout->addWidget(grpMark, 1, 1);
    layout->setColumnStretch(1, 1);
    layout->setRowStretch(1, 1);
}

void VideoPageWidget::loadRectSettings()
{
    SettingsStore::DetectRect r;
    if (!SettingsStore::readDetectRect(&r) || r.rectH <= 0) {
        r.rectH = kDefaultRectSize;
        r.highHPos = r.highVPos = kDefaultHighPos;
        r.lowHPos = r.lowVPos = kDefaultLowPos;
    }
    m_nRectSize = r.rectH;
    m_pEdtRectSize->setText(QString::number(r.rectH));
    const QSignalBlocker b1(m_pSldHighH), b2(m_pSldHighV), b3(m_pSldLowH), b4(m_pSldLowV);
    m_pSldHighH->setValue(qRound(r.highHPos * 100));
    m_pSldHighV->setValue(qRound(r.highVPos * 100));
    m_pSldLowH->setValue(qRound(r.lowHPos * 100));
    m_pSldLowV->setValue(qRound(r.lowVPos * 100));
}

void VideoPageWidget::applyRects()
{
    CVideoRender* render = m_pNet ? m_pNet->Render() : nullptr;
    if (!render)
        return;
    render->InitRects(m_nRectSize, m_pSldHighH->value() / 100.f, m_pSldHighV->value() / 100.f,
                      m_pSldLowH->value() / 100.f, m_pSldLowV->value() / 100.f);
    m_pSignPixel->update();
}

void VideoPageWidget::setSensorId(const QString& strSensorId)
{
    m_strSensorId = strSensorId;
}

void VideoPageWidget::setDetectPage(DetectPageWidget* pDetect)
{
    m_pDetect = pDetect;
}

void VideoPageWidget::setNetConnect(CNetConnect* pNet)
{
    m_pNet = pNet;
    CVideoRender* render = m_pNet ? m_pNet->Render() : nullptr;
    m_pSignPixel->setRender(render);
    if (render) {
        render->SetAgcMode(m_nAgcMode);
        render->SetMarks(m_marks);
        applyRects();
    }
    updateStatusPanel();
}

void VideoPageWidget::startPageTimer()
{
    m_pPageTimer->stop();
    m_pStartDelay->start();
}

void VideoPageWidget::stopPageTimer()
{
    m_pStartDelay->stop();
    m_pPageTimer->stop();
    resetValueLabels();
}

bool VideoPageWidget::isPageTimerActive() const
{
    return m_pPageTimer->isActive();
}

bool VideoPageWidget::isPageTimerPending() const
{
    return m_pStartDelay->isActive();
}

void VideoPageWidget::stopStream()
{
    if (m_pNet)
        m_pNet->StopStream();
    updateStatusPanel();
}

QString VideoPageWidget::valueText(int index) const
{
    return index >= 0 && index < kValueLabels ? m_pLabValues[index]->text() : QString();
}

QString VideoPageWidget::meanText() const
{
    return m_pLabMean->text();
}

QString VideoPageWidget::gridText(int cell) const
{
    return cell >= 0 && cell < 25 ? m_pLabGrid[cell]->text() : QString();
}

QString VideoPageWidget::gridStyle(int cell) const
{
    return cell >= 0 && cell < 25 ? m_pLabGrid[cell]->styleSheet() : QString();
}

bool VideoPageWidget::gridVisible() const
{
    return !m_pWgtGrid->isHidden();
}

void VideoPageWidget::resetValueLabels()
{
    for (QLabel* lab : m_pLabValues)
        lab->setText("0");
    m_pLabMean->setText("0");
    updateStatusPanel();
}

void VideoPageWidget::updateStatusPanel()
{
    const bool bPlaying = m_pNet && m_pNet->IsPlaying();
    CFindFrame* frames = m_pNet ? m_pNet->FrameBuffer() : nullptr;
    const QString text = bPlaying ? QStringLiteral("取流中：已收到 %1 帧").arg(frames ? frames->FrameCount() : 0)
                                  : QStringLiteral("未取流");
    if (m_pLabStream->text() != text)
        m_pLabStream->setText(text);
}

void VideoPageWidget::OnPageTimer()
{
    updateStatusPanel();
    CFindFrame* frames = m_pNet ? m_pNet->FrameBuffer() : nullptr;
    if (!frames)
        return;
    CameraInfoDataManager* mgr = CameraInfoDataManager::instance();
    QSize bounds = mgr->frameSize();
    if (bounds.isEmpty() && frames->HasFrame())
        bounds = frames->FrameSize() + QSize(0, 2);
    m_pSignPixel->setFrameBounds(bounds);
    // The neighbourhood follows the live picture about once a second (without
    // stopping the window for that second).
    if (m_pSignPixel->coreCursorActive() && (!m_crossRefresh.isValid() || m_crossRefresh.elapsed() >= 1000)) {
        On_KeyToCrossShairs(m_pSignPixel->cursorPos());
        m_crossRefresh.restart();
    }
    // The calibration page's mean when it is known (the figure its detection uses);
    // the page's own otherwise.
    double mean = 0;
    if (m_pDetect)
        m_pLabMean->setText(QString::number(m_pDetect->frameMean()));
    else if (frames->ImageMean(&mean))
        m_pLabMean->setText(QString::number(mean, 'f', 2));
    const FrameAddInfo a = mgr->frameAddInfo();
    const QString values[kValueLabels] = {
        QString::asprintf("%.2f", double(a.tFPA)), QString::asprintf("%.2f", double(a.tCavity)),
        QString::asprintf("%.2f", double(a.tBoard)), QString::number(int16_t(a.TEC)),
        QString::number(int16_t(a.SENS)), QString::number(int16_t(a.HBV)), QString::number(int16_t(a.LBV)),
        QString::number(int16_t(a.BaseL)), QString::number(int16_t(a.Ival)), QString::number(int16_t(a.INX)),
        QString::number(int16_t(a.TINT)), QString::number(int16_t(a.EOCC)), QString::number(int16_t(a.VIEC)),
        QString::number(int16_t(a.BVAL))};
    for (int i = 0; i < kValueLabels; ++i)
        if (m_pLabValues[i]->text() != values[i])
            m_pLabValues[i]->setText(values[i]);
}

void VideoPageWidget::OnChangeAGCMode(int nIndex)
{
    m_nAgcMode = (nIndex >= 0 && nIndex <= 2) ? nIndex + 1 : 1;
    if (CVideoRender* render = m_pNet ? m_pNet->Render() : nullptr)
        render->SetAgcMode(m_nAgcMode);
}

void VideoPageWidget::On_ModifyRect()
{
    bool ok = false;
    const int nSize = m_pEdtRectSize->text().trimmed().toInt(&ok);
    if (!ok || nSize < 1 || nSize > 288) {
        CustomMessageBox::MsgBox(nullptr, QStringLiteral("警告"), QStringLiteral("矩形大小必须是 1 到 288 的整数!"));
        return;
    }
    m_nRectSize = nSize;
    SettingsStore::DetectRect r;
    r.rectH = r.rectV = nSize;
    r.highHPos = m_pSldHighH->value() / 100.f;
    r.highVPos = m_pSldHighV->value() / 100.f;
    r.lowHPos = m_pSldLowH->value() / 100.f;
    r.lowVPos = m_pSldLowV->value() / 100.f;
    if (!SettingsStore::writeDetectRect(r))
        CustomMessageBox::MsgBox(nullptr, QStringLiteral("提示"), QStringLiteral("矩形设置保存失败!"));
    applyRects();
}

void VideoPageWidget::On_HRectHMove(int)
{
    CVideoRender* render = m_pNet ? m_pNet->Render() : nullptr;
    if (render)
        render->SetCenteredRect(0, m_nRectSize, m_pSldHighH->value() / 100.f, m_pSldHighV->value() / 100.f);
    m_pSignPixel->update();
}

void VideoPageWidget::On_HRectVMove(int nValue)
{
    On_HRectHMove(nValue);
}

void VideoPageWidget::On_LRectHMove(int)
{
    // The four low rectangles move together, where the next start would put them.
    applyRects();
}

void VideoPageWidget::On_LRectVMove(int)
{
    applyRects();
}

void VideoPageWidget::On_PixelSwitch(int nState)
{
    m_pSignPixel->setMarking(nState == Qt::Checked);
}

void VideoPageWidget::On_SignPixel()
{
    const QPoint pt = m_pSignPixel->clickPixel();
    if (pt.x() < 0 || pt.y() < 0)
        return;
    m_marks.append(pt);
    if (CVideoRender* render = m_pNet ? m_pNet->Render() : nullptr)
        render->SetMarks(m_marks);
    CFindFrame* frames = m_pNet ? m_pNet->FrameBuffer() : nullptr;
    uint16_t grey = 0;
    const bool bGrey = frames && frames->GetPixel(pt.x(), pt.y(), &grey);
    const int row = m_pTabPixel->rowCount();
    m_pTabPixel->insertRow(row);
    m_pTabPixel->setItem(row, 0, new QTableWidgetItem(QString::number(pt.x() + 1)));
    m_pTabPixel->setItem(row, 1, new QTableWidgetItem(QString::number(pt.y() + 1)));
    m_pTabPixel->setItem(row, 2, new QTableWidgetItem(bGrey ? QString::number(grey) : QStringLiteral("-")));
    m_pTabPixel->scrollToBottom();
    m_pSignPixel->update();
}

void VideoPageWidget::On_Revoke()
{
    if (m_marks.isEmpty())
        return;
    m_marks.removeLast();
    if (CVideoRender* render = m_pNet ? m_pNet->Render() : nullptr)
        render->SetMarks(m_marks);
    if (m_pTabPixel->rowCount() > 0)
        m_pTabPixel->removeRow(m_pTabPixel->rowCount() - 1);
    m_pSignPixel->update();
}

void VideoPageWidget::On_ChangeEnlargeTimes(int nIndex)
{
    QSize image;
    if (CFindFrame* frames = m_pNet ? m_pNet->FrameBuffer() : nullptr)
        image = frames->FrameSize();
    if (image.isEmpty() && !m_pSignPixel->frameBounds().isEmpty())
        image = m_pSignPixel->frameBounds() - QSize(0, 2);
    if (nIndex <= 0 || image.isEmpty()) {
        m_pSignPixel->setFixedSize(384, 288);
    } else {
        const int f = 5 * nIndex + 1;
        m_pSignPixel->setFixedSize(f * image.width(), f * image.height());
    }
    m_pSignPixel->update();
}

bool VideoPageWidget::cursorLinkUsable(bool bReport)
{
    if (!CDevice::Current()) {
        if (bReport)
            CustomMessageBox::MsgBox(nullptr, QStringLiteral("警告"), QStringLiteral("未连接任何设备!"));
        return false;
    }
    // A running device sequence (a flash write, a capture) must not be interleaved.
    if (DeviceRunner::instance()->busy()) {
        if (bReport)
            CustomMessageBox::MsgBox(nullptr, QStringLiteral("提示"), QStringLiteral("设备正忙, 请稍后再试!"));
        return false;
    }
    return true;
}

void VideoPageWidget::On_BtnToCrossShairs(QPoint pt)
{
    if (cursorLinkUsable(true)) {
        if (!m_pSignPixel->coreCursorActive() && !m_bEnterPending) {
            m_bEnterPending = true;
            m_pCursor->post(CCursorWriter::EnterMode);
        }
        m_pCursor->post(CCursorWriter::Move, pt.x(), pt.y());
    }
    m_pLabHelp->hide();
    m_pWgtGrid->show();
    On_KeyToCrossShairs(pt);
}

void VideoPageWidget::On_KeyToCrossShairs(QPoint pt)
{
    CFindFrame* frames = m_pNet ? m_pNet->FrameBuffer() : nullptr;
    if (!frames)
        return;
    frames->SetCrossPoint(pt);
    int sums[25] = {};
    int maxI = -1, minI = -1;
    if (!frames->AccumulateCross(sums, &maxI, &minI))
        return; // no frame yet: nothing new to show
    for (int i = 0; i < 25; ++i) {
        m_pLabGrid[i]->setText(QString::number(sums[i]));
        m_pLabGrid[i]->setStyleSheet(i == maxI ? "color:red;" : (i == minI ? "color:blue;" : "color:black;"));
    }
}

void VideoPageWidget::OnCursorDone(int nOp, bool bOk)
{
    if (nOp != CCursorWriter::EnterMode)
        return;
    m_bEnterPending = false;
    if (bOk) {
        m_pSignPixel->setCoreCursorActive(true);
        return;
    }
    // The cursor was still moved; the next click tries again.
    CustomMessageBox::MsgBox(nullptr, QStringLiteral("提示"), QStringLiteral("机芯未进入光标模式, 请再次点击画面重试!"));
}

void VideoPageWidget::On_BtnLoadCross()
{
    if (cursorLinkUsable(true))
        m_pCursor->post(CCursorWriter::ShowCross);
}

void VideoPageWidget::On_BtnDisCross()
{
    if (cursorLinkUsable(true))
        m_pCursor->post(CCursorWriter::HideCross);
}

void VideoPageWidget::keyPressEvent(QKeyEvent* event)
{
    const int key = event->key();
    const bool arrow = key == Qt::Key_Left || key == Qt::Key_Right || key == Qt::Key_Up || key == Qt::Key_Down;
    const bool command = key == Qt::Key_Return || key == Qt::Key_Enter || key == Qt::Key_Delete;
    if (m_pSignPixel->marking() || !(arrow || command)) {
        QWidget::keyPressEvent(event);
        return;
    }
    QPoint pt = m_pSignPixel->cursorPos();
    const QSize bounds = m_pSignPixel->frameBounds();
    int x = pt.x(), y = pt.y();
    const bool fast = event->modifiers() & Qt::ControlModifier;
    const int step = fast ? 3 : 1;
    if (arrow && fast) {
        x -= x % 3;
        y -= y % 3;
    }
    if (key == Qt::Key_Left && x - step >= 0)
        x -= step;
    else if (key == Qt::Key_Right && x + step <= bounds.width())
        x += step;
    else if (key == Qt::Key_Up && y - step >= 0)
        y -= step;
    else if (key == Qt::Key_Down && y + step <= bounds.height())
        y += step;
    pt = QPoint(x, y);
    m_pSignPixel->setCursorPos(pt);
    if (arrow && !fast)
        On_KeyToCrossShairs(pt);
    if (cursorLinkUsable(false)) {
        m_pCursor->post(CCursorWriter::Move, x, y);
        if (key == Qt::Key_Return || key == Qt::Key_Enter)
            m_pCursor->post(CCursorWriter::Confirm);
        else if (key == Qt::Key_Delete)
            m_pCursor->post(CCursorWriter::Revoke);
    }
    update();
    event->accept();
}

bool VideoPageWidget::eventFilter(QObject* watched, QEvent* event)
{
    if (watched == m_pSignPixel && event->type() == QEvent::KeyPress) {
        auto* key = static_cast<QKeyEvent*>(event);
        keyPressEvent(key);
        // Keys the cursor used must not also scroll the enlarged picture.
        return key->isAccepted() && !m_pSignPixel->marking();
    }
    return QWidget::eventFilter(watched, event);
}
