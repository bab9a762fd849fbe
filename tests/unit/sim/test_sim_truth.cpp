// The "truth FILE" control line: what a script reads is what the camera renders from.
#include "SimControl.h"
#include "VirtualCamera.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <memory>
#include <fstream>
#include <set>
#include <sstream>
#include <string>
#include <unistd.h>

TEST(SimTruth, FileHoldsTheInjectedPixelsAndEveryGain)
{
    irsim::CameraOptions o;
    o.net.port = 0;
    o.preset = "res160";
    o.timeScale = 0.01;
    auto cam = std::make_unique<irsim::VirtualCamera>(o);
    std::string err;
    ASSERT_TRUE(cam->start(&err)) << err;
    ASSERT_TRUE(cam && cam->stream());
    irsim::SimControl control(*cam);
    const std::string path = "/tmp/irbench-truth-" + std::to_string(getpid()) + ".txt";
    std::string reply;
    ASSERT_TRUE(control.run("truth " + path, &reply));
    ASSERT_EQ(reply, "ok");

    std::ifstream in(path);
    ASSERT_TRUE(in.good());
    std::set<std::pair<int, int>> dead, hot;
    const std::vector<float> gains = cam->stream()->pixelGains();
    int w = 0, rows = 0, gainRows = 0, offsetRows = 0;
    double maxGainError = 0;
    for (std::string line; std::getline(in, line);) {
        std::istringstream s(line);
        std::string key;
        s >> key;
        if (key == "size") {
            s >> w >> rows;
        } else if (key == "dead" || key == "hot") {
            int x = -1, y = -1;
            s >> x >> y;
            (key == "dead" ? dead : hot).insert({x, y});
        } else if (key == "gain") {
            int y = -1;
            s >> y;
            for (int x = 0; x < w; ++x) {
                double g = 0;
                s >> g;
                maxGainError = std::max(maxGainError, std::abs(g - gains[size_t(y * w + x)]));
            }
            ++gainRows;
        } else if (key == "offset") {
            ++offsetRows;
        }
    }
    std::remove(path.c_str());
    EXPECT_EQ(w, 160);
    EXPECT_EQ(rows, 118);
    EXPECT_EQ(gainRows, rows);
    EXPECT_EQ(offsetRows, rows);
    EXPECT_LT(maxGainError, 1e-4);
    const auto d = cam->stream()->deadPixels(), h = cam->stream()->hotPixels();
    using PixelSet = std::set<std::pair<int, int>>;
    EXPECT_EQ(dead, PixelSet(d.begin(), d.end()));
    EXPECT_EQ(hot, PixelSet(h.begin(), h.end()));
    ASSERT_FALSE(dead.empty());

    // A place that cannot be written is an error line, not "ok".
    ASSERT_TRUE(control.run("truth /nonexistent-dir/truth.txt", &reply));
    EXPECT_EQ(reply.rfind("error: ", 0), 0u) << reply;
}
