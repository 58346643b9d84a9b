#include "service/api.hpp"

#include "base/platform_texts.hpp"

#include <curl/curl.h>

#include <algorithm>

namespace {

std::string withoutOneTrailingSlash(std::string_view base) {
    if (!base.empty() && base.back() == '/') {
        base.remove_suffix(1);
    }
    return std::string(base);
}

std::string httpStatusText(long status) {
    return "HTTP " + std::to_string(status);
}

KVJson names(const std::vector<std::string>& list) {
    return KVJson(list);
}

// The token goes into a header line of every request: a line break in it would add headers of
// its own, and other control bytes break the line.
bool usableToken(std::string_view token) {
    return std::ranges::none_of(token, [](char c) {
        const auto byte = static_cast<unsigned char>(c);
        return byte < 0x20 || byte == 0x7F;
    });
}

} // namespace

KVAPI::KVAPI(std::string_view base, std::string_view token)
    : baseURL_(withoutOneTrailingSlash(base)), token_(usableToken(token) ? token : "") {}

std::string KVAPI::baseURL() const {
    std::lock_guard lock(mutex_);
    return baseURL_;
}

void KVAPI::setBaseURL(std::string_view base) {
    std::lock_guard lock(mutex_);
    baseURL_ = withoutOneTrailingSlash(base);
}

std::string KVAPI::token() const {
    std::lock_guard lock(mutex_);
    return token_;
}

bool KVAPI::setToken(std::string_view token) {
    if (!usableToken(token)) {
        return false;
    }
    std::lock_guard lock(mutex_);
    token_ = token;
    return true;
}

std::string_view KVAPI::arch() {
#if defined(__aarch64__)
    return "arm64";
#else
    return "x86_64";
#endif
}

std::string KVAPI::userAgent() {
    return "Korvane/" + std::string(KVPlatformTexts::kVersion) + " (MTG Arena overlay; " +
           std::string(KVPlatformTexts::kUserAgentNative) + "; +" + std::string(kHomePage) + ")";
}

KVHTTPRequest KVAPI::request(std::string_view path, std::string_view method, const KVJson* json,
                             double timeout) const {
    std::string base;
    std::string token;
    {
        std::lock_guard lock(mutex_);
        base = baseURL_;
        token = token_;
    }
    KVHTTPRequest request;
    request.url = base + std::string(path);
    request.method = std::string(method);
    request.timeout = timeout;
    request.headers = {{"User-Agent", userAgent()}, {"Accept", "application/json"}};
    if (!token.empty()) {
        request.headers.emplace_back("Authorization", "Bearer " + token);
    }
    if (json != nullptr) {
        request.headers.emplace_back("Content-Type", "application/json");
        request.body = KVJsonDump(*json);
    }
    return request;
}

std::optional<std::string> KVAPI::perform(const KVHTTPRequest& request, long* status,
                                          KVError* error) {
    return KVHTTPPerform(request, status, error);
}

std::optional<std::string> KVAPI::get(const std::string& url, double timeout, KVError* error) {
    KVHTTPRequest request;
    request.url = url;
    request.timeout = timeout;
    request.headers = {{"User-Agent", userAgent()}, {"Accept", "application/json"}};
    request.followRedirects = true; // downloads move between hosts; they carry no secrets
    long status = 0;
    auto body = perform(request, &status, error);
    if (!body) {
        return std::nullopt;
    }
    if (status >= 400) {
        KVSetError(error, KVAPIErrorDomain, status, httpStatusText(status) + " for " + url);
        return std::nullopt;
    }
    return body;
}

std::string KVAPI::host() const {
    // The host the client really talks to: the service's own unless a development build was
    // pointed elsewhere.
    std::string host = baseURL();
    if (CURLU* url = curl_url()) {
        char* part = nullptr;
        if (curl_url_set(url, CURLUPART_URL, host.c_str(), 0) == CURLUE_OK &&
            curl_url_get(url, CURLUPART_HOST, &part, 0) == CURLUE_OK) {
            host = part;
            curl_free(part);
        }
        curl_url_cleanup(url);
    }
    return host;
}

std::optional<KVJson> KVAPI::call(std::string_view path, std::string_view method,
                                  const KVJson* json, double timeout, KVError* error) {
    long status = 0;
    KVError transport;
    const auto body = perform(request(path, method, json, timeout), &status, &transport);
    if (!body) {
        KVSetError(error, KVAPIErrorDomain, 0,
                   "Could not reach " + host() + " (" + transport.message + ")");
        return std::nullopt;
    }
    KVJson answer = KVJson::object();
    if (!body->empty()) {
        if (auto parsed = KVJsonParse(*body); parsed && parsed->is_object()) {
            answer = std::move(*parsed);
        }
    }
    // A redirect is a refusal too: following it would send the body (a password, say) and the
    // token wherever the answer points.
    if (status < 300) {
        return answer;
    }
    std::string message = httpStatusText(status);
    const char* key = answer.contains("message") ? "message"
                      : answer.contains("error") ? "error"
                                                 : nullptr;
    if (key != nullptr && answer[key].is_string()) {
        message = answer[key].get<std::string>();
    }
    KVSetError(error, KVAPIErrorDomain, status, message.empty() ? "request failed" : message);
    return std::nullopt;
}

std::optional<KVJson> KVAPI::auth(std::string_view path, const std::string& email,
                                  const std::string& password, KVError* error) {
    const KVJson body = {
        {"email", email}, {"password", password}, {"device", KVPlatformTexts::kSignInDevice}};
    auto answer = call(path, "POST", &body, 20, error);
    if (answer) {
        const KVJson& token = KVJsonAt(*answer, "token");
        if (token.is_string() && !token.get_ref<const std::string&>().empty() &&
            !setToken(token.get_ref<const std::string&>())) {
            // Gone from the answer too, so the sign-in reports no token rather than saving it.
            answer->erase("token");
        }
    }
    return answer;
}

std::optional<KVJson> KVAPI::login(const std::string& email, const std::string& password,
                                   KVError* error) {
    return auth("/api/auth/login", email, password, error);
}

std::optional<KVJson> KVAPI::registerEmail(const std::string& email, const std::string& password,
                                           KVError* error) {
    return auth("/api/auth/register", email, password, error);
}

std::optional<KVJson> KVAPI::me(KVError* error) {
    return call("/api/me", "GET", nullptr, 15, error);
}

std::optional<KVJson> KVAPI::analyzeDraft(const std::string& draftId,
                                          const std::vector<std::string>& pack,
                                          const std::vector<std::string>& pool, int64_t packNumber,
                                          int64_t pickNumber, const std::string& format,
                                          const std::string& setCode, const KVJson& seen,
                                          int64_t picks, KVError* error) {
    const KVJson body = {{"draftId", draftId},
                         {"packNumber", packNumber},
                         {"pickNumber", pickNumber},
                         {"format", format.empty() ? "PremierDraft" : format},
                         {"setCode", setCode},
                         {"pack", names(pack)},
                         {"pool", names(pool)},
                         {"seen", seen.is_array() ? seen : KVJson::array()},
                         {"picks", picks < 2 ? 1 : picks}};
    return call("/api/draft/analyze", "POST", &body, 60, error);
}

std::optional<KVJson> KVAPI::buildDeck(const std::vector<std::string>& pool,
                                       const std::string& format, const std::string& setCode,
                                       const std::string& eventId, KVError* error) {
    const KVJson body = {{"pool", names(pool)},
                         {"format", format.empty() ? "Sealed" : format},
                         {"setCode", setCode},
                         {"eventId", eventId}};
    return call("/api/draft/deck", "POST", &body, 90, error);
}

std::optional<KVJson> KVAPI::latestVersion(KVError* error) {
    const std::string path = "/api/app/version?" +
                             std::string(KVPlatformTexts::kVersionCheckPlatform) +
                             "&arch=" + std::string(arch());
    return call(path, "GET", nullptr, 10, error);
}

bool KVAPI::sendTelemetry(const KVJson& events, const std::string& sessionId, bool* retryable,
                          double timeout) {
    const KVJson body = {
        {"sessionId", sessionId}, {"appVersion", KVPlatformTexts::kVersion}, {"events", events}};
    long status = 0;
    const auto answer =
        perform(request("/api/telemetry", "POST", &body, timeout), &status, nullptr);
    if (!answer) {
        if (retryable != nullptr) {
            *retryable = true;
        }
        return false;
    }
    if (status < 300) {
        return true;
    }
    if (retryable != nullptr) {
        *retryable = status >= 500 || status == 401 || status == 408 || status == 429;
    }
    return false;
}
