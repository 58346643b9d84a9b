#pragma once

#include <string>
#include <string_view>

// The only places a browser sign-in may send a token: the desktop program's own receiver,
// "http://127.0.0.1:<port>/callback" or "http://localhost:<port>/callback", nothing more (no
// user info, other host, other path, query or fragment).
bool KVSIsDesktopCallback(std::string_view uri);

// The desktop program's `state`: 8 to 128 characters of letters, digits, "-", "_", "." or "~".
bool KVSIsValidState(std::string_view state);

// `uri` with "?token=<token>&state=<state>" added (both URL-encoded).
std::string KVSCallbackWithToken(const std::string& uri, const std::string& token,
                                 const std::string& state);
