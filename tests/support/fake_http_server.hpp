#pragma once

#include <httplib.h>

#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

// A real HTTP server on 127.0.0.1 standing in for the Korvane service, Scryfall or an image
// host. Routes are set up before it starts; every request is recorded before it is answered.
class KVFakeHTTPServer {
public:
    struct Request {
        std::string method;
        std::string path; // as sent, query string included
        std::string body;
        httplib::Headers headers;

        std::string header(const std::string& name) const;
        bool hasHeader(const std::string& name) const { return headers.count(name) > 0; }
    };

    // Registers handlers that record each request, body included, before they answer it.
    class Routes {
    public:
        Routes(httplib::Server& server, KVFakeHTTPServer& owner) : server_(server), owner_(owner) {}
        void Get(const std::string& pattern, httplib::Server::Handler handler);
        void Post(const std::string& pattern, httplib::Server::Handler handler);

    private:
        httplib::Server::Handler recording(httplib::Server::Handler handler);
        httplib::Server& server_;
        KVFakeHTTPServer& owner_;
    };

    explicit KVFakeHTTPServer(const std::function<void(Routes&)>& routes);
    ~KVFakeHTTPServer();
    KVFakeHTTPServer(const KVFakeHTTPServer&) = delete;
    KVFakeHTTPServer& operator=(const KVFakeHTTPServer&) = delete;

    int port() const { return port_; }
    std::string base() const { return "http://127.0.0.1:" + std::to_string(port_); }
    std::vector<Request> requests() const;
    Request lastRequest() const;

private:
    httplib::Server server_;
    int port_ = 0;
    std::thread thread_;
    mutable std::mutex mutex_;
    std::vector<Request> requests_;
};
