#pragma once

#include "base/build_settings.hpp"
#include "base/error.hpp"
#include "base/json.hpp"
#include "service/http_client.hpp"

#include <cstdint>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

// The service refuses or fails a request: code is the HTTP status (0 when it could not be
// reached at all).
inline constexpr const char* KVAPIErrorDomain = "KorvaneAPI";

// The program's only client of the Korvane service (JSON over HTTPS), and the plain GET that
// card data and art downloads use. Every call blocks until the answer or its time-out: call
// from background queues only. The token and base may be changed from any thread.
class KVAPI {
public:
    // Named in the User-Agent; set when the program is configured (KV_HOME_PAGE).
    static constexpr std::string_view kHomePage = kKVBuildHomePage;

    KVAPI(std::string_view base, std::string_view token);

    std::string baseURL() const;
    // The host name of the base URL, as the user's texts name the service.
    std::string host() const;
    void setBaseURL(std::string_view base); // one trailing "/" dropped
    std::string token() const;
    // Refuses (false, token unchanged) a token with control characters: it could not be sent
    // as a header. The constructor takes such a token as "" (signed out).
    bool setToken(std::string_view token);

    // The processor the program was built for: "x86_64" or "arm64".
    static std::string_view arch();
    static std::string userAgent();

    // baseURL + path, with the program's headers, the token when there is one, and `json` as a
    // compact body.
    KVHTTPRequest request(std::string_view path, std::string_view method, const KVJson* json,
                          double timeout) const;

    static std::optional<std::string> perform(const KVHTTPRequest& request, long* status,
                                              KVError* error);

    // The raw body of an absolute URL, following redirects to https only. A transport failure
    // comes back as it is ("KorvaneNet"); an HTTP status of 400 or more as a "KorvaneAPI" error
    // "HTTP <status> for <url>".
    static std::optional<std::string> get(const std::string& url, double timeout, KVError* error);

    // The service's answer object (an empty object when the body is not one). Fails with a
    // "KorvaneAPI" error: code 0 "Could not reach <host> (<cause>)" when no answer came (a
    // time-out included), else the HTTP status (300 or more: redirects are not followed) with
    // the service's own message.
    std::optional<KVJson> call(std::string_view path, std::string_view method, const KVJson* json,
                               double timeout, KVError* error);

    // Sign-in and registration; a token in the answer becomes this client's. A token that
    // setToken() refuses is dropped from the answer as well.
    std::optional<KVJson> auth(std::string_view path, const std::string& email,
                               const std::string& password, KVError* error);
    std::optional<KVJson> login(const std::string& email, const std::string& password,
                                KVError* error);
    std::optional<KVJson> registerEmail(const std::string& email, const std::string& password,
                                        KVError* error);
    std::optional<KVJson> me(KVError* error);

    // `seen` is a list of {"pack", "pick", "names"} objects; empty strings take the defaults.
    std::optional<KVJson> analyzeDraft(const std::string& draftId,
                                       const std::vector<std::string>& pack,
                                       const std::vector<std::string>& pool, int64_t packNumber,
                                       int64_t pickNumber, const std::string& format,
                                       const std::string& setCode, const KVJson& seen,
                                       int64_t picks, KVError* error);
    std::optional<KVJson> buildDeck(const std::vector<std::string>& pool, const std::string& format,
                                    const std::string& setCode, const std::string& eventId,
                                    KVError* error);
    std::optional<KVJson> latestVersion(KVError* error);

    // True when the service took the events (a status below 300; redirects are not followed).
    // Otherwise `retryable` tells whether sending the same batch later may work (no connection,
    // 401, 408, 429, 5xx); it is left alone on success. `timeout` bounds the whole request.
    bool sendTelemetry(const KVJson& events, const std::string& sessionId, bool* retryable,
                       double timeout = 20);

private:
    mutable std::mutex mutex_; // the token is set on the main thread, read by every request
    std::string baseURL_;
    std::string token_;
};
