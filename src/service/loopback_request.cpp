#include "service/loopback_request.hpp"

#include "base/ascii.hpp"
#include "base/utf8.hpp"

#include <algorithm>
#include <charconv>

namespace {

constexpr size_t kMaxTokenBody = 512; // characters after the prefix

// "kor_" or "dk_", then 1 to 512 characters that need no escaping in a URL. The token goes
// into a header of every request and into the sign-in file: a line break, a space or a quote
// in it would let whoever crafted the callback write there.
bool acceptableToken(std::string_view value) {
    std::string_view body;
    if (value.starts_with("kor_")) {
        body = value.substr(4);
    } else if (value.starts_with("dk_")) {
        body = value.substr(3);
    } else {
        return false;
    }
    if (body.empty() || body.size() > kMaxTokenBody) {
        return false;
    }
    return std::ranges::all_of(body, [](char c) {
        return KVIsAsciiAlnum(c) || c == '.' || c == '_' || c == '~' || c == '-';
    });
}

// `text` with its %XX escapes decoded ("+" stays a plus); nothing when an escape is malformed
// or the result is not UTF-8, as a URL parser would refuse such an item.
std::optional<std::string> percentDecoded(std::string_view text) {
    std::string out;
    out.reserve(text.size());
    for (size_t i = 0; i < text.size(); ++i) {
        unsigned byte = static_cast<unsigned char>(text[i]);
        if (byte == '%') {
            const char* digits = text.data() + i + 1;
            if (i + 2 >= text.size() ||
                std::from_chars(digits, digits + 2, byte, 16).ptr != digits + 2) {
                return std::nullopt;
            }
            i += 2;
        }
        out += static_cast<char>(byte);
    }
    if (!KVIsValidUtf8(out)) {
        return std::nullopt;
    }
    return out;
}

// Equal without an early exit, so the time taken tells nothing about how much of a guess
// was right.
bool sameSecret(std::string_view a, std::string_view b) {
    if (a.size() != b.size()) {
        return false;
    }
    unsigned char difference = 0;
    for (size_t i = 0; i < a.size(); ++i) {
        difference |= static_cast<unsigned char>(a[i] ^ b[i]);
    }
    return difference == 0;
}

// The items of the query of http://127.0.0.1<target> that matter: the last "state" and the
// last acceptable "token".
struct CallbackQuery {
    std::optional<std::string> state;
    std::optional<std::string> token;
};

CallbackQuery queryOf(std::string_view target) {
    CallbackQuery found;
    target = target.substr(0, target.find('#'));
    size_t mark = target.find('?');
    if (mark == std::string_view::npos) {
        return found;
    }
    std::string_view query = target.substr(mark + 1);
    while (true) {
        size_t amp = query.find('&');
        std::string_view item = query.substr(0, amp);
        size_t eq = item.find('=');
        if (eq != std::string_view::npos) {
            auto name = percentDecoded(item.substr(0, eq));
            auto value = percentDecoded(item.substr(eq + 1));
            if (name == "token" && value && acceptableToken(*value)) {
                found.token = std::move(value);
            } else if (name == "state") {
                found.state = std::move(value);
            }
        }
        if (amp == std::string_view::npos) {
            return found;
        }
        query.remove_prefix(amp + 1);
    }
}

std::string page(std::string_view message) {
    std::string html = "<!DOCTYPE html>\n<html lang=\"en\">\n<head>\n<meta charset=\"utf-8\">\n"
                       "<title>Korvane</title>\n<style>\n"
                       "body{margin:0;background:#07090d;color:#e8d5a3;"
                       "font:16px/1.6 system-ui,sans-serif}\n"
                       "main{max-width:420px;margin:18vh auto 0;padding:0 24px;text-align:center}\n"
                       "h1{margin:0;font-family:Georgia,serif;font-weight:600;font-size:28px;"
                       "color:#d4af6a}\n"
                       "p{margin:18px 0 0;color:#9aa4b2}\n"
                       "</style>\n</head>\n<body>\n<main>\n<h1>Korvane</h1>\n<p>";
    html += message;
    html += "</p>\n</main>\n</body>\n</html>\n";
    return html;
}

} // namespace

bool KVLoopbackRequestComplete(std::string_view bytes) {
    // Lines may end in a bare LF (as tolerant servers accept): a blank line is LF LF or
    // LF CR LF, which CR LF CR LF contains.
    return bytes.size() >= kKVLoopbackMaxRequestBytes ||
           bytes.find("\n\n") != std::string_view::npos ||
           bytes.find("\n\r\n") != std::string_view::npos;
}

KVLoopbackVerdict KVJudgeLoopbackRequest(std::string_view request, std::string_view expectedState) {
    request = request.substr(0, kKVLoopbackMaxRequestBytes);
    if (!KVIsValidUtf8(request)) {
        request = {};
    }
    std::string_view line = request.substr(0, request.find('\n'));
    if (line.ends_with('\r')) {
        line.remove_suffix(1);
    }
    std::string_view target;
    if (size_t space = line.find(' '); space != std::string_view::npos) {
        target = line.substr(space + 1);
        target = target.substr(0, target.find(' '));
    }
    // Only the callback that carries a token and the state this sign-in was started with
    // ends the wait. Any local process or web page can reach the port; without the state it
    // could end the sign-in, or plant an account of its own.
    KVLoopbackVerdict verdict;
    if (!target.starts_with("/callback") || expectedState.empty()) {
        return verdict;
    }
    CallbackQuery query = queryOf(target);
    if (query.token && query.state && sameSecret(*query.state, expectedState)) {
        verdict.status = 200;
        verdict.message = kKVLoopbackSignedIn;
        verdict.token = std::move(query.token);
        verdict.ends = true;
    }
    return verdict;
}

std::string KVLoopbackAnswer(const KVLoopbackVerdict& verdict) {
    const std::string body = page(verdict.message);
    return "HTTP/1.0 " + std::to_string(verdict.status) +
           " OK\r\nContent-Type: text/html; charset=utf-8\r\nContent-Length: " +
           std::to_string(body.size()) + "\r\nConnection: close\r\n\r\n" + body;
}
