// The stream end to end over real TCP: the virtual camera's packets with faults through
// the network link into the frame buffer and the capture, and the CLI's stream commands.
#include "CDevice.h"
#include "CFindFrame.h"
#include "CNetConnect.h"
#include "CliApp.h"
#include "TestSupport.h"
#include "VirtualCamera.h"

#include <QByteArray>
#include <QDir>
#include <QFile>
#include <gtest/gtest.h>

#include <memory>
#include <sstream>

namespace {

class VideoStream : public ::testing::Test {
protected:
    void start(const irsim::StreamOptions& stream)
    {
        irsim::CameraOptions o;
        o.net.port = 0;
        o.timeScale = 0.01;
        o.stream = stream;
        cam = std::make_unique<irsim::VirtualCamera>(o);
        std::string err;
        ASSERT_TRUE(cam->start(&err)) << err;
    }
    int cli(std::vector<std::string> args, std::string* out = nullptr, std::string* err = nullptr)
    {
        args.insert(args.begin(), {"--net", "127.0.0.1:" + std::to_string(cam->port())});
        std::ostringstream o, e;
        const int rc = irbench_cli::run(args, o, e);
        if (out)
            *out = o.str();
        if (err)
            *err = e.str();
        return rc;
    }
    std::unique_ptr<irsim::VirtualCamera> cam;
};

TEST_F(VideoStream, FaultyStreamStillCapturesWholeFramesAndTheBoundHolds)
{
    irsim::StreamOptions s;
    s.frameRate = 100;
    s.corruptCrcEvery = 4;
    s.garbageEvery = 3;
    s.truncateEvery = 7;
    start(s);
    CNetConnect net;
    NetLoginParams p;
    p.ip = "127.0.0.1";
    p.port = cam->port();
    p.user = p.password = "admin";
    ASSERT_TRUE(net.Login(p));
    EXPECT_FALSE(net.StartCapture(3)) << "no frame buffer before the stream starts";
    ASSERT_TRUE(net.StartStream());
    CFindFrame* frames = net.FrameBuffer();
    ASSERT_NE(frames, nullptr);
    frames->SetLayoutProvider([] { return AddInfoLayout{0, 1, 640, 512}; });
    ASSERT_TRUE(net.StartCapture(12));
    std::vector<std::vector<uint16_t>> run;
    int w = 0, h = 0;
    ASSERT_TRUE(net.GetCapturedFrames(&run, &w, &h));
    ASSERT_EQ(run.size(), 12u);
    EXPECT_EQ(w, 640);
    EXPECT_EQ(h, 510);
    // Every captured frame is whole and aligned: the camera's hot pixels are where
    // the camera put them, in every frame.
    const auto hot = cam->stream()->hotPixels();
    ASSERT_FALSE(hot.empty());
    for (const auto& f : run)
        for (const auto& px : hot)
            ASSERT_EQ(f[size_t(px.second) * 640 + size_t(px.first)], 16383);
    EXPECT_GT(frames->counters().crcDrops, 0u) << "corrupted and truncated packets were dropped";
    FrameAddInfo end;
    ASSERT_TRUE(frames->GetFrameAddInfoEx(&end, 1));
    EXPECT_NEAR(end.tFPA, 30.0, 0.05);
    EXPECT_EQ(end.VIEC, 2810);

    net.StopStream();
    frames->SetCaptureStallMs(200);
    EXPECT_FALSE(net.StartCapture(5)) << "the stream stopped: the capture ends with a failure";
    EXPECT_TRUE(net.GetFrame(nullptr, &w, &h)) << "frames stay after the stream stops";
    net.Close();
}

TEST_F(VideoStream, CliRecordsDecodesAndMapsTheStream)
{
    irsim::StreamOptions s;
    s.frameRate = 40;
    s.corruptCrcEvery = 5;
    start(s);
    irtest::ScopedDataRoot root;
    const std::string rec = root.file("s.bin").toStdString();
    const std::string outDir = root.file("frames").toStdString();
    std::string out, err;
    ASSERT_EQ(cli({"record-stream", "2", rec}, &out, &err), 0) << err;
    const QByteArray bytes = irtest::readAll(QString::fromStdString(rec));
    // About 80 packets of 640 x 512 on an idle machine, fewer on a loaded one: the
    // recording holds every packet the camera sent but the few on their way at the stop.
    constexpr int kPacket = 655416;
    const int packets = int(bytes.size() / kPacket);
    const int sent = int(cam->stream()->packetsSent());
    ASSERT_GE(packets, 3) << bytes.size();
    EXPECT_GE(packets, sent - 3) << sent << " packets sent, " << bytes.size() << " bytes recorded";
    EXPECT_NE(out.find(std::to_string(bytes.size()) + " 字节"), std::string::npos) << out;

    ASSERT_EQ(cli({"decode-stream", rec, outDir}, &out, &err), 0) << err;
    const QStringList files = QDir(QString::fromStdString(outDir)).entryList({"Frame*.frame"}, QDir::Files);
    const int lines = int(std::count(out.begin(), out.end(), '\n'));
    // Every 5th packet has a wrong CRC; the first and the last may be cut by the
    // recording's start and end.
    EXPECT_GE(files.size(), packets - (packets + 4) / 5 - 2) << packets << " packets";
    EXPECT_LE(files.size(), packets - packets / 5 + 1) << packets << " packets";
    EXPECT_EQ(lines, files.size());
    EXPECT_EQ(out.rfind("1 FPA 30.00 ", 0), 0u) << out.substr(0, 80);
    EXPECT_NE(out.find("VIEC 2810"), std::string::npos);
    EXPECT_NE(err.find("CRC 错误丢弃"), std::string::npos) << err;
    const QString first = QDir(QString::fromStdString(outDir)).filePath("Frame1.frame");
    EXPECT_EQ(QFile(first).size(), 640 * 510 * 2);

    const std::string pgm = root.file("f.pgm").toStdString();
    ASSERT_EQ(cli({"agc", "Histeq", first.toStdString(), "640", "510", pgm}, &out, &err), 0) << err;
    const QByteArray img = irtest::readAll(QString::fromStdString(pgm));
    EXPECT_TRUE(img.startsWith("P5\n640 510\n255\n"));
    EXPECT_EQ(img.size(), 15 + 640 * 510);

    // Bad arguments are refused before anything is connected or written.
    EXPECT_EQ(cli({"agc", "4", first.toStdString(), "640", "510", pgm}), 2);
    EXPECT_EQ(cli({"agc", "1", first.toStdString(), "640", "512", pgm}, &out, &err), 2) << "size mismatch";
    EXPECT_NE(err.find("不符"), std::string::npos);
    EXPECT_EQ(cli({"record-stream", "0", rec}), 2);
    std::ostringstream o, e;
    EXPECT_EQ(irbench_cli::run({"--serial", "/dev/null", "record-stream", "1", rec}, o, e), 2);
    EXPECT_EQ(cli({"decode-stream", root.file("missing.bin").toStdString(), outDir}), 2);
}

} // namespace
