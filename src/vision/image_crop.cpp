#include "vision/image_crop.hpp"

#include <algorithm>
#include <cmath>
#include <cstring>

KVPixelRect KVPixelRectOutward(int imageWidth, int imageHeight, double x, double y, double width,
                               double height) {
    const double left = std::floor(x);
    const double top = std::floor(y);
    const double right = std::ceil(x + width);
    const double bottom = std::ceil(y + height);
    if (!std::isfinite(left) || !std::isfinite(top) || !std::isfinite(right) ||
        !std::isfinite(bottom)) {
        return {};
    }
    // Clamped while still doubles, so that far-off coordinates cannot overflow an int.
    const auto clampTo = [](double value, int limit) {
        return static_cast<int>(std::clamp(value, 0.0, static_cast<double>(std::max(limit, 0))));
    };
    KVPixelRect rect;
    rect.x = clampTo(left, imageWidth);
    rect.y = clampTo(top, imageHeight);
    rect.width = clampTo(right, imageWidth) - rect.x;
    rect.height = clampTo(bottom, imageHeight) - rect.y;
    if (rect.empty()) {
        return {};
    }
    return rect;
}

KVImage KVCropImage(const KVImage& image, double x, double y, double width, double height) {
    if (!KVImageIsUsable(image)) {
        return {};
    }
    const KVPixelRect rect = KVPixelRectOutward(image.width, image.height, x, y, width, height);
    if (rect.empty()) {
        return {};
    }
    KVImage crop = KVImage::blank(rect.width, rect.height);
    for (int row = 0; row < rect.height; ++row) {
        std::memcpy(crop.pixel(0, row), image.pixel(rect.x, rect.y + row), crop.stride());
    }
    return crop;
}

bool KVImageIsUsable(const KVImage& image) {
    return !image.empty() &&
           image.rgba.size() >= static_cast<size_t>(image.width) * image.height * 4;
}
