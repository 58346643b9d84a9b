#include "service/loopback.hpp"
#include "support/program_run.hpp"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <sys/time.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <memory>
#include <optional>
#include <string>
#include <thread>
#include <vector>

namespace {

using namespace std::chrono_literals;

const std::string kSignedIn = "You're signed in. Close this tab and return to Korvane.";
const std::string kNotSignedIn = "That sign-in did not complete. Return to Korvane and try again.";
const std::string kState = "5e7a1d";

struct Answer {
    int status = 0;
    std::string body;
};

// A client socket connected to the receiver; reads give up after 10 s instead of hanging.
int connectTo(int port) {
    int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    timeval limit{10, 0};
    setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &limit, sizeof limit);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(static_cast<uint16_t>(port));
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    EXPECT_EQ(connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
    return fd;
}

void sendAll(int fd, const std::string& bytes) {
    EXPECT_EQ(send(fd, bytes.data(), bytes.size(), MSG_NOSIGNAL),
              static_cast<ssize_t>(bytes.size()));
}

std::string readToEnd(int fd) {
    std::string out;
    char chunk[4096];
    ssize_t n = 0;
    while ((n = recv(fd, chunk, sizeof chunk, 0)) > 0) {
        out.append(chunk, static_cast<size_t>(n));
    }
    EXPECT_EQ(n, 0) << "no end of answer: " << strerror(errno);
    return out;
}

// Checks the answer's header, byte for byte, against the length of its body.
Answer parse(const std::string& raw) {
    size_t end = raw.find("\r\n\r\n");
    if (end == std::string::npos || raw.size() < 12) {
        ADD_FAILURE() << "not an HTTP answer: " << raw;
        return {};
    }
    Answer answer{std::atoi(raw.c_str() + 9), raw.substr(end + 4)};
    EXPECT_EQ(raw.substr(0, end + 4),
              "HTTP/1.0 " + std::to_string(answer.status) +
                  " OK\r\nContent-Type: text/html; charset=utf-8\r\nContent-Length: " +
                  std::to_string(answer.body.size()) + "\r\nConnection: close\r\n\r\n");
    return answer;
}

// One raw request on a fresh connection; `halfClose` ends the sending side after it.
Answer exchange(int port, const std::string& request, bool halfClose = false) {
    int fd = connectTo(port);
    sendAll(fd, request);
    if (halfClose) {
        shutdown(fd, SHUT_WR);
    }
    Answer answer = parse(readToEnd(fd));
    close(fd);
    return answer;
}

bool closedByPeer(int fd) {
    char byte;
    return recv(fd, &byte, 1, 0) == 0;
}

bool stillOpen(int fd) {
    char byte;
    return recv(fd, &byte, 1, MSG_DONTWAIT) < 0 && errno == EAGAIN;
}

class LoopbackIntegration : public ::testing::Test {
protected:
    bool start(double idleTimeout = 10) {
        stop();
        loopback_ = std::make_unique<KVLoopback>(kState, idleTimeout);
        if (!loopback_->listenOnLoopback()) {
            return false;
        }
        server_ = std::thread([this] { loopback_->serve(); });
        return true;
    }
    void stop() {
        if (loopback_) {
            loopback_->closeSocket();
        }
        if (server_.joinable()) {
            server_.join();
        }
    }
    void TearDown() override { stop(); }

    std::string url(const std::string& target) const {
        return "http://127.0.0.1:" + std::to_string(loopback_->port()) + target;
    }
    std::string callback(const std::string& query) const {
        return url("/callback?state=" + kState + "&" + query);
    }
    bool finished() { return loopback_->done().waitFor(10); }

    std::unique_ptr<KVLoopback> loopback_;
    std::thread server_;
};

TEST_F(LoopbackIntegration, SurvivesHostileRequestsAndJudgesOnlyTheFirst8191Bytes) {
    ASSERT_TRUE(start());
    // Requests that sign no one in (a browser's icon request among them), each answered with that
    // page, and whether the peer stops sending after it (it is then answered on what it sent).
    const std::pair<std::string, bool> unanswerable[] = {
        {"GET /callback?token=kor_\xff\xfe HTTP/1.0\r\n\r\n", false}, // not UTF-8: an empty request
        {"\r\n\r\n", false},
        {"garbage-without-a-request-line\r\n\r\n", false},
        {"GET\r\n\r\n", false},
        {"GET  /callback?token=kor_x HTTP/1.0\r\n\r\n", false}, // two spaces: the target is empty
        {"GET /favicon.ico", true},
        {"GET /favicon.ico HTTP/1.0\n\n", false}, // a blank line of bare line feeds
        // The token lies beyond the 8191 judged bytes, so this callback carries none.
        {"GET /callback?state=" + kState + "&pad=" + std::string(9000, 'a') +
             "&token=kor_late HTTP/1.0\r\n\r\n",
         false},
    };
    for (const auto& [request, halfClose] : unanswerable) {
        SCOPED_TRACE(request.substr(0, 40));
        const Answer answer = exchange(loopback_->port(), request, halfClose);
        EXPECT_EQ(answer.status, 404);
        EXPECT_NE(answer.body.find(kNotSignedIn), std::string::npos);
    }
    // Peers that leave without a word, or reset the connection before the answer.
    close(connectTo(loopback_->port()));
    int resetting = connectTo(loopback_->port());
    sendAll(resetting, "GET /favicon.ico HTTP/1.1\r\n\r\n");
    linger abort{1, 0};
    setsockopt(resetting, SOL_SOCKET, SO_LINGER, &abort, sizeof abort);
    close(resetting);
    EXPECT_EQ(exchange(loopback_->port(), "GET /favicon.ico HTTP/1.0\r\n\r\n").status, 404);

    // Still waiting: the callback with the token is taken, and serving ends.
    EXPECT_FALSE(loopback_->done().waitFor(0));
    const KVCurlAnswer signedIn = KVCurlPage({callback("token=kor_good")});
    EXPECT_EQ(signedIn.status, 200);
    EXPECT_NE(signedIn.body.find(kSignedIn), std::string::npos);
    EXPECT_NE(signedIn.body.find("<title>Korvane</title>"), std::string::npos);
    ASSERT_TRUE(finished());
    EXPECT_EQ(loopback_->token(), "kor_good");
    EXPECT_EQ(loopback_->fd(), -1);
}

// Connections that say nothing more are closed without an answer after the idle time; until
// then they do not hold up the callback, and when serving ends they are let go.
TEST_F(LoopbackIntegration, IdleConnectionsNeitherHoldUpTheCallbackNorStay) {
    for (const double idle : {10.0, 0.5}) {
        SCOPED_TRACE(idle);
        ASSERT_TRUE(start(idle));
        int silent = connectTo(loopback_->port());
        int halfLine = connectTo(loopback_->port());
        sendAll(halfLine, "GET /callback?state=" + kState + "&token=kor_slow");
        if (idle < 1) {
            EXPECT_TRUE(closedByPeer(silent)); // no answer bytes came first
            EXPECT_TRUE(closedByPeer(halfLine));
        }
        const auto began = std::chrono::steady_clock::now();
        EXPECT_EQ(KVCurlPage({callback("token=kor_prompt")}).status, 200);
        ASSERT_TRUE(finished());
        EXPECT_LT(std::chrono::steady_clock::now() - began, 5s);
        EXPECT_EQ(loopback_->token(), "kor_prompt");
        EXPECT_TRUE(closedByPeer(silent));
        EXPECT_TRUE(closedByPeer(halfLine));
        close(silent);
        close(halfLine);
    }
}

TEST_F(LoopbackIntegration, WhenFullASilentConnectionGoesBeforeOneMidRequest) {
    ASSERT_TRUE(start(60)); // long enough that only the cap closes anything
    int talking = connectTo(loopback_->port());
    sendAll(talking, "GET /callback?state=" + kState + "&tok");
    std::vector<int> silent; // with `talking`, one more than the receiver holds
    for (size_t i = 0; i < KVLoopback::kMaxConnections; ++i) {
        silent.push_back(connectTo(loopback_->port()));
    }
    EXPECT_TRUE(closedByPeer(silent.front())); // the oldest of those that sent nothing
    EXPECT_TRUE(stillOpen(talking));
    for (size_t i = 1; i < silent.size(); ++i) {
        EXPECT_TRUE(stillOpen(silent[i])) << "silent connection " << i;
    }
    sendAll(silent.back(), "GET /favicon.ico HTTP/1.1\r\nHost: x\r\n\r\n"); // the newcomer
    EXPECT_EQ(parse(readToEnd(silent.back())).status, 404);
    sendAll(talking, "en=kor_patient HTTP/1.0\r\n\r\n");
    EXPECT_EQ(parse(readToEnd(talking)).status, 200);
    ASSERT_TRUE(finished());
    EXPECT_EQ(loopback_->token(), "kor_patient");
    close(talking);
    for (int fd : silent) {
        close(fd);
    }
}

// With nothing held the sign-in window's cancel of a Google wait is the same call.
TEST_F(LoopbackIntegration, CloseSocketFromAnotherThreadEndsServing) {
    ASSERT_TRUE(start(60));
    const int held = connectTo(loopback_->port());
    EXPECT_EQ(KVCurlPage({url("/favicon.ico")}).status, 404); // serve() is waiting by now
    loopback_->closeSocket();
    ASSERT_TRUE(finished());
    EXPECT_TRUE(loopback_->cancelled());
    EXPECT_EQ(loopback_->fd(), -1);
    EXPECT_EQ(loopback_->token(), std::nullopt);
    EXPECT_TRUE(closedByPeer(held));
    close(held);
}

TEST(LoopbackSetUpIntegration, ListensOnLoopbackOnlyAndServesNothingWithoutASocket) {
    KVLoopback closed(kState); // listening on 127.0.0.1 only, then closed twice before serving
    KVError error;
    ASSERT_TRUE(closed.listenOnLoopback(&error)) << error.message;
    sockaddr_in address{};
    socklen_t length = sizeof address;
    ASSERT_EQ(getsockname(closed.fd(), reinterpret_cast<sockaddr*>(&address), &length), 0);
    EXPECT_EQ(ntohl(address.sin_addr.s_addr), INADDR_LOOPBACK);
    EXPECT_EQ(ntohs(address.sin_port), closed.port());
    const int listening = closed.fd();
    closed.closeSocket();
    closed.closeSocket();
    EXPECT_EQ(closed.fd(), -1);
    EXPECT_EQ(fcntl(listening, F_GETFD), -1); // really closed, not just forgotten
    closed.serve();                           // returns at once
    EXPECT_TRUE(closed.done().waitFor(0));
    closed.serve();
    EXPECT_FALSE(closed.done().waitFor(0)); // done is signalled once only
}

} // namespace
