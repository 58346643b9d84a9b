#include "vision/image_codec.hpp"

#include "draft_screen/pictures.hpp"

#include <gtest/gtest.h>
#include <png.h>

#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

namespace {

// PNGs in the stored forms the decoder must normalise, written by libpng itself.
struct PNGForm {
    int width = 0;
    int height = 0;
    int bitDepth = 8;
    int colorType = PNG_COLOR_TYPE_RGB;
    bool interlaced = false;
    std::vector<png_color> palette;
    std::vector<png_byte> paletteAlpha;
    size_t textBytes = 0; // a compressed text chunk inflating to this many bytes; 0: none
};

void appendToString(png_structp png, png_bytep data, size_t length) {
    static_cast<std::string*>(png_get_io_ptr(png))->append(reinterpret_cast<char*>(data), length);
}

// `rows` hold the bytes of each row as the form stores them (16-bit samples big-endian).
std::string writePNG(const PNGForm& form, const std::vector<std::vector<uint8_t>>& rows) {
    std::string bytes;
    png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
    png_infop info = png_create_info_struct(png);
    png_set_write_fn(png, &bytes, appendToString, nullptr);
    png_set_IHDR(png, info, form.width, form.height, form.bitDepth, form.colorType,
                 form.interlaced ? PNG_INTERLACE_ADAM7 : PNG_INTERLACE_NONE,
                 PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
    if (!form.palette.empty()) {
        png_set_PLTE(png, info, form.palette.data(), static_cast<int>(form.palette.size()));
    }
    if (!form.paletteAlpha.empty()) {
        png_set_tRNS(png, info, form.paletteAlpha.data(),
                     static_cast<int>(form.paletteAlpha.size()), nullptr);
    }
    std::string text(form.textBytes, 'a');
    std::string key = "Comment";
    png_text entry{};
    entry.compression = PNG_TEXT_COMPRESSION_zTXt;
    entry.key = key.data();
    entry.text = text.data();
    entry.text_length = text.size();
    if (form.textBytes > 0) {
        png_set_text(png, info, &entry, 1);
    }
    png_write_info(png, info);
    if (!rows.empty()) { // none: the signature and the header chunk alone
        const int passes = png_set_interlace_handling(png);
        for (int pass = 0; pass < passes; ++pass) {
            for (const auto& row : rows) {
                png_write_row(png, row.data());
            }
        }
        png_write_end(png, nullptr);
    }
    png_destroy_write_struct(&png, &info);
    return bytes;
}

// A line of /proc/self/status in KiB ("VmRSS", "VmHWM"), or -1.
long statusKiB(const std::string& field) {
    std::ostringstream status;
    status << std::ifstream("/proc/self/status").rdbuf();
    const size_t at = status.str().find("\n" + field + ":");
    return at == std::string::npos ? -1 : std::atol(status.str().c_str() + at + field.size() + 2);
}

TEST(ImageCodec, RoundTrips) {
    KVImage image = KVTexturedImage(64, 48, 1);
    for (size_t i = 3; i < image.rgba.size(); i += 4) {
        image.rgba[i] = static_cast<uint8_t>(i * 7);
    }
    const auto png = KVImageFromData(KVEncodePNG(image).value_or(""));
    ASSERT_TRUE(png.has_value());
    EXPECT_EQ(png->width, 64);
    EXPECT_EQ(png->height, 48);
    EXPECT_EQ(png->rgba, image.rgba);

    const auto bytes = KVEncodeJPEG(image, 95);
    ASSERT_TRUE(bytes.has_value());
    const auto jpeg = KVImageFromData(*bytes);
    ASSERT_TRUE(jpeg.has_value());
    ASSERT_EQ(jpeg->width, 64);
    ASSERT_EQ(jpeg->height, 48);
    double error = 0;
    for (size_t i = 0; i < image.rgba.size(); ++i) {
        if (i % 4 == 3) {
            EXPECT_EQ(jpeg->rgba[i], 255);
        } else {
            error += std::abs(jpeg->rgba[i] - image.rgba[i]);
        }
    }
    EXPECT_LT(error / (64 * 48 * 3), 6.0); // swapped channels would give about 40
    // Quality matters: a low quality gives a smaller file.
    EXPECT_LT(KVEncodeJPEG(image, 20)->size(), bytes->size());
}

TEST(ImageCodec, PNGFormsAreNormalisedToRGBA) {
    // 8-bit gray, interlaced so that every pass must land in the right pixels.
    std::vector<std::vector<uint8_t>> grayRows(9);
    std::vector<uint8_t> expected;
    for (uint8_t i = 0; i < 27; ++i) {
        grayRows[i / 3].push_back(i);
        expected.insert(expected.end(), {i, i, i, 255});
    }
    auto image = KVImageFromData(writePNG({3, 9, 8, PNG_COLOR_TYPE_GRAY, true, {}, {}}, grayRows));
    ASSERT_TRUE(image.has_value());
    EXPECT_EQ(image->rgba, expected);

    // Palette with transparency, at 2 bits per pixel.
    PNGForm palette{
        3, 1, 2, PNG_COLOR_TYPE_PALETTE, false, {{255, 0, 0}, {0, 0, 255}, {9, 8, 7}}, {255, 128}};
    image = KVImageFromData(writePNG(palette, {{0b00011000}}));
    ASSERT_TRUE(image.has_value());
    EXPECT_EQ(image->rgba, (std::vector<uint8_t>{255, 0, 0, 255, 0, 0, 255, 128, 9, 8, 7, 255}));

    // 16-bit RGB, samples scaled to 8 bits.
    PNGForm deep{2, 1, 16, PNG_COLOR_TYPE_RGB, false, {}, {}};
    image = KVImageFromData(
        writePNG(deep, {{0xFF, 0xFF, 0x00, 0x00, 0x80, 0x80, 0x00, 0x00, 0xFF, 0xFF, 0x12, 0x12}}));
    ASSERT_TRUE(image.has_value());
    EXPECT_EQ(image->rgba, (std::vector<uint8_t>{255, 0, 128, 255, 0, 255, 18, 255}));

    // Gray with alpha, and 1-bit gray.
    image = KVImageFromData(
        writePNG({2, 1, 8, PNG_COLOR_TYPE_GRAY_ALPHA, false, {}, {}}, {{40, 0, 200, 77}}));
    ASSERT_TRUE(image.has_value());
    EXPECT_EQ(image->rgba, (std::vector<uint8_t>{40, 40, 40, 0, 200, 200, 200, 77}));
    image =
        KVImageFromData(writePNG({3, 1, 1, PNG_COLOR_TYPE_GRAY, false, {}, {}}, {{0b10100000}}));
    ASSERT_TRUE(image.has_value());
    EXPECT_EQ(image->rgba,
              (std::vector<uint8_t>{255, 255, 255, 255, 0, 0, 0, 255, 255, 255, 255, 255}));
}

TEST(ImageCodec, MalformedDataIsRefusedWithItsReason) {
    const KVImage image = KVTexturedImage(40, 30, 3);
    const std::string png = *KVEncodePNG(image);
    const std::string jpeg = *KVEncodeJPEG(image, 90);
    std::mt19937 rng(4);
    std::string noise(2000, '\0');
    for (char& c : noise) {
        c = static_cast<char>(rng());
    }
    // A flipped byte inside the pixel data: the checksum catches it.
    std::string flipped = png;
    flipped[png.size() / 2] = static_cast<char>(flipped[png.size() / 2] ^ 0x40);
    // Headers claiming 60000 × 60000 pixels, the PNG's with its checksum right (the signature
    // and header chunk are the first 33 bytes): refused before anything is allocated for them.
    const std::string hugePNG =
        writePNG({60000, 60000, 8, PNG_COLOR_TYPE_RGB, false, {}, {}}, {}).substr(0, 33) +
        png.substr(33);
    std::string hugeJPEG = jpeg;
    const size_t frame = jpeg.find("\xFF\xC0");
    ASSERT_NE(frame, std::string::npos);
    hugeJPEG.replace(frame + 5, 4, "\xEA\x60\xEA\x60");

    std::vector<std::pair<std::string, long>> cases = {
        {"", KVImageErrorEmpty},
        {"GIF89a............", KVImageErrorUnknownFormat},
        {std::string(5000, '\x5a'), KVImageErrorUnknownFormat},
        {flipped, KVImageErrorCorrupt},
        // Right signatures followed by noise.
        {png.substr(0, 8) + noise, KVImageErrorCorrupt},
        {"\xFF\xD8\xFF" + noise, KVImageErrorCorrupt},
        {hugePNG, KVImageErrorTooLarge},
        {hugeJPEG, KVImageErrorTooLarge},
    };
    // Cut anywhere, including just before the end marker, or right after the signature.
    for (const size_t keep : {size_t{8}, size_t{20}, png.size() / 2, png.size() - 12}) {
        cases.emplace_back(png.substr(0, keep), KVImageErrorCorrupt);
    }
    for (const size_t keep : {size_t{3}, size_t{100}, jpeg.size() / 2, jpeg.size() - 2}) {
        cases.emplace_back(jpeg.substr(0, keep), KVImageErrorCorrupt);
    }
    for (size_t i = 0; i < cases.size(); ++i) {
        SCOPED_TRACE("case " + std::to_string(i));
        KVError error;
        EXPECT_FALSE(KVImageFromData(cases[i].first, &error).has_value());
        EXPECT_EQ(error.domain, KVImageErrorDomain);
        EXPECT_EQ(error.code, cases[i].second);
    }
}

TEST(ImageCodec, TextChunksAreSkippedNotInflated) {
    // A thousand text chunks of 512 KiB each: a half-megabyte file that a decoder keeping its
    // texts inflates to half a gigabyte (libpng keeps up to a thousand, 8 MB each).
    const KVImage picture = KVTexturedImage(64, 48, 6);
    std::vector<std::vector<uint8_t>> rows;
    for (int y = 0; y < picture.height; ++y) {
        rows.emplace_back(picture.pixel(0, y), picture.pixel(0, y) + picture.stride());
    }
    std::string bytes =
        writePNG({64, 48, 8, PNG_COLOR_TYPE_RGB_ALPHA, false, {}, {}, size_t{512} << 10}, rows);
    // The one text chunk (length, type, data, checksum, up to the pixels' chunk), repeated
    // where it stands.
    const size_t at = bytes.find("zTXt") - 4;
    const std::string chunk = bytes.substr(at, bytes.find("IDAT", at) - 4 - at);
    for (int i = 1; i < 1000; ++i) {
        bytes.insert(at, chunk);
    }
    ASSERT_LT(bytes.size(), 2u << 20);

    // The peak resident size starts afresh at the current size.
    std::ofstream clear("/proc/self/clear_refs");
    if (!(clear << "5" << std::flush)) {
        GTEST_SKIP() << "this kernel does not let a process reset its peak resident size";
    }
    const long before = statusKiB("VmRSS");
    const auto decoded = KVImageFromData(bytes);
    const long grown = statusKiB("VmHWM") - before;
    ASSERT_TRUE(decoded.has_value());
    EXPECT_EQ(decoded->rgba, picture.rgba);
    EXPECT_LT(grown, 64 * 1024) << "KiB more at the peak";
}

TEST(ImageCodec, ImagesWithoutPixelsAreNotEncoded) {
    KVError error;
    EXPECT_FALSE(KVEncodePNG(KVImage{}, &error).has_value());
    EXPECT_EQ(error.code, KVImageErrorEmpty);
    EXPECT_FALSE(KVEncodeJPEG(KVImage::blank(0, 5), 80).has_value());
    KVImage inconsistent = KVImage::blank(4, 4);
    inconsistent.rgba.resize(10);
    EXPECT_FALSE(KVEncodePNG(inconsistent, &error).has_value());
    EXPECT_EQ(error.code, KVImageErrorEncode);
    EXPECT_FALSE(KVEncodeJPEG(inconsistent, 80).has_value());
}

} // namespace
