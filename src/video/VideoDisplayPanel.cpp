#include "VideoDisplayPanel.h"

#include "CVideoRender.h"
#include "CustomMessageBox.h"
#include "IFrameSource.h"
#include "QSignPixelWidget.h"
#include "SettingsStore.h"
#include "SkinControls.h"

#include <QGridLayout>
#include <QLabel>
#include <QPushButton>
#include <QScrollArea>
#include <QSlider>

namespace {

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

CVideoRender* renderOf(IFrameSource* frames)
{
    return frames ? frames->Render() : nullptr;
}

} // namespace

VideoDisplayPanel::VideoDisplayPanel(QWidget* parent)
    : QGroupBoxEx(QStringLiteral("显示"), parent)
{
    m_pSignPixel = new QSignPixelWidget;
    m_pScrPicture = new QScrollArea(parent);
    m_pScrPicture->setObjectName("m_pScrPicture");
    m_pScrPicture->setWidget(m_pSignPixel);
    m_pScrPicture->setFixedSize(388, 292);
    m_pScrPicture->setAlignment(Qt::AlignCenter);

    m_pCmbAgc = new QComboBoxEx(this);
    m_pCmbAgc->setObjectName("m_pCmbAgc");
    m_pCmbAgc->addItems({QStringLiteral("Line"), QStringLiteral("Histeq"), QStringLiteral("Special")});
    m_pEdtRectSize = new QLineEditEx(QStringLiteral("4"), this);
    m_pEdtRectSize->setObjectName("m_pEdtRectSize");
    m_pSldHighH = makeSlider(this, "m_pSldHighH");
    m_pSldHighV = makeSlider(this, "m_pSldHighV");
    m_pSldLowH = makeSlider(this, "m_pSldLowH");
    m_pSldLowV = makeSlider(this, "m_pSldLowV");
    m_pBtnModifyRect = new QPushButton(QStringLiteral("修改矩形框"), this);
    m_pBtnModifyRect->setObjectName("m_pBtnModifyRect");
    auto* show = new QGridLayout(this);
    show->setVerticalSpacing(3);
    show->setContentsMargins(8, 4, 8, 6);
    show->addWidget(new QLabel(QStringLiteral("AGC:"), this), 0, 0);
    show->addWidget(m_pCmbAgc, 0, 1);
    show->addWidget(new QLabel(QStringLiteral("矩形大小："), this), 1, 0);
    show->addWidget(m_pEdtRectSize, 1, 1);
    const QString sliderCaptions[4] = {QStringLiteral("高温水平位置"), QStringLiteral("高温垂直位置"),
                                       QStringLiteral("低温水平位置"), QStringLiteral("低温垂直位置")};
    QSlider* sliders[4] = {m_pSldHighH, m_pSldHighV, m_pSldLowH, m_pSldLowV};
    for (int i = 0; i < 4; ++i) {
        show->addWidget(new QLabel(sliderCaptions[i], this), 2 + i, 0);
        show->addWidget(sliders[i], 2 + i, 1);
    }
    show->addWidget(m_pBtnModifyRect, 6, 0, 1, 2);

    connect(m_pCmbAgc, qOverload<int>(&QComboBox::currentIndexChanged), this, &VideoDisplayPanel::OnChangeAGCMode);
    connect(m_pBtnModifyRect, &QPushButton::clicked, this, &VideoDisplayPanel::On_ModifyRect);
    connect(m_pSldHighH, &QSlider::valueChanged, this, &VideoDisplayPanel::On_HRectHMove);
    connect(m_pSldHighV, &QSlider::valueChanged, this, &VideoDisplayPanel::On_HRectVMove);
    connect(m_pSldLowH, &QSlider::valueChanged, this, &VideoDisplayPanel::On_LRectHMove);
    connect(m_pSldLowV, &QSlider::valueChanged, this, &VideoDisplayPanel::On_LRectVMove);
    loadRectSettings();
}

void VideoDisplayPanel::setFrameSource(IFrameSource* pFrames)
{
    m_pFrames = pFrames;
    CVideoRender* render = renderOf(m_pFrames);
    m_pSignPixel->setRender(render);
    if (render) {
        render->SetAgcMode(m_nAgcMode);
        applyRects();
    }
}

void VideoDisplayPanel::loadRectSettings()
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

void VideoDisplayPanel::applyRects()
{
    CVideoRender* render = renderOf(m_pFrames);
    if (!render)
        return;
    render->InitRects(m_nRectSize, m_pSldHighH->value() / 100.f, m_pSldHighV->value() / 100.f,
                      m_pSldLowH->value() / 100.f, m_pSldLowV->value() / 100.f);
    m_pSignPixel->update();
}

void VideoDisplayPanel::OnChangeAGCMode(int nIndex)
{
    m_nAgcMode = (nIndex >= 0 && nIndex <= 2) ? nIndex + 1 : 1;
    if (CVideoRender* render = renderOf(m_pFrames))
        render->SetAgcMode(m_nAgcMode);
}

void VideoDisplayPanel::On_ModifyRect()
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

void VideoDisplayPanel::On_HRectHMove(int)
{
    if (CVideoRender* render = renderOf(m_pFrames))
        render->SetCenteredRect(0, m_nRectSize, m_pSldHighH->value() / 100.f, m_pSldHighV->value() / 100.f);
    m_pSignPixel->update();
}

void VideoDisplayPanel::On_HRectVMove(int nValue)
{
    On_HRectHMove(nValue);
}

void VideoDisplayPanel::On_LRectHMove(int)
{
    // The four low rectangles move together, where the next start would put them.
    applyRects();
}

void VideoDisplayPanel::On_LRectVMove(int)
{
    applyRects();
}
