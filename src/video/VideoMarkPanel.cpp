#include "VideoMarkPanel.h"

#include "CCursorWriter.h"
#include "CDevice.h"
#include "CFindFrame.h"
#include "CVideoRender.h"
#include "CustomMessageBox.h"
#include "DeviceRunner.h"
#include "IFrameSource.h"
#include "PixelMath.h"
#include "QSignPixelWidget.h"
#include "SkinControls.h"
#include "StreamPacket.h"

#include <QGridLayout>
#include <QHeaderView>
#include <QKeyEvent>
#include <QLabel>
#include <QPushButton>

namespace {

const QString kHelp = QStringLiteral(
    "手动坏点提示\n\n1. 点击预览画面\n\n2. (Ctrl+)方向键(快速)移动\n\n3. Enter-确认; Delete-撤销");
// The keys belong to the core's cursor; while marking, a click marks a pixel.
const QString kMarkHelp = QStringLiteral("标记坏点提示\n\n1. 点击预览画面标记坏点\n\n2. 撤销标记-删除最后一个");

QString cursorOpText(int nOp)
{
    switch (nOp) {
    case CCursorWriter::EnterMode: return QStringLiteral("进入光标模式");
    case CCursorWriter::Move: return QStringLiteral("移动光标");
    case CCursorWriter::Confirm: return QStringLiteral("确认坏点");
    case CCursorWriter::Revoke: return QStringLiteral("撤销确认");
    case CCursorWriter::ShowCross: return QStringLiteral("显示十字光标");
    default: return QStringLiteral("隐藏十字光标");
    }
}

} // namespace

VideoMarkPanel::VideoMarkPanel(QSignPixelWidget* pSurface, QWidget* parent)
    : QGroupBoxEx(QStringLiteral("坏点标记"), parent)
    , m_pSignPixel(pSurface)
{
    m_pChkSignPixel = new QCheckBoxEx(QStringLiteral("标记坏点"), this);
    m_pChkSignPixel->setObjectName("m_pChkSignPixel");
    m_pBtnRevoke = new QPushButton(QStringLiteral("撤销标记"), this);
    m_pBtnRevoke->setObjectName("m_pBtnRevoke");
    m_pCmbEnlargeTimes = new QComboBoxEx(this);
    m_pCmbEnlargeTimes->setObjectName("m_pCmbEnlargeTimes");
    m_pCmbEnlargeTimes->addItems({"1", "2", "4", "8"});
    m_pBtnLoadCross = new QPushButton(QStringLiteral("高亮"), this);
    m_pBtnLoadCross->setObjectName("m_pBtnLoadCross");
    m_pBtnDisCross = new QPushButton(QStringLiteral("取消"), this);
    m_pBtnDisCross->setObjectName("m_pBtnDisCross");
    m_pTabPixel = new QTableWidgetEx(0, 3, this);
    m_pTabPixel->setObjectName("m_pTabPixel");
    m_pTabPixel->setHorizontalHeaderLabels({"X", "Y", QStringLiteral("灰度")});
    m_pTabPixel->horizontalHeader()->setSectionResizeMode(QHeaderView::Stretch);
    m_pTabPixel->verticalHeader()->setVisible(false);
    m_pTabPixel->verticalHeader()->setDefaultSectionSize(20);
    m_pTabPixel->setEditTriggers(QAbstractItemView::NoEditTriggers);
    m_pTabPixel->setMinimumHeight(60);
    // The help text, and in its place the cursor's 5 x 5 neighbourhood once used.
    m_pLabHelp = new QLabel(kHelp, this);
    m_pLabHelp->setObjectName("m_pLabHelp");
    m_pLabHelp->setStyleSheet("font-size:11px;");
    m_pWgtGrid = new QWidget(this);
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

    auto* mark = new QGridLayout(this);
    mark->setVerticalSpacing(4);
    mark->setContentsMargins(8, 4, 8, 6);
    mark->addWidget(m_pChkSignPixel, 0, 0, 1, 2);
    mark->addWidget(m_pBtnRevoke, 0, 2, 1, 2);
    mark->addWidget(new QLabel(QStringLiteral("放大倍数："), this), 1, 0);
    mark->addWidget(m_pCmbEnlargeTimes, 1, 1);
    mark->addWidget(m_pBtnLoadCross, 1, 2);
    mark->addWidget(m_pBtnDisCross, 1, 3);
    mark->addWidget(m_pTabPixel, 2, 0, 1, 2);
    mark->addWidget(m_pLabHelp, 2, 2, 1, 2, Qt::AlignTop);
    mark->addWidget(m_pWgtGrid, 2, 2, 1, 2, Qt::AlignTop);
    mark->setRowStretch(2, 1);

    m_pCursor = new CCursorWriter(this);
    connect(m_pCursor, &CCursorWriter::signalDone, this, &VideoMarkPanel::OnCursorDone);
    connect(m_pChkSignPixel, &QCheckBox::stateChanged, this, &VideoMarkPanel::On_PixelSwitch);
    connect(m_pSignPixel, &QSignPixelWidget::Sig_SignPixel, this, &VideoMarkPanel::On_SignPixel);
    connect(m_pSignPixel, &QSignPixelWidget::Sig_BtnToCrossShairs, this, &VideoMarkPanel::On_BtnToCrossShairs);
    connect(m_pBtnLoadCross, &QPushButton::clicked, this, &VideoMarkPanel::On_BtnLoadCross);
    connect(m_pBtnDisCross, &QPushButton::clicked, this, &VideoMarkPanel::On_BtnDisCross);
    connect(m_pCmbEnlargeTimes, qOverload<int>(&QComboBox::currentIndexChanged), this,
            &VideoMarkPanel::On_ChangeEnlargeTimes);
    connect(m_pBtnRevoke, &QPushButton::clicked, this, &VideoMarkPanel::On_Revoke);
    m_pSignPixel->installEventFilter(this);
}

void VideoMarkPanel::setFrameSource(IFrameSource* pFrames)
{
    m_pFrames = pFrames;
    if (CVideoRender* render = m_pFrames ? m_pFrames->Render() : nullptr)
        render->SetMarks(m_marks);
}

void VideoMarkPanel::showMarks()
{
    if (CVideoRender* render = m_pFrames ? m_pFrames->Render() : nullptr)
        render->SetMarks(m_marks);
    m_pSignPixel->update();
}

// What the core cursor did last, written over the picture where the operator looks.
void VideoMarkPanel::setCursorState(const QString& strText, bool bFailed)
{
    m_pSignPixel->setCaption(strText, bFailed);
}

// The cursor's hint and grid belong to the cursor mode; marking shows its own hint.
void VideoMarkPanel::showHelpOrGrid()
{
    const bool bMarking = m_pSignPixel->marking();
    m_pLabHelp->setText(bMarking ? kMarkHelp : kHelp);
    m_pLabHelp->setVisible(bMarking || !m_bGridUsed);
    m_pWgtGrid->setVisible(!bMarking && m_bGridUsed);
    if (bMarking)
        m_pSignPixel->setCaption(QString(), false);
}

QString VideoMarkPanel::gridText(int cell) const
{
    return cell >= 0 && cell < 25 ? m_pLabGrid[cell]->text() : QString();
}

QString VideoMarkPanel::gridStyle(int cell) const
{
    return cell >= 0 && cell < 25 ? m_pLabGrid[cell]->styleSheet() : QString();
}

bool VideoMarkPanel::gridVisible() const
{
    return !m_pWgtGrid->isHidden();
}

void VideoMarkPanel::appendMarks(const std::vector<QPoint>& points, const std::vector<uint16_t>& image, int nWidth)
{
    if (points.empty())
        return;
    m_pTabPixel->setUpdatesEnabled(false);
    int row = m_pTabPixel->rowCount();
    m_pTabPixel->setRowCount(row + int(points.size()));
    for (const QPoint& pt : points) {
        m_marks.append(pt);
        const size_t i = size_t(pt.y()) * size_t(nWidth) + size_t(pt.x());
        const QString grey = i < image.size() ? QString::number(image[i]) : QStringLiteral("-");
        m_pTabPixel->setItem(row, 0, new QTableWidgetItem(QString::number(pt.x() + 1)));
        m_pTabPixel->setItem(row, 1, new QTableWidgetItem(QString::number(pt.y() + 1)));
        m_pTabPixel->setItem(row, 2, new QTableWidgetItem(grey));
        ++row;
    }
    m_pTabPixel->setUpdatesEnabled(true);
    m_pTabPixel->scrollToBottom();
    showMarks();
}

void VideoMarkPanel::On_PixelSwitch(int nState)
{
    m_pSignPixel->setMarking(nState == Qt::Checked);
    showHelpOrGrid();
}

void VideoMarkPanel::On_SignPixel()
{
    const QPoint pt = m_pSignPixel->clickPixel();
    if (pt.x() < 0 || pt.y() < 0)
        return;
    m_marks.append(pt);
    if (CVideoRender* render = m_pFrames ? m_pFrames->Render() : nullptr)
        render->SetMarks(m_marks);
    CFindFrame* frames = m_pFrames ? m_pFrames->FrameBuffer() : nullptr;
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

void VideoMarkPanel::On_Revoke()
{
    if (m_marks.isEmpty())
        return;
    m_marks.removeLast();
    if (m_pTabPixel->rowCount() > 0)
        m_pTabPixel->removeRow(m_pTabPixel->rowCount() - 1);
    showMarks();
}

void VideoMarkPanel::On_ChangeEnlargeTimes(int nIndex)
{
    QSize image;
    if (CFindFrame* frames = m_pFrames ? m_pFrames->FrameBuffer() : nullptr)
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

bool VideoMarkPanel::cursorLinkUsable(bool bReport)
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

void VideoMarkPanel::enterCursorMode()
{
    if (!m_pSignPixel->coreCursorActive() && !m_bEnterPending) {
        m_bEnterPending = true;
        m_pCursor->post(CCursorWriter::EnterMode);
    }
}

void VideoMarkPanel::On_BtnToCrossShairs(QPoint pt)
{
    if (cursorLinkUsable(true)) {
        enterCursorMode();
        m_pCursor->post(CCursorWriter::Move, pt.x(), pt.y());
        setCursorState(QStringLiteral("光标：X=%1 Y=%2").arg(pt.x()).arg(pt.y()));
    }
    m_bGridUsed = true;
    showHelpOrGrid();
    On_KeyToCrossShairs(pt);
}

void VideoMarkPanel::On_KeyToCrossShairs(QPoint pt)
{
    CFindFrame* frames = m_pFrames ? m_pFrames->FrameBuffer() : nullptr;
    if (!frames)
        return;
    frames->SetCrossPoint(pt);
    int sums[pixelmath::kWindowCells] = {};
    int maxI = -1, minI = -1;
    const bool have = frames->AccumulateCross(sums, &maxI, &minI);
    if (!have)
        return; // no frame yet: nothing new to show
    for (int i = 0; i < 25; ++i) {
        m_pLabGrid[i]->setText(QString::number(sums[i]));
        m_pLabGrid[i]->setStyleSheet(i == maxI ? "color:red;" : (i == minI ? "color:blue;" : "color:black;"));
    }
}

void VideoMarkPanel::refreshCross()
{
    if (m_pSignPixel->coreCursorActive() && (!m_crossRefresh.isValid() || m_crossRefresh.elapsed() >= 1000)) {
        On_KeyToCrossShairs(m_pSignPixel->cursorPos());
        m_crossRefresh.restart();
    }
}

void VideoMarkPanel::OnCursorDone(int nOp, bool bOk)
{
    if (!bOk && nOp != CCursorWriter::EnterMode) {
        setCursorState(QStringLiteral("机芯未确认：%1失败").arg(cursorOpText(nOp)), true);
        return;
    }
    if (nOp == CCursorWriter::Confirm)
        setCursorState(QStringLiteral("已确认坏点：X=%1 Y=%2").arg(m_confirmPos.x()).arg(m_confirmPos.y()));
    else if (nOp == CCursorWriter::Revoke)
        setCursorState(QStringLiteral("已撤销上一个确认的坏点"));
    else if (nOp == CCursorWriter::ShowCross)
        setCursorState(QStringLiteral("十字光标已显示(高亮)"));
    else if (nOp == CCursorWriter::HideCross)
        setCursorState(QStringLiteral("十字光标已隐藏"));
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

// The core draws its crosshair only in cursor mode; the keys go back to the picture
// so that the arrows move the cursor rather than the button focus.
void VideoMarkPanel::On_BtnLoadCross()
{
    if (cursorLinkUsable(true)) {
        // A cursor never placed starts in the middle of the picture, not in its corner.
        const QSize bounds = m_pSignPixel->frameBounds();
        if (!m_bGridUsed && !bounds.isEmpty()) {
            m_pSignPixel->setCursorPos(QPoint(bounds.width() / 2, (bounds.height() - 2) / 2));
            On_BtnToCrossShairs(m_pSignPixel->cursorPos());
        }
        enterCursorMode();
        m_pCursor->post(CCursorWriter::ShowCross);
    }
    m_pSignPixel->setFocus(Qt::OtherFocusReason);
}

void VideoMarkPanel::On_BtnDisCross()
{
    if (cursorLinkUsable(true))
        m_pCursor->post(CCursorWriter::HideCross);
    m_pSignPixel->setFocus(Qt::OtherFocusReason);
}

bool VideoMarkPanel::handleKey(QKeyEvent* event)
{
    const int key = event->key();
    const bool arrow = key == Qt::Key_Left || key == Qt::Key_Right || key == Qt::Key_Up || key == Qt::Key_Down;
    const bool command = key == Qt::Key_Return || key == Qt::Key_Enter || key == Qt::Key_Delete;
    if (m_pSignPixel->marking() || !(arrow || command))
        return false;
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
        enterCursorMode();
        m_pCursor->post(CCursorWriter::Move, x, y);
        setCursorState(QStringLiteral("光标：X=%1 Y=%2").arg(x).arg(y));
        if (key == Qt::Key_Return || key == Qt::Key_Enter) {
            m_confirmPos = pt;
            m_pCursor->post(CCursorWriter::Confirm);
        } else if (key == Qt::Key_Delete) {
            m_pCursor->post(CCursorWriter::Revoke);
        }
    } else {
        setCursorState(CDevice::Current() ? QStringLiteral("设备正忙, 光标未移动") : QStringLiteral("未连接任何设备!"),
                       true);
    }
    m_pSignPixel->update();
    event->accept();
    return true;
}

bool VideoMarkPanel::eventFilter(QObject* watched, QEvent* event)
{
    if (watched == m_pSignPixel && event->type() == QEvent::KeyPress) {
        auto* key = static_cast<QKeyEvent*>(event);
        // Keys the cursor used must not also scroll the enlarged picture.
        return handleKey(key);
    }
    return QGroupBox::eventFilter(watched, event);
}
