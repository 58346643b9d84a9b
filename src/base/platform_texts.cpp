#include "base/platform_texts.hpp"

#include "base/files.hpp"

namespace KVPlatformTexts {

namespace {

// The value of `key` in os-release text ("KEY=value", optionally quoted), or "".
std::string osReleaseValue(std::string_view text, std::string_view key) {
    size_t start = 0;
    while (start < text.size()) {
        size_t end = text.find('\n', start);
        if (end == std::string_view::npos) {
            end = text.size();
        }
        std::string_view line = text.substr(start, end - start);
        start = end + 1;
        if (line.size() <= key.size() || line.substr(0, key.size()) != key ||
            line[key.size()] != '=') {
            continue;
        }
        std::string_view value = line.substr(key.size() + 1);
        if (value.size() >= 2 && (value.front() == '"' || value.front() == '\'') &&
            value.back() == value.front()) {
            value = value.substr(1, value.size() - 2);
        }
        return std::string(value);
    }
    return {};
}

} // namespace

std::string launchedLine(long parentPid, const std::string& parentName) {
    if (parentPid == 1 || parentName == "systemd") {
        return std::string(kLaunchedByDesktop);
    }
    return "launched : from " + (parentName.empty() ? std::string("?") : parentName) + " (pid " +
           std::to_string(parentPid) + ")";
}

std::string operatingSystemName(const std::string& osReleasePath) {
    const auto text = KVReadFile(osReleasePath, nullptr, size_t{64} * 1024);
    if (!text) {
        return "Linux";
    }
    std::string name = osReleaseValue(*text, "PRETTY_NAME");
    if (name.empty()) {
        name = osReleaseValue(*text, "NAME");
        const std::string version = osReleaseValue(*text, "VERSION");
        if (!name.empty() && !version.empty()) {
            name += " " + version;
        }
    }
    return name.empty() ? "Linux" : name;
}

} // namespace KVPlatformTexts
