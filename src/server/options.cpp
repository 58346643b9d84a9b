#include "server/options.hpp"

#include <charconv>
#include <functional>
#include <map>

namespace {

bool readInteger(const std::string& text, int64_t low, int64_t high, int64_t* out) {
    int64_t value = 0;
    const auto* end = text.data() + text.size();
    const auto [stop, failure] = std::from_chars(text.data(), end, value);
    if (failure != std::errc() || stop != end || value < low || value > high) {
        return false;
    }
    *out = value;
    return true;
}

bool readListen(const std::string& text, KVSOptions* options) {
    const size_t colon = text.rfind(':');
    if (colon == std::string::npos || colon == 0) {
        return false;
    }
    int64_t port = 0;
    if (!readInteger(text.substr(colon + 1), 0, 65535, &port)) {
        return false;
    }
    options->host = text.substr(0, colon);
    if (options->host.size() > 2 && options->host.front() == '[' && options->host.back() == ']') {
        options->host = options->host.substr(1, options->host.size() - 2);
    }
    options->port = static_cast<int>(port);
    return true;
}

// "http://" or "https://", a host, maybe a port and a path; no user, query or fragment, nothing
// that would need escaping in a link. One trailing "/" is dropped.
bool readPublicURL(const std::string& text, std::string* out) {
    const size_t scheme = text.find("://");
    const std::string_view rest = scheme == std::string::npos
                                      ? std::string_view()
                                      : std::string_view(text).substr(scheme + 3);
    const bool known =
        text.compare(0, scheme, "http") == 0 || text.compare(0, scheme, "https") == 0;
    if (!known || rest.empty() || rest.front() == '/' || rest.front() == ':' ||
        rest.find_first_not_of("abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789"
                               ".-_~:[]/%") != std::string_view::npos) {
        return false;
    }
    *out = text.back() == '/' ? text.substr(0, text.size() - 1) : text;
    return true;
}

} // namespace

bool KVSOptions::onLoopback() const {
    return host == "127.0.0.1" || host == "localhost" || host == "::1";
}

std::string KVSOptions::usage() {
    return "usage: korvane-service [--listen HOST:PORT] [--db FILE] [--tls-cert FILE --tls-key "
           "FILE | --behind-proxy]\n"
           "       [--public-url URL] [--free-credits N] [--threads N] [--releases DIR] "
           "[--telemetry-days N]\n"
           "       [--cards DIR] [--offline] [--ratings FILE] [--demo] [--dev-provider]\n"
           "       [--test-fast-hash]\n"
           "       korvane-service [--db FILE] --grant EMAIL N | --set-password EMAIL | "
           "--write-demo-log FILE\n";
}

std::optional<KVSOptions> KVSOptions::parse(const std::vector<std::string>& args, KVError* error) {
    KVSOptions options;
    const auto fail = [error](const std::string& message) {
        KVSetError(error, "KorvaneService", 2, message);
        return std::nullopt;
    };
    using Reader = std::function<bool(const std::string&)>;
    const auto integer = [](int64_t low, int64_t high, int64_t* out) {
        return Reader([=](const std::string& text) { return readInteger(text, low, high, out); });
    };
    const auto text = [](std::string* out) {
        return Reader([out](const std::string& value) {
            *out = value;
            return !value.empty();
        });
    };
    int64_t threads = options.threads;
    const std::map<std::string, Reader> valued = {
        {"--listen", [&](const std::string& v) { return readListen(v, &options); }},
        {"--db", text(&options.databasePath)},
        {"--public-url",
         [&](const std::string& v) { return readPublicURL(v, &options.publicURL); }},
        {"--tls-cert", text(&options.tlsCert)},
        {"--tls-key", text(&options.tlsKey)},
        {"--free-credits", integer(0, 1000000, &options.freeCredits)},
        {"--threads", integer(1, 1024, &threads)},
        {"--releases", text(&options.releasesDir)},
        {"--telemetry-days", integer(1, 3650, &options.telemetryDays)},
        {"--cards", text(&options.cardsDir)},
        {"--ratings", text(&options.ratingsFile)},
        {"--set-password", text(&options.setPasswordEmail)},
        {"--write-demo-log", text(&options.writeDemoLog)},
    };
    const std::map<std::string, bool*> flags = {
        {"--behind-proxy", &options.behindProxy},
        {"--test-fast-hash", &options.testFastHash},
        {"--dev-provider", &options.devProvider},
        {"--offline", &options.offline},
        {"--demo", &options.demo},
    };
    for (size_t i = 0; i < args.size(); ++i) {
        const std::string& arg = args[i];
        if (const auto flag = flags.find(arg); flag != flags.end()) {
            *flag->second = true;
        } else if (arg == "--grant") {
            int64_t credits = 0;
            if (i + 2 >= args.size() || args[i + 1].empty() ||
                !readInteger(args[i + 2], -1000000, 1000000, &credits)) {
                return fail("--grant needs an e-mail and a whole number of credits");
            }
            options.grant = {args[i + 1], credits};
            i += 2;
        } else if (const auto reader = valued.find(arg); reader != valued.end()) {
            if (i + 1 >= args.size() || !reader->second(args[i + 1])) {
                return fail("bad or missing value for " + arg);
            }
            ++i;
        } else {
            return fail("unknown option " + arg);
        }
    }
    options.threads = static_cast<int>(threads);
    if (options.tlsCert.empty() != options.tlsKey.empty()) {
        return fail("--tls-cert and --tls-key go together");
    }
    if (!options.onLoopback() && options.tlsCert.empty() && !options.behindProxy) {
        return fail("listening on " + options.host +
                    " sends passwords in the clear: give --tls-cert and --tls-key, or "
                    "--behind-proxy when a TLS proxy stands in front");
    }
    return options;
}
