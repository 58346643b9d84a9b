#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>

// How the sign-in receiver reads one request and what it answers. Plain functions over bytes,
// so the socket side (KVLoopback) only moves them.

// What is judged of a request; anything after it is ignored.
inline constexpr size_t kKVLoopbackMaxRequestBytes = 8191;

inline constexpr std::string_view kKVLoopbackSignedIn =
    "You're signed in. Close this tab and return to Korvane.";
inline constexpr std::string_view kKVLoopbackNotSignedIn =
    "That sign-in did not complete. Return to Korvane and try again.";

// What a request gets: the page's status and message, and the token when it signs in (the
// only case that ends serving).
struct KVLoopbackVerdict {
    int status = 404;
    std::string_view message = kKVLoopbackNotSignedIn;
    std::optional<std::string> token;
    bool ends = false;
};

// True once `bytes` hold a whole request head, or as much as is judged.
bool KVLoopbackRequestComplete(std::string_view bytes);

// The verdict on `request` (only its first kKVLoopbackMaxRequestBytes count).
// Only a request for /callback whose query carries an acceptable token and a "state" equal to
// `expectedState` signs in (200, ends the wait); everything else gets the 404 page and the wait
// goes on. An empty `expectedState` signs nothing in.
KVLoopbackVerdict KVJudgeLoopbackRequest(std::string_view request, std::string_view expectedState);

// The whole HTTP/1.0 answer carrying `verdict`'s page.
std::string KVLoopbackAnswer(const KVLoopbackVerdict& verdict);
