#pragma once

#include "base/error.hpp"

#include <cstddef>
#include <optional>
#include <string>
#include <utility>
#include <vector>

// Errors of the network itself (no connection, time-out, TLS, an answer too large) are in this
// domain with libcurl's code; HTTP refusals are the service client's ("KorvaneAPI").
inline constexpr const char* KVNetErrorDomain = "KorvaneNet";

// One HTTP request, ready to send.
struct KVHTTPRequest {
    std::string url;
    std::string method = "GET";
    double timeout = 30; // seconds, for the whole exchange
    std::vector<std::pair<std::string, std::string>> headers;
    std::optional<std::string> body;
    // Off: a 3xx comes back as the answer with its status, and nothing (no body, no header)
    // goes to another address. On: up to 5 redirects are followed, to https addresses only.
    bool followRedirects = false;

    // The value of header `name` (exact spelling), or nothing.
    std::optional<std::string> header(const std::string& name) const;
};

// Answers larger than this are refused: nothing the program downloads comes near it.
inline constexpr size_t kKVMaxAnswerBytes = size_t{64} << 20;

// Sends the request and waits for the answer, blocking the calling thread (never the main
// one). Returns the body, with the HTTP status in `status`; on a transport failure (a time-out
// included) returns nothing, status 0 and a "KorvaneNet" error. Speaks http and https, follows
// redirects only as the request allows; verifies TLS; accepts compressed answers.
std::optional<std::string> KVHTTPPerform(const KVHTTPRequest& request, long* status, KVError* error,
                                         size_t maxBodyBytes = kKVMaxAnswerBytes);
