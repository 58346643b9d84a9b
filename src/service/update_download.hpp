#pragma once

#include "base/error.hpp"

#include <atomic>
#include <cstdint>
#include <functional>
#include <string>

// How an update's archive is fetched. The stall limit bounds connecting and every silence of
// the server, never the whole transfer: a large update on a slow line may take as long as it
// needs while bytes keep coming.
struct KVDownloadLimits {
    double stallSeconds = 60;
    double progressInterval = 0.1; // at most ten progress reports a second
    uint64_t maxBytes = uint64_t{512} << 20;
    bool allowLoopbackHTTP = false; // development builds fetch from a local service
};

// (bytes received so far, bytes expected or 0 when the server did not say)
using KVDownloadProgress = std::function<void(int64_t received, int64_t expected)>;

// Whether an update may come from `url`: https, or plain http to this machine's loopback
// when `allowLoopbackHTTP`. Anything else could be changed on its way to us.
bool KVIsUpdateURLAllowed(const std::string& url, bool allowLoopbackHTTP);

// Fetches `url` into a new file `path` (created 0600; fails if it exists), following up to 5
// redirects to https addresses. `progress` runs on the calling thread, no more often than the
// limits allow. Setting `cancelled` stops the transfer within one read. The HTTP status is not
// judged: an error page is saved like an archive and fails at unpacking. Failures are
// "KorvaneNet" errors with libcurl's code (the file may be left partly written).
bool KVDownloadToFile(const std::string& url, const std::string& path,
                      const KVDownloadLimits& limits, const KVDownloadProgress& progress,
                      const std::atomic<bool>& cancelled, KVError* error);
