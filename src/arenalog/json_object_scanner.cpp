#include "arenalog/json_object_scanner.hpp"

#include <cstring>

bool KVJSONObjectScanner::scan(std::string_view text) {
    if (complete() || scanned_ >= text.size()) {
        return complete();
    }
    const char* data = text.data();
    size_t pos = scanned_;
    if (begin_ == npos) {
        const void* brace = std::memchr(data + pos, '{', text.size() - pos);
        if (brace == nullptr) {
            scanned_ = text.size();
            return false;
        }
        begin_ = static_cast<size_t>(static_cast<const char*>(brace) - data);
        pos = begin_;
    }
    for (; pos < text.size(); ++pos) {
        const char c = data[pos];
        if (inString_) {
            if (escape_) {
                escape_ = false;
            } else if (c == '\\') {
                escape_ = true;
            } else if (c == '"') {
                inString_ = false;
            }
        } else if (c == '"') {
            inString_ = true;
        } else if (c == '{') {
            ++depth_;
        } else if (c == '}') {
            if (depth_ == 1) {
                end_ = pos + 1;
                scanned_ = end_;
                return true;
            }
            --depth_;
        }
    }
    scanned_ = text.size();
    return false;
}
