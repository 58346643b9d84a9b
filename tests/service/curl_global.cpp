// libcurl's global set-up is not thread-safe: do it before any test starts a thread, as the
// program's main() does.
#include <curl/curl.h>

namespace {
const bool kCurlReady = curl_global_init(CURL_GLOBAL_DEFAULT) == CURLE_OK;
} // namespace
