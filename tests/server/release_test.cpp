// Versions, downloads and telemetry, through the program's client and curl.
#include "base/files.hpp"
#include "server/releases.hpp"
#include "service/api.hpp"
#include "service_process.hpp"
#include "support/test_environment.hpp"

#include <gtest/gtest.h>

#include <regex>

namespace {

TEST(ServerReleases, ComparesVersionsNumberByNumber) {
    const std::tuple<std::string, std::string, bool> cases[] = {
        {"0.1.39", "0.1.38", true},   {"0.1.38", "0.1.38", false},   {"0.2", "0.1.38", true},
        {"0.1.38.1", "0.1.38", true}, {"0.1", "0.1.38", false},      {"0.1.10", "0.1.9", true},
        {"1.2.0", "1.2", false},      {"v2.0-beta3", "2.0.2", true}, {"", "0", false},
    };
    for (const auto& [a, b, newer] : cases) {
        EXPECT_EQ(KVSReleases::isNewer(a, b), newer) << a << " vs " << b;
    }
}

TEST(ServerReleasesIntegration, OffersTheNewestBuildServesOnlyListedFilesAndTakesTelemetry) {
    KVTempDir dir;
    const std::string database = dir.file("korvane.db");
    const std::string releases = dir.file("releases");
    KVWriteTestFile(releases + "/Korvane-0.1.40.zip", "PK newest");
    KVWriteTestFile(releases + "/Korvane-0.1.39.zip", "PK older");
    KVWriteTestFile(releases + "/Korvane-9.zip", "PK other platform");
    KVWriteTestFile(releases + "/secret.txt", "not for download");
    // One build for another platform, one pointing out of the folder.
    const std::string listed = R"([
        {"version": "0.1.39", "platform": "linux", "arch": "ARCH", "file": "Korvane-0.1.39.zip"},
        {"version": "0.1.40", "platform": "linux", "arch": "ARCH", "file": "Korvane-0.1.40.zip",
         "notes": "Faster grades.", "mandatory": true},
        {"version": "9.0", "platform": "mac", "arch": "ARCH", "file": "Korvane-9.zip"},
        {"version": "10.0", "platform": "linux", "arch": "ARCH", "file": "../escape.zip"}])";
    KVWriteTestFile(releases + "/releases.json",
                    std::regex_replace(listed, std::regex("ARCH"), std::string(KVAPI::arch())));
    KVSServiceProcess service(database, {"--releases", releases});
    ASSERT_TRUE(service.running());
    KVAPI api(service.base(), "");
    KVError error;
    const auto latest = api.latestVersion(&error);
    ASSERT_TRUE(latest) << error.message;
    EXPECT_EQ((*latest)["version"], "0.1.40");
    EXPECT_EQ((*latest)["notes"], "Faster grades.");
    EXPECT_EQ((*latest)["mandatory"], true);
    // The end-to-end update downloads what the link names and checks it against the digest.
    EXPECT_EQ((*latest)["url"], service.base() + "/download/Korvane-0.1.40.zip");

    for (const std::string path : {"/download/secret.txt", "/download/releases.json",
                                   "/download/..%2Fescape.zip", "/download/%2E%2E%2Fsecret.txt"}) {
        EXPECT_EQ(KVCurl({"-o", "/dev/null", "-w", "%{http_code}", service.base() + path}), "404")
            << path;
    }
    const std::string page = KVCurl({service.base() + "/download"});
    EXPECT_NE(page.find("Korvane-0.1.40.zip"), std::string::npos);
    EXPECT_EQ(page.find("escape"), std::string::npos);

    // The folder is read on every request: a new build is offered at once.
    KVWriteTestFile(releases + "/releases.json", "[]");
    EXPECT_FALSE(api.latestVersion(&error));
    EXPECT_EQ(error.code, 404);

    // Telemetry: batches are taken whole, or not at all.
    const KVJson events = KVJson::array({{{"name", "app_start"}}, {{"name", "pack_seen"}}});
    bool retryable = false;
    EXPECT_TRUE(api.sendTelemetry(events, "session-1", &retryable));
    EXPECT_EQ(KVSQueryNumber(database, "SELECT count(*) FROM telemetry"), 2);

    const KVJson tooMany(201, KVJson{{"name", "e"}});
    retryable = true;
    EXPECT_FALSE(api.sendTelemetry(tooMany, "session-1", &retryable));
    EXPECT_FALSE(retryable) << "413 is final";
    retryable = true;
    EXPECT_FALSE(api.sendTelemetry(KVJson::array({{{"name", "ok"}}, 42}), "session-1", &retryable));
    EXPECT_FALSE(retryable) << "400 is final";
    EXPECT_EQ(KVSQueryNumber(database, "SELECT count(*) FROM telemetry"), 2)
        << "a refused batch leaves nothing behind";

    // 120 batches a minute from one sender; the first three above counted too.
    int taken = 0;
    for (int i = 0; i < 120; ++i) {
        taken += api.sendTelemetry(events, "session-2", &retryable) ? 1 : 0;
    }
    EXPECT_EQ(taken, 117);
    EXPECT_TRUE(retryable) << "429 may be retried later";
    EXPECT_EQ(KVSQueryNumber(database, "SELECT count(*) FROM telemetry"), 2 + 2 * 117);
}

// The Host header is the sender's choice: a cache in front would hand its links to others.
TEST(ServerReleasesIntegration, LinksNameTheConfiguredAddressWhateverTheHostHeaderSays) {
    KVTempDir dir;
    const std::string releases = dir.file("releases");
    KVWriteTestFile(releases + "/Korvane-1.zip", "PK");
    KVWriteTestFile(releases + "/releases.json",
                    KVJsonDump(KVJson::array({{{"version", "1"},
                                               {"platform", "linux"},
                                               {"arch", KVAPI::arch()},
                                               {"file", "Korvane-1.zip"}}})));
    for (const std::string publicURL : {"", "https://korvane.example/api-host/"}) {
        std::vector<std::string> args = {"--releases", releases};
        if (!publicURL.empty()) {
            args.insert(args.end(), {"--public-url", publicURL});
        }
        KVSServiceProcess service(dir.file("korvane.db"), args);
        ASSERT_TRUE(service.running());
        const auto answer =
            KVJsonParse(KVCurl({"-H", "Host: evil.example", "-H", "X-Forwarded-Proto: http",
                                service.base() + "/api/app/version?platform=linux&arch=" +
                                    std::string(KVAPI::arch())}));
        ASSERT_TRUE(answer && answer->is_object()) << publicURL;
        EXPECT_EQ(KVJsonString(KVJsonAt(*answer, "url"), ""),
                  (publicURL.empty() ? service.base() : "https://korvane.example/api-host") +
                      "/download/Korvane-1.zip");
    }
}

} // namespace
