// Hostile request bodies get a clear refusal and leave the service answering.
#include "base/files.hpp"
#include "service_process.hpp"
#include "support/test_environment.hpp"

#include <gtest/gtest.h>

#include <cstdio>

namespace {

// Posts `body` (from a file, so any size goes) and gives "<status> <body>".
std::string post(const KVSServiceProcess& service, const std::string& path, const std::string& body,
                 const KVTempDir& dir) {
    KVWriteTestFile(dir.file("body"), body);
    std::remove(dir.file("answer").c_str());
    const std::string status =
        KVSCurl({"-X", "POST", "-H", "Content-Type: application/json", "--data-binary",
                 "@" + dir.file("body"), "-w", "%{http_code} ", "-o", dir.file("answer"),
                 service.base() + path});
    return status + KVReadFile(dir.file("answer")).value_or("");
}

TEST(ServerBodiesIntegration, RefusesMalformedDeepAndHugeBodiesClearly) {
    KVTempDir dir;
    KVSServiceProcess service(dir.file("korvane.db"));
    ASSERT_TRUE(service.running());
    struct Case {
        std::string name;
        std::string body;
        std::string answer; // status and the start of the message
    };
    const Case cases[] = {
        {"truncated", R"({"email": "a@b.c", "pass)", "400 {\"message\":\"The request body"},
        {"an array", R"(["a@b.c"])", "400 {\"message\":\"The request body"},
        {"empty", "", "400 {\"message\":\"The request body"},
        {"deep", std::string(200000, '[') + std::string(200000, ']'),
         "400 {\"message\":\"The request body"},
        {"deep inside", R"({"email": )" + std::string(5000, '{'),
         "400 {\"message\":\"The request body"},
        {"huge", R"({"email": ")" + std::string(2 << 20, 'a') + R"("})",
         "413 {\"message\":\"The request is too large."},
        {"invalid UTF-8", "{\"email\": \"\xff\xfe@x.com\", \"password\": \"password1\"}",
         "400 {\"message\":\"The request body"},
    };
    for (const Case& c : cases) {
        const std::string answer = post(service, "/api/auth/register", c.body, dir);
        EXPECT_EQ(answer.substr(0, c.answer.size()), c.answer) << c.name << ": " << answer;
    }
    EXPECT_EQ(post(service, "/api/auth/register",
                   R"({"email": "still@example.com", "password": "password1"})", dir)
                  .substr(0, 3),
              "200");
}

} // namespace
