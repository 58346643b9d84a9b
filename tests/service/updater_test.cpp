#include "service/updater.hpp"

#include "base/crypto.hpp"
#include "base/dispatch/run_loop.hpp"
#include "base/files.hpp"
#include "service/api.hpp"
#include "service/update_fixtures.hpp"
#include "support/fake_http_server.hpp"
#include "support/program_run.hpp"
#include "support/test_environment.hpp"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <csignal>
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

namespace {

using Clock = std::chrono::steady_clock;

TEST(UpdaterVersions, ReadsNumbersAndComparesThemInOrder) {
    EXPECT_EQ(KVUpdater::parts("1.2.3.4.5"), (std::vector<int64_t>{1, 2, 3, 4}));
    EXPECT_EQ(KVUpdater::parts("v2.0-beta3"), (std::vector<int64_t>{2, 0, 3}));
    EXPECT_EQ(KVUpdater::parts(""), std::vector<int64_t>{0});
    EXPECT_EQ(KVUpdater::parts("beta"), std::vector<int64_t>{0});
    EXPECT_EQ(KVUpdater::parts("99999999999999999999999.1")[0], INT64_MAX);

    struct Case {
        const char* a;
        const char* b;
        bool newer;
    };
    const Case cases[] = {
        {"0.1.38", "0.1.38", false},  {"0.1.39", "0.1.38", true},  {"0.2", "0.1.38", true},
        {"0.1.38.1", "0.1.38", true}, {"0.1", "0.1.38", false},    {"0.1.38", "0.1.9", true},
        {"1.2", "1.2.0", false},      {"1.2.0", "1.2", false},     {"", "0", false},
        {"1.0", "0.99.99", true},     {"0.1.37", "0.1.38", false},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(KVUpdater::isNewer(c.a, c.b), c.newer) << c.a << " vs " << c.b;
    }
}

TEST(UpdaterVersions, UpdateAddressesAreHttpsOrTheLoopbackInDevelopment) {
    struct Case {
        const char* url;
        bool development;
        bool allowed;
    };
    const Case cases[] = {
        {"https://dl.korvane.app/k.zip", false, true},
        {"HTTPS://dl.korvane.app/k.zip", false, true},
        {"http://127.0.0.1:8080/k.zip", true, true},
        {"http://localhost/k.zip", true, true},
        {"http://[::1]:8080/k.zip", true, true},
        {"http://127.0.0.1:8080/k.zip", false, false},
        {"http://dl.korvane.app/k.zip", true, false},
        {"http://localhost.evil.example/k.zip", true, false},
        {"ftp://127.0.0.1/k.zip", true, false},
        {"file:///etc/passwd", true, false},
        {"not a url", true, false},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(KVIsUpdateURLAllowed(c.url, c.development), c.allowed) << c.url;
    }
}

TEST(UpdaterIntegration, OffersOnlyNewerVersionsWithAnAddressOnTheMainThread) {
    struct Case {
        int status;
        std::string body;
        bool offered;
    };
    const std::vector<Case> cases = {
        {200, R"({"version":"0.1.39","url":"https://x/k.zip","notes":"n"})", true},
        {200, R"({"version":"0.1.38","url":"https://x/k.zip"})", false},
        {200, R"({"version":"0.1.39"})", false},
        {200, R"({"version":"0.1.39","url":5})", false},
        {200, R"({"version":39,"url":"https://x/k.zip"})", false},
        {500, R"({"version":"0.1.39","url":"https://x/k.zip"})", false},
        {200, "not json", false},
    };
    // One server; each updater asks under its own prefix, which names its case.
    KVScopedEnvironment environment;
    KVFakeHTTPServer server([&cases](KVFakeHTTPServer::Routes& s) {
        s.Get(R"(/(\d+)/api/app/version)",
              [&cases](const httplib::Request& req, httplib::Response& res) {
                  const Case& c = cases.at(std::stoul(req.matches[1]));
                  res.status = c.status;
                  res.set_content(c.body, "application/json");
              });
    });
    std::vector<std::unique_ptr<KVUpdater>> updaters;
    std::vector<int> offered(cases.size(), 0);
    const auto mainThread = std::this_thread::get_id();
    for (size_t i = 0; i < cases.size(); ++i) {
        updaters.push_back(std::make_unique<KVUpdater>(
            std::make_shared<KVAPI>(server.base() + "/" + std::to_string(i), ""),
            KVUpdaterOptions{}));
        updaters.back()->checkWithHandler([&, i, mainThread](const KVJson& answer) {
            EXPECT_EQ(std::this_thread::get_id(), mainThread);
            EXPECT_EQ(answer["url"], "https://x/k.zip");
            ++offered[i];
        });
    }
    ASSERT_TRUE(KVMain().runUntil([&] { return server.requests().size() == cases.size(); }, 20));
    KVMain().runUntil([] { return false; }, 0.5); // answers on their way to the main thread
    for (size_t i = 0; i < cases.size(); ++i) {
        EXPECT_EQ(offered[i], cases[i].offered ? 1 : 0) << cases[i].body;
    }
}

class UpdaterDownloadIntegration : public ::testing::Test {
protected:
    UpdaterDownloadIntegration() {
        KVMakeBundle(bundle, "0.1.38");
        KVWriteZip(archivePath, KVAppEntries("Korvane", "0.1.39"));
        zip = *KVReadFile(archivePath);
        options.bundle = bundle;
        options.download.allowLoopbackHTTP = true;
        options.start = [this](const std::string&, KVError*) { return ++starts > 0; };
    }
    ~UpdaterDownloadIntegration() override { released = true; }

    struct Run {
        KVUpdateOutcome outcome;
        std::vector<std::pair<int64_t, int64_t>> progress;
    };

    Run install(const std::string& path, const std::string& sha256 = "",
                const std::function<void(KVUpdater&)>& onProgress = {}) {
        KVUpdater updater(std::make_shared<KVAPI>(server.base(), ""), options);
        Run run;
        bool done = false;
        updater.installFromURL(
            server.base() + path, sha256,
            [&](int64_t received, int64_t expected) {
                run.progress.emplace_back(received, expected);
                if (onProgress) {
                    onProgress(updater);
                }
            },
            [&](const KVUpdateOutcome& outcome) {
                run.outcome = outcome;
                done = true;
            });
        EXPECT_TRUE(KVMain().runUntil([&] { return done; }, 60));
        return run;
    }

    void expectUntouched() const {
        EXPECT_EQ(KVBundleVersion(bundle), "0.1.38");
        EXPECT_EQ(KVListDirectory(root.path() + "/apps"), std::vector<std::string>{"Korvane"});
        EXPECT_EQ(starts, 0);
    }

    KVScopedEnvironment environment;
    KVTempDir root;
    std::string bundle = root.path() + "/apps/Korvane";
    std::string archivePath = root.path() + "/update.zip";
    std::string zip;
    KVUpdaterOptions options;
    int starts = 0;
    std::atomic<bool> released{false}; // lets a stalled download's handler return
    KVFakeHTTPServer server{[this](KVFakeHTTPServer::Routes& s) {
        s.Get("/sized.zip", [this](const httplib::Request&, httplib::Response& res) {
            res.set_content(zip, "application/zip");
        });
        s.Get("/streamed.zip", [this](const httplib::Request&, httplib::Response& res) {
            res.set_chunked_content_provider(
                "application/zip", [this](size_t offset, httplib::DataSink& sink) {
                    const size_t piece = std::min<size_t>(zip.size() - offset, 512);
                    sink.write(zip.data() + offset, piece);
                    if (offset + piece == zip.size()) {
                        sink.done();
                    }
                    return true;
                });
        });
        // 1 KiB, then nothing until the test ends (or 20 s pass).
        s.Get("/stalled.zip", [this](const httplib::Request&, httplib::Response& res) {
            res.set_chunked_content_provider(
                "application/zip", [this](size_t offset, httplib::DataSink& sink) {
                    for (int i = 0; offset > 0 && i < 2000 && !released; ++i) {
                        std::this_thread::sleep_for(std::chrono::milliseconds(10));
                    }
                    return offset == 0 && sink.write(zip.data(), 1024);
                });
        });
        s.Get("/slow.zip", [](const httplib::Request&, httplib::Response& res) {
            res.set_chunked_content_provider(
                "application/zip", [](size_t offset, httplib::DataSink& sink) {
                    std::this_thread::sleep_for(std::chrono::milliseconds(10));
                    const std::string piece(1024, 'z');
                    if (!sink.write(piece.data(), piece.size())) {
                        return false;
                    }
                    if (offset > 100 * 1024) {
                        sink.done();
                    }
                    return true;
                });
        });
    }};
};

TEST_F(UpdaterDownloadIntegration, CancelStallAndSizeCapFailWithoutTouchingTheInstall) {
    struct Case {
        const char* path;
        const char* message;
        bool cancel;
        uint64_t maxBytes;
    };
    const Case cases[] = {
        {"/stalled.zip", "The download was cancelled.", true, 512 << 20},
        {"/stalled.zip", "The download stalled: nothing arrived for 1 second.", false, 512 << 20},
        {"/sized.zip", "The update is larger than 0 MiB.", false, 600},
        {"/streamed.zip", "The update is larger than 0 MiB.", false, 600},
    };
    options.download.stallSeconds = 1;
    for (const auto& c : cases) {
        options.download.maxBytes = c.maxBytes;
        const auto started = Clock::now();
        const Run run = install(c.path, "", [&](KVUpdater& updater) {
            if (c.cancel) {
                updater.cancel();
            }
        });
        EXPECT_EQ(run.outcome.kind, KVUpdateOutcome::Kind::failed) << c.message;
        EXPECT_EQ(run.outcome.error.message, c.message);
        EXPECT_LT(Clock::now() - started, std::chrono::seconds(10)) << c.message;
        expectUntouched();
    }
}

TEST_F(UpdaterDownloadIntegration, ProgressComesNoFasterThanAllowed) {
    options.download.progressInterval = 0.25;
    const auto started = Clock::now();
    const Run run = install("/slow.zip");
    const double seconds = std::chrono::duration<double>(Clock::now() - started).count();
    EXPECT_EQ(run.outcome.error.message, "The update could not be unpacked.");
    ASSERT_GE(run.progress.size(), 2U);
    EXPECT_LE(static_cast<double>(run.progress.size()), seconds / 0.25 + 1);
    EXPECT_TRUE(std::adjacent_find(run.progress.begin(), run.progress.end(), [](auto& a, auto& b) {
                    return a.first >= b.first;
                }) == run.progress.end()); // always more than before
}

TEST_F(UpdaterDownloadIntegration, InstallationsThatCannotReplaceThemselvesGetTheDownloadPage) {
    struct Case {
        const char* name;
        std::string bundle;
        std::string readOnly; // made 0555 for the case (a read-only bundle is the scenario's)
    };
    const std::string buildTree = root.path() + "/build/dist";
    KVWriteTestFile(buildTree + "/bin/korvane", "#!/bin/sh\n");
    const Case cases[] = {
        {"a build tree", KVBundleOfExecutable(buildTree + "/bin/korvane"), ""},
        {"a system package", KVBundleOfExecutable("/usr/bin/korvane"), ""},
        {"a read-only parent", bundle, root.path() + "/apps"},
    };
    for (const auto& c : cases) {
        options.bundle = c.bundle;
        if (!c.readOnly.empty()) {
            ASSERT_EQ(::chmod(c.readOnly.c_str(), 0555), 0);
        }
        const Run run = install("/sized.zip");
        if (!c.readOnly.empty()) {
            ::chmod(c.readOnly.c_str(), 0755);
        }
        EXPECT_EQ(run.outcome.kind, KVUpdateOutcome::Kind::openDownloadPage) << c.name;
        EXPECT_EQ(run.outcome.downloadPage, server.base() + "/download") << c.name;
        EXPECT_TRUE(server.requests().empty()) << c.name;
        expectUntouched();
    }
}

TEST_F(UpdaterDownloadIntegration, PlainHttpIsRefusedWhenPackaged) {
    options = KVUpdaterOptions::standard(); // the environment's program is under /opt
    options.bundle = bundle;
    const Run run = install("/sized.zip");
    EXPECT_EQ(run.outcome.kind, KVUpdateOutcome::Kind::failed);
    EXPECT_NE(run.outcome.error.message.find("not a secure (https) one"), std::string::npos);
    EXPECT_TRUE(server.requests().empty());
    expectUntouched();
}

// The whole way, with the real start: an archive whose digest matches (in either case) is
// installed, and the new copy runs in a session of its own, knows whom it replaces and inherits
// none of our descriptors. (A wrong digest and a download without a length are the
// controller's update tests.)
TEST_F(UpdaterDownloadIntegration, InstallsAVerifiedArchiveAndStartsTheNewCopyDetached) {
    auto entries = KVAppEntries("Korvane", "0.1.39");
    entries[2].data = "#!/bin/sh\nleak=no; [ -e /proc/$$/fd/57 ] && leak=yes\n"
                      "echo \"$KORVANE_REPLACES_PID $(cut -d' ' -f6 /proc/$$/stat) $$ $leak\" "
                      "> \"$(dirname \"$0\")/../started.tmp\"\n"
                      "mv \"$(dirname \"$0\")/../started.tmp\" \"$(dirname \"$0\")/../started\"\n";
    KVWriteZip(archivePath, entries);
    zip = *KVReadFile(archivePath);
    std::string digest = KVSha256Hex(zip);
    std::transform(digest.begin(), digest.end(), digest.begin(), ::toupper);
    const int inherited = ::dup2(::open("/dev/null", O_RDONLY), 57); // no close-on-exec
    ASSERT_EQ(inherited, 57);
    pid_t child = 0;
    options.start = [&child](const std::string& executable, KVError* error) {
        return KVStartDetached(executable, ::getpid(), &child, error);
    };
    const Run run = install("/sized.zip", digest);
    ::close(inherited);
    ASSERT_EQ(run.outcome.kind, KVUpdateOutcome::Kind::installed) << run.outcome.error.message;
    EXPECT_EQ(KVReadFile(bundle + "/.korvane-bundle"), "0.1.39\n");
    ASSERT_FALSE(run.progress.empty());
    for (const auto& [received, total] : run.progress) {
        EXPECT_EQ(total, static_cast<int64_t>(zip.size()));
        EXPECT_LE(received, total);
    }
    EXPECT_NE(server.lastRequest().header("User-Agent").find("Korvane/0.1.38"), std::string::npos);
    ASSERT_GT(child, 0);
    ASSERT_EQ(::waitpid(child, nullptr, 0), child);
    const std::string pid = std::to_string(child);
    EXPECT_EQ(KVReadFile(bundle + "/started"),
              std::to_string(::getpid()) + " " + pid + " " + pid + " no\n");
}

TEST(UpdaterProcesses, WaitingForTheReplacedCopyEndsWhenItQuitsOrAtTheLimit) {
    const pid_t quick = KVSpawnProgram("/bin/sleep", {"0.2"}).pid;
    EXPECT_TRUE(KVWaitForProcessEnd(quick, 10));
    ::waitpid(quick, nullptr, 0);
    EXPECT_TRUE(KVWaitForProcessEnd(quick, 10)); // gone for good

    const pid_t stays = KVSpawnProgram("/bin/sleep", {"30"}).pid;
    const auto started = Clock::now();
    {
        KVScopedEnvironment environment([stays](KVEnvironment& env) { env.replacesPid = stays; });
        KVWaitForReplacedProcess(0.3);
    }
    EXPECT_GE(Clock::now() - started, std::chrono::milliseconds(290));
    EXPECT_FALSE(KVWaitForProcessEnd(stays, 0.05));
    ::kill(stays, SIGKILL);
    ::waitpid(stays, nullptr, 0);
}

} // namespace
