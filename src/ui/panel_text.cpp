#include "ui/panel_text.hpp"

#include "draft/draft_session.hpp"

#include <cstdio>

namespace kv_panel {

const KVColor& white() {
    static const KVColor color{1, 1, 1, 1};
    return color;
}

std::string joined(const KVJson& list, std::string_view separator, size_t limit) {
    std::string text;
    if (!list.is_array()) {
        return text;
    }
    size_t count = 0;
    for (const KVJson& entry : list) {
        if (count++ == limit) {
            break;
        }
        if (count > 1) {
            text += separator;
        }
        text += KVS(entry);
    }
    return text;
}

std::string joined(const std::vector<std::string>& parts, std::string_view separator) {
    std::string text;
    for (const std::string& part : parts) {
        if (!text.empty()) {
            text += separator;
        }
        text += part;
    }
    return text;
}

std::string printed(const char* format, int64_t value) {
    char buffer[64];
    std::snprintf(buffer, sizeof buffer, format, value);
    return buffer;
}

void replaceAll(std::string& text, std::string_view from, std::string_view to) {
    for (size_t at = text.find(from); at != std::string::npos; at = text.find(from, at)) {
        text.replace(at, from.size(), to);
        at += to.size();
    }
}

} // namespace kv_panel
