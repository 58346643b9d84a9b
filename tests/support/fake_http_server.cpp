#include "support/fake_http_server.hpp"

#include <gtest/gtest.h>

#include <chrono>

std::string KVFakeHTTPServer::Request::header(const std::string& name) const {
    const auto it = headers.find(name);
    return it == headers.end() ? std::string() : it->second;
}

httplib::Server::Handler KVFakeHTTPServer::Routes::recording(httplib::Server::Handler handler) {
    // The registry is gone once the routes are set up; the server is not.
    return [owner = &owner_, handler = std::move(handler)](const httplib::Request& req,
                                                           httplib::Response& res) {
        {
            std::lock_guard lock(owner->mutex_);
            owner->requests_.push_back(Request{req.method, req.target, req.body, req.headers});
        }
        handler(req, res);
    };
}

void KVFakeHTTPServer::Routes::Get(const std::string& pattern, httplib::Server::Handler handler) {
    server_.Get(pattern, recording(std::move(handler)));
}

void KVFakeHTTPServer::Routes::Post(const std::string& pattern, httplib::Server::Handler handler) {
    server_.Post(pattern, recording(std::move(handler)));
}

KVFakeHTTPServer::KVFakeHTTPServer(const std::function<void(Routes&)>& routes) {
    Routes registry(server_, *this);
    routes(registry);
    port_ = server_.bind_to_any_port("127.0.0.1");
    if (port_ <= 0) {
        ADD_FAILURE() << "the fake server could not bind";
        return;
    }
    // The socket already listens: connections wait in its backlog until the loop starts. The
    // loop must be running before stop() can end it, so wait for it.
    thread_ = std::thread([this] { server_.listen_after_bind(); });
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    while (!server_.is_running() && std::chrono::steady_clock::now() < deadline) {
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
}

KVFakeHTTPServer::~KVFakeHTTPServer() {
    server_.stop();
    if (thread_.joinable()) {
        thread_.join();
    }
}

std::vector<KVFakeHTTPServer::Request> KVFakeHTTPServer::requests() const {
    std::lock_guard lock(mutex_);
    return requests_;
}

KVFakeHTTPServer::Request KVFakeHTTPServer::lastRequest() const {
    std::lock_guard lock(mutex_);
    return requests_.empty() ? Request{} : requests_.back();
}
