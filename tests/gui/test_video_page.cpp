// The video page against the virtual camera over real TCP: live frames through the
// AGC onto the picture surface, the status panel following the core's FPA, marking
// with enlargement, the core cursor and its registers, the rectangle settings.
#include "CCursorWriter.h"
#include "CDevice.h"
#include "CFindFrame.h"
#include "CNetConnect.h"
#include "CVideoRender.h"
#include "DetectPageWidget.h"
#include "CameraInfoDataManager.h"
#include "DataExchange.h"
#include "GuiTestSupport.h"
#include "QSignPixelWidget.h"
#include "SettingsStore.h"
#include "VideoPageWidget.h"
#include "VirtualCamera.h"

#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QMouseEvent>
#include <QPushButton>
#include <QSlider>
#include <QTableWidget>
#include "LiveCamera.h"
#include "TestSupport.h"

#include <gtest/gtest.h>

#include <cstdlib>

#include <memory>

namespace {

using guitest::takeMessages;
using guitest::waitUntil;

void click(QWidget* w, QPoint pos)
{
    QMouseEvent press(QEvent::MouseButtonPress, QPointF(pos), w->mapToGlobal(QPointF(pos)), Qt::LeftButton,
                      Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(w, &press);
}

void key(QWidget* w, int k, Qt::KeyboardModifiers mods = Qt::NoModifier)
{
    QKeyEvent ev(QEvent::KeyPress, k, mods);
    QApplication::sendEvent(w, &ev);
}

template <typename T>
T* child(QWidget* page, const char* name)
{
    T* w = page->findChild<T*>(QString::fromLatin1(name));
    EXPECT_NE(w, nullptr) << name;
    return w;
}

class VideoPage : public ::testing::Test {
protected:
    void SetUp() override
    {
        // Replies get 100 ms of polling instead of 20: room for slow sanitizer builds.
        irsim::CameraOptions o = irtest::liveOptions();
        o.completionDelayMs = -1;
        o.stream.scene.fpaRampCPerMin = 120.0; // 2 degrees a second: the panel moves
        const std::string err = irtest::startLiveCamera(&cam, &net, o);
        ASSERT_TRUE(err.empty()) << err;
        CameraInfoDataManager::instance()->identifyNow();
        ASSERT_EQ(CameraInfoDataManager::instance()->frameSize(), QSize(640, 512));
        page = std::make_unique<VideoPageWidget>();
        page->resize(700, 560);
        page->show();
        ASSERT_TRUE(net.StartStream());
        page->setNetConnect(&net);
        page->startPageTimer();
        takeMessages();
    }
    void TearDown() override
    {
        page.reset();
        irtest::stopLiveCamera(cam.get(), &net);
    }

    std::unique_ptr<irsim::VirtualCamera> cam;
    CNetConnect net;
    std::unique_ptr<VideoPageWidget> page;
};

TEST_F(VideoPage, LivePictureAndChangingStatusPanel)
{
    QSignPixelWidget* surface = page->pictureSurface();
    ASSERT_TRUE(waitUntil([&] { return surface->paintedFrames() >= 5; }));
    EXPECT_EQ(surface->imageSize(), QSize(640, 510));
    ASSERT_TRUE(waitUntil([&] { return page->valueText(12) == "2810"; })) << "VIEC of the frames";
    const QString fpa = page->valueText(0);
    EXPECT_TRUE(waitUntil([&] { return page->valueText(0) != fpa; })) << "FPA follows the ramp";
    EXPECT_NE(page->meanText(), "0");
    EXPECT_EQ(net.FrameBuffer()->counters().crcDrops, 0u);

    // With the calibration page known, the panel shows the mean that page computes.
    DetectPageWidget detect;
    detect.setNetConnect(&net);
    detect.startPageTimer();
    page->setDetectPage(&detect);
    cam->stream()->holdFpa(30.0); // the picture stops drifting; the two timers tick apart
    ASSERT_TRUE(waitUntil([&] { return detect.frameMean() > 0; }));
    EXPECT_TRUE(waitUntil([&] {
        bool whole = false;
        const int shown = page->meanText().toInt(&whole);
        return whole && std::abs(shown - detect.frameMean()) <= 2;
    })) << page->meanText().toStdString() << " vs " << detect.frameMean();
    page->setDetectPage(nullptr);
    detect.stopPageTimer();

    // The picture is the AGC's: the blackbody disc is brighter than the background.
    const QImage img = surface->grab().toImage();
    EXPECT_GT(qGray(img.pixel(192, 144)), qGray(img.pixel(370, 10)) + 40);
    // Rectangles drawn in red over the picture (default high rectangle in the middle).
    const CVideoRender::Rect r = net.Render()->GetRect(0);
    EXPECT_NEAR(r.right - r.left, 4.f / 288.f, 1e-6);
    const QPoint corner(int(r.left * 384), int(r.top * 288));
    EXPECT_EQ(img.pixelColor(corner), QColor(255, 0, 0));

    auto* agc = child<QComboBox>(page.get(), "m_pCmbAgc");
    agc->setCurrentIndex(2);
    EXPECT_EQ(net.Render()->AgcMode(), 3);

    page->stopPageTimer();
    for (int i = 0; i < VideoPageWidget::kValueLabels; ++i)
        EXPECT_EQ(page->valueText(i), "0") << i;
}

TEST_F(VideoPage, MarkingWithEnlargementAndRevoke)
{
    ASSERT_TRUE(waitUntil([&] { return !page->pictureSurface()->imageSize().isEmpty(); }));
    auto* chk = child<QCheckBox>(page.get(), "m_pChkSignPixel");
    auto* enlarge = child<QComboBox>(page.get(), "m_pCmbEnlargeTimes");
    auto* table = child<QTableWidget>(page.get(), "m_pTabPixel");
    chk->setChecked(true);
    enlarge->setCurrentIndex(1); // "2": six surface pixels per image pixel
    QSignPixelWidget* surface = page->pictureSurface();
    EXPECT_EQ(surface->size(), QSize(6 * 640, 6 * 510));
    click(surface, QPoint(13, 13));
    click(surface, QPoint(6 * 100 + 3, 6 * 200 + 5));
    ASSERT_EQ(page->marks().size(), 2);
    EXPECT_EQ(page->marks()[0], QPoint(2, 2));
    EXPECT_EQ(page->marks()[1], QPoint(100, 200));
    ASSERT_EQ(table->rowCount(), 2);
    EXPECT_EQ(table->item(0, 0)->text(), "3");
    EXPECT_EQ(table->item(0, 1)->text(), "3");
    bool ok = false;
    const int grey = table->item(1, 2)->text().toInt(&ok);
    EXPECT_TRUE(ok && grey > 0 && grey <= 16383) << table->item(1, 2)->text().toStdString();
    EXPECT_EQ(net.Render()->Marks(), page->marks());

    child<QPushButton>(page.get(), "m_pBtnRevoke")->click();
    EXPECT_EQ(page->marks().size(), 1);
    EXPECT_EQ(table->rowCount(), 1);
    EXPECT_EQ(net.Render()->Marks().size(), 1);
    child<QPushButton>(page.get(), "m_pBtnRevoke")->click();
    child<QPushButton>(page.get(), "m_pBtnRevoke")->click(); // empty: nothing happens
    EXPECT_EQ(table->rowCount(), 0);
    enlarge->setCurrentIndex(0);
    EXPECT_EQ(surface->size(), QSize(384, 288));
    EXPECT_TRUE(takeMessages().isEmpty());
}

TEST_F(VideoPage, CoreCursorRegistersKeysAndNeighbourhood)
{
    ASSERT_TRUE(waitUntil([&] { return net.FrameBuffer()->HasFrame() && page->isPageTimerActive(); }));
    ASSERT_TRUE(waitUntil([&] { return page->pictureSurface()->frameBounds() == QSize(640, 512); }));
    QSignPixelWidget* surface = page->pictureSurface();
    EXPECT_FALSE(page->gridVisible());
    click(surface, QPoint(100, 50));
    ASSERT_TRUE(page->cursorWriter()->waitIdle(5000));
    auto cursor = cam->stream()->cursor();
    EXPECT_TRUE(cursor.mode) << "0xF03D = 15";
    EXPECT_EQ(cursor.x, 166);
    EXPECT_EQ(cursor.y, 88);
    EXPECT_EQ(cam->core().shortRegister(0x33), (std::vector<uint8_t>{0, 166, 0, 88}));
    ASSERT_TRUE(waitUntil([&] { return surface->coreCursorActive(); }));
    EXPECT_TRUE(page->gridVisible());
    // The centre cell is pixel (165, 87); the largest cell is red, the smallest blue.
    uint16_t centre = 0;
    ASSERT_TRUE(net.FrameBuffer()->GetPixel(165, 87, &centre));
    int reds = 0, blues = 0;
    for (int i = 0; i < 25; ++i) {
        EXPECT_GT(page->gridText(i).toInt(), 0) << i;
        reds += page->gridStyle(i) == "color:red;";
        blues += page->gridStyle(i) == "color:blue;";
    }
    EXPECT_EQ(reds, 1);
    EXPECT_EQ(blues, 1);

    key(surface, Qt::Key_Right, Qt::ControlModifier); // snap (166, 88) -> (165, 87), then x + 3
    key(surface, Qt::Key_Down);
    key(surface, Qt::Key_Return);
    ASSERT_TRUE(page->cursorWriter()->waitIdle(5000));
    cursor = cam->stream()->cursor();
    EXPECT_EQ(cursor.x, 168);
    EXPECT_EQ(cursor.y, 88);
    ASSERT_EQ(cursor.confirmed.size(), 1u);
    EXPECT_EQ(cursor.confirmed[0], std::make_pair(167, 87)) << "the 1-based cursor's pixel";
    key(surface, Qt::Key_Delete);
    child<QPushButton>(page.get(), "m_pBtnLoadCross")->click();
    ASSERT_TRUE(page->cursorWriter()->waitIdle(5000));
    cursor = cam->stream()->cursor();
    EXPECT_TRUE(cursor.confirmed.empty()) << "Delete took it back";
    EXPECT_TRUE(cursor.visible);
    child<QPushButton>(page.get(), "m_pBtnDisCross")->click();
    ASSERT_TRUE(page->cursorWriter()->waitIdle(5000));
    EXPECT_FALSE(cam->stream()->cursor().visible);
    EXPECT_TRUE(takeMessages().isEmpty());

    // Without a device the buttons say so instead of writing.
    CDevice::SetConnect(nullptr);
    child<QPushButton>(page.get(), "m_pBtnLoadCross")->click();
    const auto msgs = takeMessages();
    ASSERT_EQ(msgs.size(), 1);
    EXPECT_EQ(msgs[0], qMakePair(QStringLiteral("警告"), QStringLiteral("未连接任何设备!")));
}

TEST_F(VideoPage, RectangleSettings)
{
    auto* size = child<QLineEdit>(page.get(), "m_pEdtRectSize");
    auto* lowH = child<QSlider>(page.get(), "m_pSldLowH");
    auto* lowV = child<QSlider>(page.get(), "m_pSldLowV");
    size->setText("abc");
    child<QPushButton>(page.get(), "m_pBtnModifyRect")->click();
    auto msgs = takeMessages();
    ASSERT_EQ(msgs.size(), 1);
    EXPECT_EQ(msgs[0].first, QStringLiteral("警告"));

    size->setText("12");
    lowH->setValue(10);
    lowV->setValue(20);
    child<QPushButton>(page.get(), "m_pBtnModifyRect")->click();
    EXPECT_TRUE(takeMessages().isEmpty());
    SettingsStore::DetectRect stored;
    ASSERT_TRUE(SettingsStore::readDetectRect(&stored));
    EXPECT_EQ(stored.rectH, 12);
    EXPECT_EQ(stored.rectV, 12);
    EXPECT_FLOAT_EQ(stored.lowHPos, 0.1f);
    EXPECT_FLOAT_EQ(stored.lowVPos, 0.2f);
    // Low rectangles at (0.1, 0.2), (0.9, 0.1), (0.1, 0.9), (0.9, 0.9), 12/288 wide.
    const float centres[4][2] = {{0.1f, 0.2f}, {0.9f, 0.1f}, {0.1f, 0.9f}, {0.9f, 0.9f}};
    for (int i = 0; i < 4; ++i) {
        const CVideoRender::Rect r = net.Render()->GetRect(i + 1);
        EXPECT_NEAR((r.left + r.right) / 2, centres[i][0], 1e-5) << i;
        EXPECT_NEAR((r.top + r.bottom) / 2, centres[i][1], 1e-5) << i;
        EXPECT_NEAR(r.right - r.left, 12.f / 288.f, 1e-6) << i;
    }
    // A new page starts from what was saved.
    VideoPageWidget again;
    EXPECT_EQ(child<QLineEdit>(&again, "m_pEdtRectSize")->text(), "12");
    EXPECT_EQ(child<QSlider>(&again, "m_pSldLowV")->value(), 20);
}

} // namespace

// The cursor's keys as the hint says: the hint only in cursor mode, "高亮" before any
// click puts the cursor in the middle and gives the keys back to the picture, and each
// step is told over the picture.
TEST_F(VideoPage, CursorHintKeysAndFeedback)
{
    ASSERT_TRUE(waitUntil([&] { return page->pictureSurface()->frameBounds() == QSize(640, 512); }));
    QSignPixelWidget* surface = page->pictureSurface();
    auto* help = child<QLabel>(page.get(), "m_pLabHelp");
    const QString cursorHelp = help->text();
    EXPECT_TRUE(cursorHelp.contains(QStringLiteral("Enter-确认")));
    child<QCheckBox>(page.get(), "m_pChkSignPixel")->setChecked(true);
    EXPECT_FALSE(help->text().contains(QStringLiteral("方向键"))) << "marking has no cursor keys";
    child<QCheckBox>(page.get(), "m_pChkSignPixel")->setChecked(false);
    EXPECT_EQ(help->text(), cursorHelp);

    page->activateWindow();
    child<QPushButton>(page.get(), "m_pBtnLoadCross")->click();
    ASSERT_TRUE(page->cursorWriter()->waitIdle(5000));
    auto cursor = cam->stream()->cursor();
    EXPECT_TRUE(cursor.mode && cursor.visible) << "the core draws its crosshair";
    EXPECT_EQ(cursor.x, 320);
    EXPECT_EQ(cursor.y, 255);
    ASSERT_TRUE(waitUntil([&] { return surface->caption() == QStringLiteral("十字光标已显示(高亮)"); }));
    EXPECT_TRUE(surface->hasFocus()) << "the arrows go to the picture, not to the button";

    key(surface, Qt::Key_Left);
    key(surface, Qt::Key_Return);
    ASSERT_TRUE(page->cursorWriter()->waitIdle(5000));
    ASSERT_TRUE(waitUntil([&] { return surface->caption() == QStringLiteral("已确认坏点：X=319 Y=255"); }));
    EXPECT_EQ(cam->stream()->cursor().confirmed.size(), 1u);
    key(surface, Qt::Key_Delete);
    ASSERT_TRUE(page->cursorWriter()->waitIdle(5000));
    ASSERT_TRUE(waitUntil([&] { return surface->caption() == QStringLiteral("已撤销上一个确认的坏点"); }));
    EXPECT_TRUE(cam->stream()->cursor().confirmed.empty());
    EXPECT_TRUE(takeMessages().isEmpty());
}
