// Arena draws through Vulkan (DXVK under Wine). The nearest thing this machine can run is a
// Vulkan program on Mesa's software driver: its window must reach us through the same window
// capture that reads the game, live and not black.
#include "e2e/e2e_world.hpp"
#include "support/x11_fixture.hpp"
#include "vision/capture.hpp"
#include "vision/image_codec.hpp"

#include "base/files.hpp"

#include <cstring>
#include <filesystem>

namespace {

constexpr const char* kSoftwareVulkan = "/usr/share/vulkan/icd.d/lvp_icd.x86_64.json";

// The share of pixels brighter than near-black.
double litShare(const KVImage& image) {
    size_t lit = 0;
    for (size_t i = 0; i + 3 < image.rgba.size(); i += 4) {
        lit += image.rgba[i] + image.rgba[i + 1] + image.rgba[i + 2] > 3 * 16 ? 1 : 0;
    }
    return image.rgba.empty() ? 0 : 4.0 * double(lit) / double(image.rgba.size());
}

size_t differingPixels(const KVImage& a, const KVImage& b) {
    if (a.rgba.size() != b.rgba.size()) {
        return a.rgba.size() / 4;
    }
    size_t differing = 0;
    for (size_t i = 0; i + 3 < a.rgba.size(); i += 4) {
        differing += std::memcmp(&a.rgba[i], &b.rgba[i], 3) != 0 ? 1 : 0;
    }
    return differing;
}

} // namespace

struct VulkanCaptureE2E : X11Fixture {};

TEST_F(VulkanCaptureE2E, AVulkanWindowIsCapturedLiveThroughTheWindowPath) {
    ASSERT_TRUE(std::filesystem::exists(kSoftwareVulkan)) << "mesa-vulkan-drivers is missing";
    start();
    KVChildProcess cube(
        {"vkcube", "--width", "500", "--height", "400"},
        {"DISPLAY=" + display(), std::string("VK_ICD_FILENAMES=") + kSoftwareVulkan});
    KVX11Screen screen(display());
    std::optional<KVX11Screen::Window> window;
    ASSERT_TRUE(KVE2EWait(
        [&] {
            // vkcube names no window: it is the one of the size asked for.
            window = screen.windowWhere([](const std::string&, const QRect& frame) {
                return frame.size() == QSize(500, 400);
            });
            return window.has_value();
        },
        30))
        << "vkcube showed no window";

    const QRectF frame = window->frame;
    const KVRect bounds{frame.x(), frame.y(), frame.width(), frame.height()};
    const KVArenaWindow record{window->id, cube.pid(), "vkcube", bounds, true, true};
    KVCapture capture;
    std::optional<KVImage> first;
    ASSERT_TRUE(KVE2EWait(
        [&] {
            first = capture.captureWindow(record);
            return first && litShare(*first) > 0.05;
        },
        30))
        << "no lit frame: " << capture.lastError();
    EXPECT_EQ(capture.lastPath(), "window");
    EXPECT_EQ(first->width, 500);
    EXPECT_EQ(first->height, 400);

    // The cube turns: a later frame differs in a good part of the picture.
    std::optional<KVImage> later;
    EXPECT_TRUE(KVE2EWait(
        [&] {
            later = capture.captureWindow(record);
            return later && differingPixels(*first, *later) > 500;
        },
        30));
    ASSERT_TRUE(later);
    EXPECT_GT(litShare(*later), 0.05);
    std::filesystem::create_directories(KV_E2E_ARTIFACTS);
    for (const auto& [name, image] : {std::pair{"first", &*first}, std::pair{"later", &*later}}) {
        KVWriteFileAtomically(std::string(KV_E2E_ARTIFACTS) + "/vulkan-" + name + "-frame.png",
                              KVEncodePNG(*image).value_or(""));
    }
}
