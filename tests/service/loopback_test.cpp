#include "service/loopback.hpp"

#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <sys/time.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <memory>
#include <optional>
#include <string>
#include <thread>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;
using namespace std::chrono_literals;

const std::string kSignedIn = "You're signed in. Close this tab and return to Korvane.";
const std::string kNotSignedIn = "That sign-in did not complete. Return to Korvane and try again.";
const std::string kState = "5e7a1d";

struct Answer {
    int status = 0;
    std::string body;
};

// GET through the curl command line, as a browser would come back.
Answer curlGet(const std::string& url) {
    std::string command =
        "curl -s --noproxy '*' --max-time 20 -o - -w '\\n%{http_code}' '" + url + "'";
    FILE* pipe = popen(command.c_str(), "r");
    if (pipe == nullptr) {
        ADD_FAILURE() << "could not run curl";
        return {};
    }
    std::string out;
    char chunk[4096];
    while (size_t n = fread(chunk, 1, sizeof chunk, pipe)) {
        out.append(chunk, n);
    }
    pclose(pipe);
    size_t cut = out.rfind('\n');
    if (cut == std::string::npos) {
        ADD_FAILURE() << "curl printed no status: " << out;
        return {};
    }
    return Answer{std::stoi(out.substr(cut + 1)), out.substr(0, cut)};
}

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

// Everything until the receiver closes; a read that times out fails the test.
std::string readToEnd(int fd) {
    std::string out;
    char chunk[4096];
    while (true) {
        ssize_t n = recv(fd, chunk, sizeof chunk, 0);
        if (n == 0) {
            return out;
        }
        if (n < 0) {
            ADD_FAILURE() << "no end of answer: " << strerror(errno);
            return out;
        }
        out.append(chunk, static_cast<size_t>(n));
    }
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
    // The callback the service sends back: the expected state, then `query`.
    std::string callback(const std::string& query) const {
        return url("/callback?state=" + kState + "&" + query);
    }
    // The receiver is still waiting: a good callback now is taken.
    void expectStillWaiting() {
        EXPECT_FALSE(loopback_->done().waitFor(0));
        EXPECT_EQ(curlGet(callback("token=kor_good")).status, 200);
        ASSERT_TRUE(finished());
        EXPECT_EQ(loopback_->token(), "kor_good");
    }
    int port() const { return loopback_->port(); }
    bool finished() { return loopback_->done().waitFor(10); }

    std::unique_ptr<KVLoopback> loopback_;
    std::thread server_;
};

TEST_F(LoopbackIntegration, AnswersOtherRequestsWith404ThenTakesTheCallbacksToken) {
    ASSERT_TRUE(start());
    // A browser's icon request, and a callback from a page that found the port but not the
    // state, planting its own account.
    for (const char* target : {"/favicon.ico", "/callback?token=kor_planted"}) {
        Answer answer = curlGet(url(target));
        EXPECT_EQ(answer.status, 404);
        EXPECT_NE(answer.body.find(kNotSignedIn), std::string::npos);
    }

    Answer callback = curlGet(this->callback("token=kor_abc123"));
    EXPECT_EQ(callback.status, 200);
    EXPECT_NE(callback.body.find(kSignedIn), std::string::npos);
    EXPECT_NE(callback.body.find("<title>Korvane</title>"), std::string::npos);
    ASSERT_TRUE(finished());
    EXPECT_EQ(loopback_->token(), "kor_abc123");
    EXPECT_EQ(loopback_->fd(), -1);
}

TEST_F(LoopbackIntegration, SurvivesHostileRequestsAndJudgesOnlyTheFirst8191Bytes) {
    ASSERT_TRUE(start());
    const std::vector<std::string> unanswerable = {
        "GET /callback?token=kor_\xff\xfe HTTP/1.0\r\n\r\n", // not UTF-8: an empty request
        "\r\n\r\n",
        "garbage-without-a-request-line\r\n\r\n",
        "GET\r\n\r\n",
        "GET  /callback?token=kor_x HTTP/1.0\r\n\r\n", // two spaces: the target is empty
    };
    for (const auto& request : unanswerable) {
        SCOPED_TRACE(request);
        Answer answer = exchange(port(), request);
        EXPECT_EQ(answer.status, 404);
        EXPECT_NE(answer.body.find(kNotSignedIn), std::string::npos);
    }
    // A peer that sends part of a request and stops sending is answered on what it sent.
    EXPECT_EQ(exchange(port(), "GET /favicon.ico", true).status, 404);

    // Peers that leave without a word, or reset the connection before the answer.
    close(connectTo(port()));
    int resetting = connectTo(port());
    sendAll(resetting, "GET /favicon.ico HTTP/1.1\r\n\r\n");
    linger abort{1, 0};
    setsockopt(resetting, SOL_SOCKET, SO_LINGER, &abort, sizeof abort);
    close(resetting);
    EXPECT_EQ(exchange(port(), "GET /favicon.ico HTTP/1.0\r\n\r\n").status, 404);

    // The token lies beyond the judged part, so this callback carries none.
    std::string huge = "GET /callback?state=" + kState + "&pad=" + std::string(9000, 'a') +
                       "&token=kor_late HTTP/1.0\r\n\r\n";
    Answer answer = exchange(port(), huge);
    EXPECT_EQ(answer.status, 404);
    EXPECT_NE(answer.body.find(kNotSignedIn), std::string::npos);
    expectStillWaiting();
}

TEST_F(LoopbackIntegration, AnswersARequestEndedByBareLineFeeds) {
    ASSERT_TRUE(start()); // the client keeps its side open: only the blank line ends it
    EXPECT_EQ(exchange(port(), "GET /favicon.ico HTTP/1.0\n\n").status, 404);
    Answer answer =
        exchange(port(), "GET /callback?state=" + kState + "&token=kor_lf HTTP/1.0\n\n");
    EXPECT_EQ(answer.status, 200);
    ASSERT_TRUE(finished());
    EXPECT_EQ(loopback_->token(), "kor_lf");
}

TEST_F(LoopbackIntegration, SilentConnectionsDoNotHoldUpTheCallback) {
    ASSERT_TRUE(start()); // the ordinary 10 s idle time-out
    int silent = connectTo(port());
    int halfLine = connectTo(port());
    sendAll(halfLine, "GET /callb");

    auto began = Clock::now();
    Answer answer = curlGet(callback("token=kor_prompt"));
    EXPECT_EQ(answer.status, 200);
    ASSERT_TRUE(finished());
    EXPECT_LT(Clock::now() - began, 5s);
    EXPECT_EQ(loopback_->token(), "kor_prompt");
    // Serving over, the held connections are let go.
    EXPECT_TRUE(closedByPeer(silent));
    EXPECT_TRUE(closedByPeer(halfLine));
    close(silent);
    close(halfLine);
}

TEST_F(LoopbackIntegration, ClosesIdleConnectionsWithoutAnAnswer) {
    ASSERT_TRUE(start(0.5));
    int silent = connectTo(port());
    int halfLine = connectTo(port());
    sendAll(halfLine, "GET /callback?state=" + kState + "&token=kor_slow");
    EXPECT_TRUE(closedByPeer(silent));
    EXPECT_TRUE(closedByPeer(halfLine)); // no answer bytes came first
    close(silent);
    close(halfLine);

    EXPECT_EQ(curlGet(callback("token=kor_after")).status, 200);
    ASSERT_TRUE(finished());
    EXPECT_EQ(loopback_->token(), "kor_after");
}

TEST_F(LoopbackIntegration, ANinthConnectionPushesOutTheOldest) {
    ASSERT_TRUE(start(60)); // long enough that only the cap closes anything
    std::vector<int> clients;
    for (size_t i = 0; i <= KVLoopback::kMaxConnections; ++i) {
        clients.push_back(connectTo(port()));
    }
    EXPECT_TRUE(closedByPeer(clients.front()));
    for (size_t i = 1; i < clients.size(); ++i) {
        EXPECT_TRUE(stillOpen(clients[i])) << "connection " << i;
    }
    sendAll(clients.back(),
            "GET /callback?state=" + kState + "&token=kor_newest HTTP/1.1\r\nHost: x\r\n\r\n");
    EXPECT_EQ(parse(readToEnd(clients.back())).status, 200);
    ASSERT_TRUE(finished());
    EXPECT_EQ(loopback_->token(), "kor_newest");
    for (int fd : clients) {
        close(fd);
    }
}

TEST_F(LoopbackIntegration, WhenFullASilentConnectionGoesBeforeOneMidRequest) {
    ASSERT_TRUE(start(60)); // long enough that only the cap closes anything
    int talking = connectTo(port());
    sendAll(talking, "GET /callback?state=" + kState + "&tok");
    std::vector<int> silent; // with `talking`, one more than the receiver holds
    for (size_t i = 0; i < KVLoopback::kMaxConnections; ++i) {
        silent.push_back(connectTo(port()));
    }
    EXPECT_TRUE(closedByPeer(silent.front())); // the oldest of those that sent nothing
    EXPECT_TRUE(stillOpen(talking));
    for (size_t i = 1; i < silent.size(); ++i) {
        EXPECT_TRUE(stillOpen(silent[i])) << "silent connection " << i;
    }
    sendAll(talking, "en=kor_patient HTTP/1.0\r\n\r\n");
    EXPECT_EQ(parse(readToEnd(talking)).status, 200);
    ASSERT_TRUE(finished());
    EXPECT_EQ(loopback_->token(), "kor_patient");
    close(talking);
    for (int fd : silent) {
        close(fd);
    }
}

TEST_F(LoopbackIntegration, CloseSocketFromAnotherThreadEndsServing) {
    // Once with nothing held (the wait has no time-out at all), once with an idle connection.
    for (bool holdConnection : {false, true}) {
        SCOPED_TRACE(holdConnection);
        ASSERT_TRUE(start(60));
        int held = holdConnection ? connectTo(port()) : -1;
        EXPECT_EQ(curlGet(url("/favicon.ico")).status, 404); // serve() is waiting by now
        loopback_->closeSocket();
        ASSERT_TRUE(finished());
        EXPECT_TRUE(loopback_->cancelled());
        EXPECT_EQ(loopback_->fd(), -1);
        EXPECT_EQ(loopback_->token(), std::nullopt);
        if (held >= 0) {
            EXPECT_TRUE(closedByPeer(held));
            close(held);
        }
    }
}

TEST(LoopbackSetUpIntegration, ListensOn127001Only) {
    KVLoopback loopback(kState);
    KVError error;
    ASSERT_TRUE(loopback.listenOnLoopback(&error)) << error.message;
    sockaddr_in address{};
    socklen_t length = sizeof address;
    ASSERT_EQ(getsockname(loopback.fd(), reinterpret_cast<sockaddr*>(&address), &length), 0);
    EXPECT_EQ(ntohl(address.sin_addr.s_addr), INADDR_LOOPBACK);
    EXPECT_GT(loopback.port(), 0);
    EXPECT_EQ(ntohs(address.sin_port), loopback.port());
    EXPECT_EQ(loopback.redirectURI(),
              "http://127.0.0.1:" + std::to_string(loopback.port()) + "/callback");
}

TEST(LoopbackSetUpIntegration, CloseSocketBeforeServeAndTwiceIsSafe) {
    KVLoopback loopback(kState);
    ASSERT_TRUE(loopback.listenOnLoopback());
    int listening = loopback.fd();
    loopback.closeSocket();
    loopback.closeSocket();
    EXPECT_EQ(loopback.fd(), -1);
    EXPECT_EQ(fcntl(listening, F_GETFD), -1); // really closed, not just forgotten
    loopback.serve();                         // returns at once
    EXPECT_TRUE(loopback.done().waitFor(0));
    loopback.serve();
    EXPECT_FALSE(loopback.done().waitFor(0)); // done is signalled once only
}

TEST(LoopbackSetUpIntegration, ServeWithoutListeningSignalsDoneOnce) {
    KVLoopback loopback(kState);
    loopback.serve();
    loopback.serve();
    EXPECT_TRUE(loopback.done().waitFor(0));
    EXPECT_FALSE(loopback.done().waitFor(0));
    EXPECT_FALSE(loopback.cancelled());
}

} // namespace
