#pragma once

#include "base/image.hpp"

// A rectangle of whole pixels, origin top-left.
struct KVPixelRect {
    int x = 0;
    int y = 0;
    int width = 0;
    int height = 0;

    bool empty() const { return width <= 0 || height <= 0; }
};

// The whole pixels that a rectangle in pixel coordinates (origin top-left) touches: the origin
// rounded down, the far edges rounded up, then clamped to an imageWidth × imageHeight image.
// Empty when nothing of it lies on the image or a coordinate is not a finite number.
KVPixelRect KVPixelRectOutward(int imageWidth, int imageHeight, double x, double y, double width,
                               double height);

// The pixels of KVPixelRectOutward(...) copied into a new image; an empty image when nothing of
// the rectangle lies on `image`.
KVImage KVCropImage(const KVImage& image, double x, double y, double width, double height);

// True when the image has pixels and as many bytes as its size needs: what every reader of
// KVImage pixels checks first, since the struct can be filled by hand.
bool KVImageIsUsable(const KVImage& image);
