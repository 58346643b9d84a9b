#include "server/desktop_redirect.hpp"

#include <httplib.h>

#include <algorithm>

namespace {

bool isDigit(char c) {
    return c >= '0' && c <= '9';
}

} // namespace

bool KVSIsDesktopCallback(std::string_view uri) {
    constexpr std::string_view kScheme = "http://";
    constexpr std::string_view kPath = "/callback";
    if (uri.substr(0, kScheme.size()) != kScheme) {
        return false;
    }
    uri.remove_prefix(kScheme.size());
    bool hostKnown = false;
    for (const std::string_view host : {"127.0.0.1:", "localhost:"}) {
        if (uri.substr(0, host.size()) == host) {
            uri.remove_prefix(host.size());
            hostKnown = true;
            break;
        }
    }
    const size_t digits =
        std::find_if(uri.begin(), uri.end(), [](char c) { return !isDigit(c); }) - uri.begin();
    if (!hostKnown || digits == 0 || digits > 5 || uri.substr(digits) != kPath) {
        return false;
    }
    const int port = std::stoi(std::string(uri.substr(0, digits)));
    return port > 0 && port <= 65535;
}

bool KVSIsValidState(std::string_view state) {
    return state.size() >= 8 && state.size() <= 128 &&
           std::all_of(state.begin(), state.end(), [](char c) {
               return isDigit(c) || (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || c == '-' ||
                      c == '_' || c == '.' || c == '~';
           });
}

std::string KVSCallbackWithToken(const std::string& uri, const std::string& token,
                                 const std::string& state) {
    return uri + "?token=" + httplib::detail::encode_query_param(token) +
           "&state=" + httplib::detail::encode_query_param(state);
}
