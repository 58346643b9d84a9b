#pragma once

#include "base/error.hpp"
#include "base/image.hpp"

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

// Card art arrives as JPEG (sometimes PNG) from the image hosts; reports write PNG. Everything
// decodes to a straight-alpha RGBA KVImage, and nothing outside data can make the decoders crash
// or allocate without bound.

inline constexpr const char* KVImageErrorDomain = "KorvaneImage";

enum KVImageErrorCode : long {
    KVImageErrorEmpty = 1,     // no bytes, or an image without pixels to encode
    KVImageErrorUnknownFormat, // neither a JPEG nor a PNG signature
    KVImageErrorTooLarge,      // the header claims more pixels than KVImageMaxPixels
    KVImageErrorCorrupt,       // the decoder refused the data (damaged, truncated, unsupported)
    KVImageErrorNoMemory,
    KVImageErrorEncode,
};

// The most pixels a decoded image may hold (160 MB of RGBA), checked against the header before
// anything is allocated. Card art is under a megapixel; a screen is under 40.
inline constexpr int64_t KVImageMaxPixels = 40'000'000;

// Decodes JPEG or PNG bytes (told apart by their signature; a PNG's first frame) into RGBA.
// Gray, palette, 16-bit and alpha PNGs are normalised to 8-bit RGBA; a PNG without alpha and
// every JPEG come out opaque. None for empty, unknown, damaged, truncated or oversized data.
std::optional<KVImage> KVImageFromData(std::string_view bytes, KVError* error = nullptr);

// Baseline JPEG with 4:2:0 chroma at `quality` (clamped to 1…100); alpha is dropped.
std::optional<std::string> KVEncodeJPEG(const KVImage& image, int quality,
                                        KVError* error = nullptr);

// 8-bit RGBA PNG, lossless.
std::optional<std::string> KVEncodePNG(const KVImage& image, KVError* error = nullptr);
