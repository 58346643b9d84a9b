#include "service/http_client.hpp"

#include <curl/curl.h>

#include <memory>

namespace {

struct Download {
    std::string body;
    size_t limit = 0;
    bool tooLarge = false;
};

size_t collect(char* data, size_t size, size_t count, void* context) {
    auto* download = static_cast<Download*>(context);
    const size_t bytes = size * count;
    if (download->body.size() + bytes > download->limit) {
        download->tooLarge = true;
        return 0; // makes curl stop with a write error
    }
    download->body.append(data, bytes);
    return bytes;
}

struct EasyDeleter {
    void operator()(CURL* handle) const { curl_easy_cleanup(handle); }
};
struct ListDeleter {
    void operator()(curl_slist* list) const { curl_slist_free_all(list); }
};

} // namespace

std::optional<std::string> KVHTTPRequest::header(const std::string& name) const {
    for (const auto& [key, value] : headers) {
        if (key == name) {
            return value;
        }
    }
    return std::nullopt;
}

std::optional<std::string> KVHTTPPerform(const KVHTTPRequest& request, long* status, KVError* error,
                                         size_t maxBodyBytes) {
    if (status != nullptr) {
        *status = 0;
    }
    std::unique_ptr<CURL, EasyDeleter> easy(curl_easy_init());
    if (!easy) {
        KVSetError(error, KVNetErrorDomain, CURLE_FAILED_INIT, "Could not start a network request");
        return std::nullopt;
    }
    CURL* h = easy.get();
    Download download;
    download.limit = maxBodyBytes;
    char detail[CURL_ERROR_SIZE] = {};

    curl_slist* list = nullptr;
    const auto add = [&list](const std::string& line) {
        curl_slist* grown = curl_slist_append(list, line.c_str());
        list = grown != nullptr ? grown : list;
        return grown != nullptr;
    };
    // "Expect:" keeps curl from waiting for a "100 Continue" before sending larger bodies.
    bool listed = add("Expect:");
    for (const auto& [key, value] : request.headers) {
        std::string line = key;
        line.append(": ").append(value);
        listed = listed && add(line);
    }
    const std::unique_ptr<curl_slist, ListDeleter> headers(list);
    if (!listed) {
        KVSetError(error, KVNetErrorDomain, CURLE_OUT_OF_MEMORY, "Out of memory");
        return std::nullopt;
    }

    const auto timeoutMs = static_cast<long>(request.timeout > 0 ? request.timeout * 1000 : 0);
    curl_easy_setopt(h, CURLOPT_URL, request.url.c_str());
    curl_easy_setopt(h, CURLOPT_NOSIGNAL, 1L);
    curl_easy_setopt(h, CURLOPT_TIMEOUT_MS, timeoutMs);
    curl_easy_setopt(h, CURLOPT_PROTOCOLS_STR, "http,https");
    if (request.followRedirects) {
        // Never down to plain http, where anyone on the way may read or change the answer.
        curl_easy_setopt(h, CURLOPT_REDIR_PROTOCOLS_STR, "https");
        curl_easy_setopt(h, CURLOPT_FOLLOWLOCATION, 1L);
        curl_easy_setopt(h, CURLOPT_MAXREDIRS, 5L);
    }
    curl_easy_setopt(h, CURLOPT_SSL_VERIFYPEER, 1L);
    curl_easy_setopt(h, CURLOPT_SSL_VERIFYHOST, 2L);
    curl_easy_setopt(h, CURLOPT_ACCEPT_ENCODING, ""); // every encoding curl can decode
    curl_easy_setopt(h, CURLOPT_MAXFILESIZE_LARGE, static_cast<curl_off_t>(maxBodyBytes));
    curl_easy_setopt(h, CURLOPT_HTTPHEADER, headers.get());
    curl_easy_setopt(h, CURLOPT_WRITEFUNCTION, collect);
    curl_easy_setopt(h, CURLOPT_WRITEDATA, &download);
    curl_easy_setopt(h, CURLOPT_ERRORBUFFER, detail);
    if (request.body) {
        curl_easy_setopt(h, CURLOPT_POSTFIELDSIZE_LARGE,
                         static_cast<curl_off_t>(request.body->size()));
        curl_easy_setopt(h, CURLOPT_POSTFIELDS, request.body->data());
    }
    if (request.method == "GET" && !request.body) {
        curl_easy_setopt(h, CURLOPT_HTTPGET, 1L);
    } else if (request.method != "POST") {
        curl_easy_setopt(h, CURLOPT_CUSTOMREQUEST, request.method.c_str());
    }

    CURLcode code = curl_easy_perform(h);
    if (code == CURLE_WRITE_ERROR && download.tooLarge) {
        code = CURLE_FILESIZE_EXCEEDED;
    }
    if (code != CURLE_OK) {
        std::string message = curl_easy_strerror(code);
        if (code == CURLE_FILESIZE_EXCEEDED) {
            message = "The answer is larger than " + std::to_string(maxBodyBytes >> 20) + " MiB";
        } else if (detail[0] != '\0') {
            message += ": ";
            message += detail;
        }
        KVSetError(error, KVNetErrorDomain, code, message);
        return std::nullopt;
    }
    long httpStatus = 0;
    curl_easy_getinfo(h, CURLINFO_RESPONSE_CODE, &httpStatus);
    if (httpStatus == 0) {
        KVSetError(error, KVNetErrorDomain, CURLE_RECV_ERROR, "No answer came");
        return std::nullopt;
    }
    if (status != nullptr) {
        *status = httpStatus;
    }
    return std::move(download.body);
}
