#pragma once

#include "base/image.hpp"
#include "vision/image_crop.hpp"

#include <cstdint>
#include <optional>
#include <vector>

// Gray thumbnails for the perceptual hash. Card art from the image host and card crops from the
// screen go through exactly this code, so that the same picture gives the same values.

// The gray value of a pixel: Rec. 601 luma of the straight RGB, rounded. Alpha is ignored:
// card art is opaque and a captured window reports opaque pixels, so compositing would change
// nothing but the cost.
inline uint8_t KVLuma(const uint8_t* rgba) {
    return static_cast<uint8_t>((299u * rgba[0] + 587u * rgba[1] + 114u * rgba[2] + 500u) / 1000u);
}

// One gray channel, rows top first: whole values 0…255, kept as floats because the resampling
// reads each of them several times and would otherwise convert it each time.
struct KVGrayPlane {
    int width = 0;
    int height = 0;
    std::vector<float> pixels;
};

// Fills `plane` (reusing its storage) with the luma of `rect` of `image`. False, with the plane
// emptied, when the image is unusable or the rectangle is empty or leaves the image.
bool KVMakeGrayPlane(const KVImage& image, const KVPixelRect& rect, KVGrayPlane& plane);

// Stretches `plane` to width × height (aspect not kept) into `out`, width × height whole values
// 0…255, rows top first. An axis that shrinks averages the source pixels each output pixel covers,
// weighted by coverage; an axis that grows interpolates linearly between pixel centres. The two
// axes are resampled one after the other (columns, then rows) in single precision and rounded
// once at the end.
// False when the plane is empty or a size is not positive.
bool KVResampleGray(const KVGrayPlane& plane, int width, int height, float* out);

// The image stretched to width × height in gray, as above. None for an empty image, a size
// that is not positive, or more than KVImageMaxPixels.
std::optional<std::vector<float>> KVGrayPixels(const KVImage& image, int width, int height);
