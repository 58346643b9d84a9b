#include "service/update_download.hpp"

#include "base/files.hpp"
#include "service/api.hpp"
#include "service/http_client.hpp"

#include <curl/curl.h>

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <fcntl.h>
#include <memory>
#include <unistd.h>

namespace {

using Clock = std::chrono::steady_clock;

struct Transfer {
    int fd = -1;
    uint64_t written = 0;
    uint64_t maxBytes = 0;
    bool tooLarge = false;
    int writeError = 0; // errno of a failed write
    const std::atomic<bool>* cancelled = nullptr;
    const KVDownloadProgress* progress = nullptr;
    Clock::duration interval{};
    Clock::time_point lastReport{};
    curl_off_t reportedBytes = 0;
    // A transfer fails once nothing arrived for `stall`, however long it ran before.
    Clock::duration stall{};
    Clock::time_point lastData{};
    curl_off_t received = 0;
    bool stalled = false;
};

size_t save(char* data, size_t size, size_t count, void* context) {
    auto* transfer = static_cast<Transfer*>(context);
    const size_t bytes = size * count;
    if (transfer->cancelled->load()) {
        return 0;
    }
    if (transfer->written + bytes > transfer->maxBytes) {
        transfer->tooLarge = true;
        return 0;
    }
    if (!KVWriteAll(transfer->fd, std::string_view(data, bytes))) {
        transfer->writeError = errno != 0 ? errno : EIO;
        return 0;
    }
    transfer->written += bytes;
    return bytes;
}

int report(void* context, curl_off_t total, curl_off_t now, curl_off_t, curl_off_t) {
    auto* transfer = static_cast<Transfer*>(context);
    if (transfer->cancelled->load()) {
        return 1; // curl stops with CURLE_ABORTED_BY_CALLBACK
    }
    const auto at = Clock::now();
    if (now != transfer->received) {
        transfer->received = now;
        transfer->lastData = at;
    } else if (at - transfer->lastData >= transfer->stall) {
        transfer->stalled = true;
        return 1;
    }
    // Only news is reported: curl asks again and again while nothing arrives.
    if (*transfer->progress && now > transfer->reportedBytes) {
        if (transfer->reportedBytes == 0 || at - transfer->lastReport >= transfer->interval) {
            transfer->reportedBytes = now;
            transfer->lastReport = at;
            (*transfer->progress)(now, total > 0 ? total : 0);
        }
    }
    return 0;
}

bool isLoopbackHost(const std::string& host) {
    return host == "127.0.0.1" || host == "[::1]" || host == "::1" || host == "localhost";
}

struct EasyDeleter {
    void operator()(CURL* handle) const { curl_easy_cleanup(handle); }
};
struct ListDeleter {
    void operator()(curl_slist* list) const { curl_slist_free_all(list); }
};
struct URLDeleter {
    void operator()(CURLU* url) const { curl_url_cleanup(url); }
};

std::string urlPart(CURLU* url, CURLUPart which) {
    char* part = nullptr;
    if (curl_url_get(url, which, &part, 0) != CURLUE_OK || part == nullptr) {
        return "";
    }
    std::string text = part;
    curl_free(part);
    return text;
}

// The scheme an update may be fetched with from `url`, or "" when none may.
std::string allowedScheme(const std::string& url, bool allowLoopbackHTTP) {
    const std::unique_ptr<CURLU, URLDeleter> parsed(curl_url());
    if (!parsed || curl_url_set(parsed.get(), CURLUPART_URL, url.c_str(), 0) != CURLUE_OK) {
        return "";
    }
    std::string scheme = urlPart(parsed.get(), CURLUPART_SCHEME);
    if (scheme == "https" || (scheme == "http" && allowLoopbackHTTP &&
                              isLoopbackHost(urlPart(parsed.get(), CURLUPART_HOST)))) {
        return scheme;
    }
    return "";
}

} // namespace

bool KVIsUpdateURLAllowed(const std::string& url, bool allowLoopbackHTTP) {
    return !allowedScheme(url, allowLoopbackHTTP).empty();
}

bool KVDownloadToFile(const std::string& url, const std::string& path,
                      const KVDownloadLimits& limits, const KVDownloadProgress& progress,
                      const std::atomic<bool>& cancelled, KVError* error) {
    const std::string scheme = allowedScheme(url, limits.allowLoopbackHTTP);
    if (scheme.empty()) {
        KVSetError(error, KVNetErrorDomain, CURLE_UNSUPPORTED_PROTOCOL,
                   "The update's address is not a secure (https) one: " + url);
        return false;
    }
    std::unique_ptr<CURL, EasyDeleter> easy(curl_easy_init());
    curl_slist* list = curl_slist_append(nullptr, ("User-Agent: " + KVAPI::userAgent()).c_str());
    const std::unique_ptr<curl_slist, ListDeleter> headers(list);
    if (!easy || !headers) {
        KVSetError(error, KVNetErrorDomain, CURLE_FAILED_INIT, "Could not start a network request");
        return false;
    }
    Transfer transfer;
    transfer.fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
    if (transfer.fd < 0) {
        KVSetError(error, "KorvaneFile", errno, "Could not create " + path);
        return false;
    }
    transfer.maxBytes = limits.maxBytes;
    transfer.cancelled = &cancelled;
    transfer.progress = &progress;
    transfer.interval = std::chrono::duration_cast<Clock::duration>(
        std::chrono::duration<double>(limits.progressInterval));
    transfer.stall = std::chrono::duration_cast<Clock::duration>(
        std::chrono::duration<double>(limits.stallSeconds));
    transfer.lastData = Clock::now();

    CURL* h = easy.get();
    char detail[CURL_ERROR_SIZE] = {};
    curl_easy_setopt(h, CURLOPT_URL, url.c_str());
    curl_easy_setopt(h, CURLOPT_NOSIGNAL, 1L);
    curl_easy_setopt(h, CURLOPT_PROTOCOLS_STR, scheme.c_str());
    curl_easy_setopt(h, CURLOPT_REDIR_PROTOCOLS_STR, "https");
    curl_easy_setopt(h, CURLOPT_FOLLOWLOCATION, 1L);
    curl_easy_setopt(h, CURLOPT_MAXREDIRS, 5L);
    curl_easy_setopt(h, CURLOPT_SSL_VERIFYPEER, 1L);
    curl_easy_setopt(h, CURLOPT_SSL_VERIFYHOST, 2L);
    curl_easy_setopt(h, CURLOPT_CONNECTTIMEOUT_MS,
                     static_cast<long>(std::max(limits.stallSeconds, 0.001) * 1000));
    curl_easy_setopt(h, CURLOPT_MAXFILESIZE_LARGE, static_cast<curl_off_t>(limits.maxBytes));
    curl_easy_setopt(h, CURLOPT_HTTPHEADER, headers.get());
    curl_easy_setopt(h, CURLOPT_WRITEFUNCTION, save);
    curl_easy_setopt(h, CURLOPT_WRITEDATA, &transfer);
    curl_easy_setopt(h, CURLOPT_NOPROGRESS, 0L);
    curl_easy_setopt(h, CURLOPT_XFERINFOFUNCTION, report);
    curl_easy_setopt(h, CURLOPT_XFERINFODATA, &transfer);
    curl_easy_setopt(h, CURLOPT_ERRORBUFFER, detail);
    curl_easy_setopt(h, CURLOPT_HTTPGET, 1L);

    const CURLcode code = curl_easy_perform(h);
    if (::close(transfer.fd) != 0 && transfer.writeError == 0) {
        transfer.writeError = errno;
    }
    if (code == CURLE_OK && transfer.writeError == 0) {
        return true;
    }
    if (cancelled.load()) {
        KVSetError(error, KVNetErrorDomain, CURLE_ABORTED_BY_CALLBACK,
                   "The download was cancelled.");
    } else if (transfer.tooLarge || code == CURLE_FILESIZE_EXCEEDED) {
        KVSetError(error, KVNetErrorDomain, CURLE_FILESIZE_EXCEEDED,
                   "The update is larger than " + std::to_string(limits.maxBytes >> 20) + " MiB.");
    } else if (transfer.writeError != 0) {
        KVSetError(error, "KorvaneFile", transfer.writeError,
                   "Could not save the update to " + path);
    } else if (transfer.stalled || code == CURLE_OPERATION_TIMEDOUT) {
        char seconds[32];
        std::snprintf(seconds, sizeof seconds, "%g", limits.stallSeconds);
        KVSetError(error, KVNetErrorDomain, CURLE_OPERATION_TIMEDOUT,
                   std::string("The download stalled: nothing arrived for ") + seconds +
                       (limits.stallSeconds == 1 ? " second." : " seconds."));
    } else {
        std::string message = curl_easy_strerror(code);
        if (detail[0] != '\0') {
            message.append(": ").append(detail);
        }
        KVSetError(error, KVNetErrorDomain, code, message);
    }
    return false;
}
