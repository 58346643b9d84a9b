#include "x11_harness/xvfb.hpp"

#include <gtest/gtest.h>

namespace {

struct QtGeometryIntegrationTest : ::testing::TestWithParam<const char*> {};

// A window placed from screen coordinates lands on the desktop pixels they name, whatever
// Qt's scale: the conversion divides by the ratio exactly where Qt multiplies by it.
TEST_P(QtGeometryIntegrationTest, AWindowLandsWhereScreenCoordinatesSay) {
    KVXvfb server;
    ASSERT_FALSE(server.display().empty()) << server.failure();
    // 1920 × 1080 desktop: (300, 280) from the bottom-left with 400 × 200 is (300, 600) from
    // the top-left.
    KVChildProcess place({KV_QT_PLACE_WINDOW, "300", "280", "400", "200"},
                         {"DISPLAY=" + server.display(), "QT_QPA_PLATFORM=xcb",
                          std::string("QT_SCALE_FACTOR=") + GetParam()});
    EXPECT_EQ(place.readLine(30), "300 600 400 200");
}

INSTANTIATE_TEST_SUITE_P(Scales, QtGeometryIntegrationTest, ::testing::Values("1", "2"),
                         [](const auto& info) { return std::string("scale") + info.param; });

} // namespace
