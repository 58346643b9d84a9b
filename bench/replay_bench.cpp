// `korvane --replay` of the demo draft (3 packs of 14) as a user runs it, process start and
// offscreen Qt included, against a fake service that answers every request at once: the time
// left is the program's own. Target: at most 1 s a replay.
#include "base/files.hpp"
#include "base/json.hpp"
#include "server/demo_log.hpp"
#include "server/demo_set.hpp"

#include <benchmark/benchmark.h>
#include <httplib.h>

#include <cstdlib>
#include <fcntl.h>
#include <filesystem>
#include <spawn.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

namespace {

// The Korvane service and Scryfall in one: the demo set's cards, the first two cards of each
// pack graded, a fixed deck.
class InstantService {
public:
    InstantService() {
        server_.Get("/api/me", [](const httplib::Request&, httplib::Response& res) {
            res.set_content(R"({"email":"bench@korvane.local","credits":5})", "application/json");
        });
        server_.Post("/api/draft/analyze", [](const httplib::Request& req, httplib::Response& res) {
            const KVJson body = KVJson::parse(req.body, nullptr, false);
            const KVJson& pack = KVJsonAt(body, "pack");
            KVJson answer = KVJson::object();
            if (pack.is_array() && pack.size() >= 2) {
                answer = {
                    {"best", pack[0]},
                    {"runnerUp", pack[1]},
                    {"picks",
                     {{{"name", pack[0]}, {"grade", "A"}}, {{"name", pack[1]}, {"grade", "B"}}}},
                    {"credits", 5}};
            }
            res.set_content(KVJsonDump(answer), "application/json");
        });
        server_.Post("/api/draft/deck", [](const httplib::Request&, httplib::Response& res) {
            res.set_content(R"({"colors":["W","U"],"spells":[],"lands":{"W":9,"U":8}})",
                            "application/json");
        });
        server_.Get("/scryfall/cards/search", [this](const httplib::Request&,
                                                     httplib::Response& res) {
            const KVJson cards = KVSDemoSet::cards(base() + "/scryfall");
            res.set_content(KVJsonDump({{"object", "list"}, {"has_more", false}, {"data", cards}}),
                            "application/json");
        });
        // Bound means listening: the first replay's requests queue until the loop runs.
        port_ = server_.bind_to_any_port("127.0.0.1");
        thread_ = std::thread([this] { server_.listen_after_bind(); });
    }
    ~InstantService() {
        server_.stop();
        thread_.join();
    }
    std::string base() const { return "http://127.0.0.1:" + std::to_string(port_); }

private:
    httplib::Server server_;
    int port_ = 0;
    std::thread thread_;
};

int runKorvane(const std::vector<std::string>& args, std::vector<std::string> environment) {
    std::vector<char*> argv{const_cast<char*>(KV_KORVANE_PROGRAM)};
    for (const std::string& arg : args) {
        argv.push_back(const_cast<char*>(arg.c_str()));
    }
    argv.push_back(nullptr);
    std::vector<char*> envp;
    for (std::string& entry : environment) {
        envp.push_back(entry.data());
    }
    envp.push_back(nullptr);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
    posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
    pid_t pid = -1;
    const int failed =
        posix_spawn(&pid, KV_KORVANE_PROGRAM, &actions, nullptr, argv.data(), envp.data());
    posix_spawn_file_actions_destroy(&actions);
    int status = 0;
    if (failed != 0 || waitpid(pid, &status, 0) != pid) {
        return -1;
    }
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

void BM_ReplayDemoDraft(benchmark::State& state) {
    InstantService service;
    const std::filesystem::path home =
        std::filesystem::temp_directory_path() / ("kv-replay-bench-" + std::to_string(getpid()));
    const std::string log = (home / "Player.log").string();
    std::filesystem::create_directories(home / "data/Korvane");
    KVWriteFileAtomically((home / "data/Korvane/auth.json").string(),
                          R"({"token":"kor_bench","email":"bench@korvane.local"})");
    KVError error;
    if (!KVSWriteDemoLog(log, &error)) {
        state.SkipWithError(error.message.c_str());
        return;
    }
    const std::vector<std::string> environment = {
        "HOME=" + home.string(), "XDG_DATA_HOME=" + (home / "data").string(), "PATH=/usr/bin:/bin",
        "KORVANE_API_BASE=" + service.base(),
        "KORVANE_SCRYFALL_BASE=" + service.base() + "/scryfall"};
    for (auto _ : state) {
        if (runKorvane({"--replay", log}, environment) != 0) {
            state.SkipWithError("the replay failed");
            break;
        }
    }
    std::filesystem::remove_all(home);
}
BENCHMARK(BM_ReplayDemoDraft)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(10);

} // namespace
