#include "vision/image_codec.hpp"

#include <png.h>
#include <turbojpeg.h>

#include <algorithm>
#include <csetjmp>
#include <cstdio>
#include <cstring>
#include <memory>
#include <new>

namespace {

std::nullopt_t fail(KVError* error, long code, std::string message) {
    KVSetError(error, KVImageErrorDomain, code, std::move(message));
    return std::nullopt;
}

bool tooLarge(int64_t width, int64_t height) {
    return height > 0 && width > KVImageMaxPixels / height;
}

// Sizes the pixel buffer; the one place an allocation failure is caught, so that the decoders
// below never let an exception cross libjpeg's or libpng's C frames.
uint8_t* allocatePixels(KVImage* image, int width, int height) noexcept {
    try {
        image->rgba.resize(static_cast<size_t>(width) * static_cast<size_t>(height) * 4);
    } catch (...) {
        return nullptr;
    }
    image->width = width;
    image->height = height;
    return image->rgba.data();
}

bool validForEncoding(const KVImage& image, KVError* error) {
    if (image.empty()) {
        fail(error, KVImageErrorEmpty, "The image has no pixels");
        return false;
    }
    if (image.rgba.size() != static_cast<size_t>(image.width) * image.height * 4) {
        fail(error, KVImageErrorEncode, "The image's pixels do not match its size");
        return false;
    }
    return true;
}

// --- JPEG through TurboJPEG -------------------------------------------------------------------

struct TJDestroy {
    void operator()(void* handle) const { tjDestroy(handle); }
};
using TJHandle = std::unique_ptr<void, TJDestroy>;

std::optional<KVImage> decodeJPEG(std::string_view bytes, KVError* error) {
    const TJHandle handle(tjInitDecompress());
    if (!handle) {
        return fail(error, KVImageErrorNoMemory, "Could not start a JPEG decoder");
    }
    const auto* data = reinterpret_cast<const unsigned char*>(bytes.data());
    int width = 0;
    int height = 0;
    int subsampling = 0;
    int colorspace = 0;
    if (tjDecompressHeader3(handle.get(), data, bytes.size(), &width, &height, &subsampling,
                            &colorspace) != 0 ||
        width <= 0 || height <= 0) {
        return fail(error, KVImageErrorCorrupt,
                    std::string("Unreadable JPEG: ") + tjGetErrorStr2(handle.get()));
    }
    if (tooLarge(width, height)) {
        return fail(error, KVImageErrorTooLarge,
                    "JPEG too large: " + std::to_string(width) + "x" + std::to_string(height));
    }
    KVImage image;
    uint8_t* pixels = allocatePixels(&image, width, height);
    if (pixels == nullptr) {
        return fail(error, KVImageErrorNoMemory, "Out of memory for a JPEG");
    }
    // A warning means damaged or truncated data whose missing part would be painted gray: such a
    // picture would hash as another one, so it is refused like an error. LIMITSCANS stops
    // progressive files built to take forever.
    if (tjDecompress2(handle.get(), data, bytes.size(), pixels, width, 0, height, TJPF_RGBA,
                      TJFLAG_STOPONWARNING | TJFLAG_LIMITSCANS) != 0) {
        return fail(error, KVImageErrorCorrupt,
                    std::string("Damaged JPEG: ") + tjGetErrorStr2(handle.get()));
    }
    return image;
}

// --- PNG through libpng ------------------------------------------------------------------------
// libpng reports errors by longjmp. The functions that call setjmp hold only plain values, and
// everything with a destructor lives in their callers, so the jump skips no destructor.

// The most one chunk read whole may allocate. The chunks still read (header, palette,
// transparency) need a few hundred bytes; the image data is read in small pieces.
constexpr png_alloc_size_t kPNGChunkMemory = 65536;

struct PNGContext {
    const uint8_t* data = nullptr; // reading
    size_t size = 0;
    size_t offset = 0;
    std::string* out = nullptr; // writing
    long code = 0;              // set before a deliberate failure; otherwise "corrupt"
    char message[200] = {};
};

[[noreturn]] void onPNGError(png_structp png, png_const_charp message) {
    auto* context = static_cast<PNGContext*>(png_get_error_ptr(png));
    std::snprintf(context->message, sizeof context->message, "%s", message);
    png_longjmp(png, 1);
}

void onPNGWarning(png_structp /*png*/, png_const_charp /*message*/) {}

void readPNGBytes(png_structp png, png_bytep out, size_t length) {
    auto* context = static_cast<PNGContext*>(png_get_io_ptr(png));
    if (length > context->size - context->offset) {
        png_error(png, "the data ends early");
    }
    std::memcpy(out, context->data + context->offset, length);
    context->offset += length;
}

bool appendBytes(std::string* out, const uint8_t* data, size_t length) noexcept {
    try {
        out->append(reinterpret_cast<const char*>(data), length);
        return true;
    } catch (...) {
        return false;
    }
}

void writePNGBytes(png_structp png, png_bytep data, size_t length) {
    auto* context = static_cast<PNGContext*>(png_get_io_ptr(png));
    if (!appendBytes(context->out, data, length)) {
        context->code = KVImageErrorNoMemory;
        png_error(png, "out of memory");
    }
}

void flushNothing(png_structp /*png*/) {}

bool decodePNGInto(PNGContext* context, KVImage* image) {
    png_structp png =
        png_create_read_struct(PNG_LIBPNG_VER_STRING, context, onPNGError, onPNGWarning);
    png_infop info = png != nullptr ? png_create_info_struct(png) : nullptr;
    if (info == nullptr) {
        png_destroy_read_struct(&png, nullptr, nullptr);
        context->code = KVImageErrorNoMemory;
        return false;
    }
    if (setjmp(png_jmpbuf(png))) {
        png_destroy_read_struct(&png, &info, nullptr);
        return false;
    }
    png_set_read_fn(png, context, readPNGBytes);
    // Only the pixels are wanted. Every ancillary chunk but transparency (texts, colour
    // profiles, unknown chunks) is skipped without being inflated or kept, and no chunk may
    // ask for more than a small buffer: a file of a few megabytes could otherwise expand to
    // gigabytes of text.
    png_set_keep_unknown_chunks(png, PNG_HANDLE_CHUNK_NEVER, nullptr, -1);
    png_set_chunk_malloc_max(png, kPNGChunkMemory);
    png_read_info(png, info);
    const png_uint_32 width = png_get_image_width(png, info);
    const png_uint_32 height = png_get_image_height(png, info);
    if (tooLarge(width, height)) {
        context->code = KVImageErrorTooLarge;
        std::snprintf(context->message, sizeof context->message, "PNG too large: %ux%u",
                      static_cast<unsigned>(width), static_cast<unsigned>(height));
        png_destroy_read_struct(&png, &info, nullptr);
        return false;
    }
    // Whatever the stored form, 8-bit RGBA comes out: palettes and low bit depths expanded,
    // transparency chunks made alpha, 16 bits scaled, gray copied to three channels, opaque
    // alpha added where there is none.
    png_set_expand(png);
    png_set_scale_16(png);
    png_set_gray_to_rgb(png);
    png_set_add_alpha(png, 0xff, PNG_FILLER_AFTER);
    const int passes = png_set_interlace_handling(png);
    png_read_update_info(png, info);
    if (png_get_rowbytes(png, info) != static_cast<size_t>(width) * 4) {
        png_error(png, "unexpected row layout");
    }
    uint8_t* pixels = allocatePixels(image, static_cast<int>(width), static_cast<int>(height));
    if (pixels == nullptr) {
        context->code = KVImageErrorNoMemory;
        png_error(png, "out of memory");
    }
    // Each interlace pass fills its own pixels of the full rows.
    for (int pass = 0; pass < passes; ++pass) {
        for (png_uint_32 y = 0; y < height; ++y) {
            png_read_row(png, pixels + static_cast<size_t>(y) * width * 4, nullptr);
        }
    }
    png_read_end(png, nullptr);
    png_destroy_read_struct(&png, &info, nullptr);
    return true;
}

std::optional<KVImage> decodePNG(std::string_view bytes, KVError* error) {
    PNGContext context;
    context.data = reinterpret_cast<const uint8_t*>(bytes.data());
    context.size = bytes.size();
    KVImage image;
    if (!decodePNGInto(&context, &image)) {
        const long code = context.code != 0 ? context.code : KVImageErrorCorrupt;
        return fail(error, code, std::string("Unreadable PNG: ") + context.message);
    }
    return image;
}

bool encodePNGInto(PNGContext* context, const KVImage* image) {
    png_structp png =
        png_create_write_struct(PNG_LIBPNG_VER_STRING, context, onPNGError, onPNGWarning);
    png_infop info = png != nullptr ? png_create_info_struct(png) : nullptr;
    if (info == nullptr) {
        png_destroy_write_struct(&png, nullptr);
        context->code = KVImageErrorNoMemory;
        return false;
    }
    if (setjmp(png_jmpbuf(png))) {
        png_destroy_write_struct(&png, &info);
        return false;
    }
    png_set_write_fn(png, context, writePNGBytes, flushNothing);
    png_set_IHDR(png, info, static_cast<png_uint_32>(image->width),
                 static_cast<png_uint_32>(image->height), 8, PNG_COLOR_TYPE_RGB_ALPHA,
                 PNG_INTERLACE_NONE, PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
    png_write_info(png, info);
    for (int y = 0; y < image->height; ++y) {
        png_write_row(png, image->pixel(0, y));
    }
    png_write_end(png, nullptr);
    png_destroy_write_struct(&png, &info);
    return true;
}

} // namespace

std::optional<KVImage> KVImageFromData(std::string_view bytes, KVError* error) {
    static constexpr std::string_view pngSignature("\x89PNG\r\n\x1a\n", 8);
    if (bytes.empty()) {
        return fail(error, KVImageErrorEmpty, "No image data");
    }
    if (bytes.size() >= 3 && bytes.substr(0, 3) == "\xFF\xD8\xFF") {
        return decodeJPEG(bytes, error);
    }
    if (bytes.substr(0, pngSignature.size()) == pngSignature) {
        return decodePNG(bytes, error);
    }
    return fail(error, KVImageErrorUnknownFormat, "Neither JPEG nor PNG data");
}

std::optional<std::string> KVEncodeJPEG(const KVImage& image, int quality, KVError* error) {
    if (!validForEncoding(image, error)) {
        return std::nullopt;
    }
    const TJHandle handle(tjInitCompress());
    if (!handle) {
        return fail(error, KVImageErrorNoMemory, "Could not start a JPEG encoder");
    }
    unsigned char* buffer = nullptr;
    unsigned long size = 0;
    const int status =
        tjCompress2(handle.get(), image.rgba.data(), image.width, 0, image.height, TJPF_RGBA,
                    &buffer, &size, TJSAMP_420, std::clamp(quality, 1, 100), 0);
    std::optional<std::string> bytes;
    if (status != 0) {
        fail(error, KVImageErrorEncode,
             std::string("JPEG encoding failed: ") + tjGetErrorStr2(handle.get()));
    } else {
        try {
            bytes.emplace(reinterpret_cast<const char*>(buffer), size);
        } catch (...) {
            fail(error, KVImageErrorNoMemory, "Out of memory for a JPEG");
        }
    }
    tjFree(buffer);
    return bytes;
}

std::optional<std::string> KVEncodePNG(const KVImage& image, KVError* error) {
    if (!validForEncoding(image, error)) {
        return std::nullopt;
    }
    std::string bytes;
    PNGContext context;
    context.out = &bytes;
    if (!encodePNGInto(&context, &image)) {
        const long code = context.code != 0 ? context.code : KVImageErrorEncode;
        return fail(error, code, std::string("PNG encoding failed: ") + context.message);
    }
    return bytes;
}
