#include "photographs.hpp"

#include "vision/image_codec.hpp"

#include <algorithm>
#include <cctype>

namespace {

// For each target pixel, the source pixels it covers and their share of it.
std::vector<std::vector<std::pair<int, double>>> areaWeights(int source, int target) {
    std::vector<std::vector<std::pair<int, double>>> weights(static_cast<size_t>(target));
    const double scale = static_cast<double>(source) / target;
    for (int i = 0; i < target; ++i) {
        const double lo = i * scale;
        const double hi = std::min((i + 1) * scale, static_cast<double>(source));
        for (int j = static_cast<int>(lo); j < source && j < hi; ++j) {
            const double overlap = std::min(hi, j + 1.0) - std::max(lo, static_cast<double>(j));
            if (overlap > 1e-9) {
                weights[i].push_back({j, overlap / (hi - lo)});
            }
        }
    }
    return weights;
}

} // namespace

KVImage KVShrinkImage(const KVImage& image, int width, int height) {
    const auto across = areaWeights(image.width, width);
    const auto down = areaWeights(image.height, height);
    std::vector<double> rows(static_cast<size_t>(image.height) * width * 4, 0.0);
    for (int y = 0; y < image.height; ++y) {
        for (int x = 0; x < width; ++x) {
            for (const auto& [j, w] : across[x]) {
                for (int c = 0; c < 4; ++c) {
                    rows[(static_cast<size_t>(y) * width + x) * 4 + c] += w * image.pixel(j, y)[c];
                }
            }
        }
    }
    KVImage out = KVImage::blank(width, height);
    for (int y = 0; y < height; ++y) {
        for (int x = 0; x < width; ++x) {
            for (int c = 0; c < 4; ++c) {
                double sum = 0;
                for (const auto& [j, w] : down[y]) {
                    sum += w * rows[(static_cast<size_t>(j) * width + x) * 4 + c];
                }
                out.pixel(x, y)[c] = static_cast<uint8_t>(std::clamp(sum + 0.5, 0.0, 255.0));
            }
        }
    }
    return out;
}

std::optional<KVImage> KVThroughJPEG(const KVImage& image, int quality) {
    const auto bytes = KVEncodeJPEG(image, quality);
    return bytes ? KVImageFromData(*bytes) : std::nullopt;
}

std::map<std::string, std::filesystem::path>
KVFindPhotographs(const std::vector<std::string>& roots) {
    std::map<std::string, std::filesystem::path> photos;
    for (const std::string& root : roots) {
        std::error_code error;
        for (std::filesystem::recursive_directory_iterator it(root, error), end;
             !error && it != end; it.increment(error)) {
            if (!it->is_regular_file()) {
                continue;
            }
            const std::filesystem::path& path = it->path();
            std::string ext = path.extension().string();
            std::transform(ext.begin(), ext.end(), ext.begin(), ::tolower);
            if (ext != ".jpg" && ext != ".jpeg" && ext != ".png") {
                continue;
            }
            const std::filesystem::path folder = path.parent_path();
            // Dark variants are the same photograph retouched: not a different card.
            if (folder.filename() == "images_dark") {
                continue;
            }
            std::string key = path.string();
            if (folder.filename() == "images" && folder.parent_path().filename() == "contents") {
                key = folder.parent_path().parent_path().filename().string();
            } else if (path.stem() == "screenshot") {
                continue;
            }
            const auto found = photos.find(key);
            if (found == photos.end() ||
                std::filesystem::file_size(path) > std::filesystem::file_size(found->second)) {
                photos[key] = path;
            }
        }
    }
    return photos;
}
