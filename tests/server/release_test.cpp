// Versions, downloads and telemetry, through the program's client and curl.
#include "base/files.hpp"
#include "server/releases.hpp"
#include "service/api.hpp"
#include "service_process.hpp"
#include "support/test_environment.hpp"

#include <gtest/gtest.h>
#include <sqlite3.h>

namespace {

TEST(ServerReleases, ComparesVersionsNumberByNumber) {
    struct Case {
        std::string a;
        std::string b;
        bool newer;
    };
    const Case cases[] = {
        {"0.1.39", "0.1.38", true},   {"0.1.38", "0.1.38", false},   {"0.2", "0.1.38", true},
        {"0.1.38.1", "0.1.38", true}, {"0.1", "0.1.38", false},      {"0.1.10", "0.1.9", true},
        {"1.2.0", "1.2", false},      {"v2.0-beta3", "2.0.2", true}, {"", "0", false},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(KVSReleases::isNewer(c.a, c.b), c.newer) << c.a << " vs " << c.b;
    }
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
            KVJsonParse(KVSCurl({"-H", "Host: evil.example", "-H", "X-Forwarded-Proto: http",
                                 service.base() + "/api/app/version?platform=linux&arch=" +
                                     std::string(KVAPI::arch())}));
        ASSERT_TRUE(answer && answer->is_object()) << publicURL;
        EXPECT_EQ(KVJsonString(KVJsonAt(*answer, "url"), ""),
                  (publicURL.empty() ? service.base() : "https://korvane.example/api-host") +
                      "/download/Korvane-1.zip");
    }
}

TEST(ServerReleasesIntegration, OffersTheNewestBuildForThePlatformAndServesOnlyListedFiles) {
    KVTempDir dir;
    const std::string releases = dir.file("releases");
    KVWriteTestFile(releases + "/Korvane-0.1.40.zip", "PK newest");
    KVWriteTestFile(releases + "/Korvane-0.1.39.zip", "PK older");
    KVWriteTestFile(releases + "/Korvane-9.zip", "PK other platform");
    KVWriteTestFile(releases + "/secret.txt", "not for download");
    const std::string arch(KVAPI::arch());
    KVWriteTestFile(
        releases + "/releases.json",
        KVJsonDump(KVJson::array({
            {{"version", "0.1.39"},
             {"platform", "linux"},
             {"arch", arch},
             {"file", "Korvane-0.1.39.zip"}},
            {{"version", "0.1.40"},
             {"platform", "linux"},
             {"arch", arch},
             {"file", "Korvane-0.1.40.zip"},
             {"notes", "Faster grades."},
             {"mandatory", true}},
            {{"version", "9.0"}, {"platform", "mac"}, {"arch", arch}, {"file", "Korvane-9.zip"}},
            {{"version", "10.0"}, {"platform", "linux"}, {"arch", arch}, {"file", "../escape.zip"}},
        })));
    KVSServiceProcess service(dir.file("korvane.db"), {"--releases", releases});
    ASSERT_TRUE(service.running());
    KVAPI api(service.base(), "");
    KVError error;
    const auto latest = api.latestVersion(&error);
    ASSERT_TRUE(latest) << error.message;
    EXPECT_EQ((*latest)["version"], "0.1.40");
    EXPECT_EQ((*latest)["notes"], "Faster grades.");
    EXPECT_EQ((*latest)["mandatory"], true);
    EXPECT_EQ((*latest)["url"], service.base() + "/download/Korvane-0.1.40.zip");
    EXPECT_EQ((*latest)["sha256"], KVSReleases::sha256(releases + "/Korvane-0.1.40.zip"));
    EXPECT_EQ((*latest)["sha256"].get<std::string>().size(), 64u);
    const auto zip = KVAPI::get((*latest)["url"], 10, &error);
    ASSERT_TRUE(zip) << error.message;
    EXPECT_EQ(*zip, "PK newest");

    for (const std::string path : {"/download/secret.txt", "/download/releases.json",
                                   "/download/..%2Fescape.zip", "/download/%2E%2E%2Fsecret.txt"}) {
        EXPECT_EQ(KVSCurl({"-o", "/dev/null", "-w", "%{http_code}", service.base() + path}), "404")
            << path;
    }
    const std::string page = KVSCurl({service.base() + "/download"});
    EXPECT_NE(page.find("Korvane-0.1.40.zip"), std::string::npos);
    EXPECT_EQ(page.find("escape"), std::string::npos);

    // The folder is read on every request: a new build is offered at once.
    KVWriteTestFile(releases + "/releases.json", "[]");
    EXPECT_FALSE(api.latestVersion(&error));
    EXPECT_EQ(error.code, 404);
}

int64_t storedEvents(const std::string& database) {
    sqlite3* db = nullptr;
    int64_t count = -1;
    if (sqlite3_open(database.c_str(), &db) == SQLITE_OK) {
        sqlite3_exec(
            db, "SELECT count(*) FROM telemetry",
            [](void* out, int, char** values, char**) {
                *static_cast<int64_t*>(out) = std::atoll(values[0]);
                return 0;
            },
            &count, nullptr);
    }
    sqlite3_close(db);
    return count;
}

TEST(ServerTelemetryIntegration, TakesBatchesWholeAndRefusesWhatItShould) {
    KVTempDir dir;
    const std::string database = dir.file("korvane.db");
    KVSServiceProcess service(database);
    ASSERT_TRUE(service.running());
    KVAPI api(service.base(), "");
    const KVJson events = KVJson::array({{{"name", "app_start"}}, {{"name", "pack_seen"}}});
    bool retryable = false;
    EXPECT_TRUE(api.sendTelemetry(events, "session-1", &retryable));
    EXPECT_EQ(storedEvents(database), 2);

    KVJson tooMany = KVJson::array();
    for (int i = 0; i < 201; ++i) {
        tooMany.push_back({{"name", "e"}});
    }
    retryable = true;
    EXPECT_FALSE(api.sendTelemetry(tooMany, "session-1", &retryable));
    EXPECT_FALSE(retryable) << "413 is final";
    retryable = true;
    EXPECT_FALSE(api.sendTelemetry(KVJson::array({{{"name", "ok"}}, 42}), "session-1", &retryable));
    EXPECT_FALSE(retryable) << "400 is final";
    EXPECT_EQ(storedEvents(database), 2) << "a refused batch leaves nothing behind";

    // 120 batches a minute from one sender; the first three above counted too.
    int taken = 0;
    for (int i = 0; i < 120; ++i) {
        taken += api.sendTelemetry(events, "session-2", &retryable) ? 1 : 0;
    }
    EXPECT_EQ(taken, 117);
    EXPECT_TRUE(retryable) << "429 may be retried later";
    EXPECT_EQ(storedEvents(database), 2 + 2 * 117);
}

} // namespace
