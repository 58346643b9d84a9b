#include "platform/app_icon.hpp"

#include <algorithm>
#include <charconv>
#include <filesystem>
#include <system_error>
#include <utility>

namespace {

// N for a theme directory named "NxN"; 0 for anything else ("scalable", "48x64", "x").
int squareSize(const std::string& name) {
    const size_t x = name.find('x');
    if (x == std::string::npos || x == 0 || name.compare(x + 1, std::string::npos, name, 0, x)) {
        return 0;
    }
    int size = 0;
    const auto [end, error] = std::from_chars(name.data(), name.data() + x, size);
    return error == std::errc() && end == name.data() + x ? size : 0;
}

} // namespace

std::vector<std::string> KVAppIconFiles(const std::string& executablePath) {
    namespace fs = std::filesystem;
    const fs::path theme =
        fs::path(executablePath).parent_path().parent_path() / "share/icons/hicolor";
    std::vector<std::pair<int, std::string>> found;
    std::error_code error;
    for (fs::directory_iterator it(theme, error), end; !error && it != end; it.increment(error)) {
        const int size = squareSize(it->path().filename().string());
        const fs::path file = it->path() / "apps/korvane.png";
        if (size > 0 && fs::is_regular_file(file, error)) {
            found.emplace_back(size, file.string());
        }
    }
    std::sort(found.begin(), found.end());
    std::vector<std::string> files;
    for (auto& [size, file] : found) {
        files.push_back(std::move(file));
    }
    return files;
}
