#include "app_harness.hpp"

#include "../ui/offscreen_qt.hpp"
#include "base/config.hpp"
#include "base/files.hpp"
#include "draft_screen/pictures.hpp"
#include "vision/image_codec.hpp"

#include <gtest/gtest.h>

#include <fstream>

FakeService::FakeService() {
    server_ = std::make_unique<KVFakeHTTPServer>([this](KVFakeHTTPServer::Routes& routes) {
        const auto answer = [this](const std::string& path) {
            return [this, path](const httplib::Request& req, httplib::Response& res) {
                Route route;
                {
                    std::lock_guard lock(mutex_);
                    route = routes_.count(path) != 0 ? routes_.at(path) : Route();
                }
                Reply reply = route ? route(KVJsonParse(req.body).value_or(KVJson())) : Reply{};
                if (reply.gate) {
                    reply.gate->wait();
                }
                res.status = reply.status;
                res.set_content(reply.body.dump(), "application/json");
            };
        };
        for (const char* path : {"/api/me", "/api/version", "/api/app/version"}) {
            routes.Get(path, answer(path));
        }
        for (const char* path : {"/api/draft/analyze", "/api/draft/deck", "/api/telemetry"}) {
            routes.Post(path, answer(path));
        }
    });
}

void FakeService::on(const std::string& path, Route route) {
    std::lock_guard lock(mutex_);
    routes_[path] = std::move(route);
}

std::vector<KVJson> FakeService::bodies(const std::string& path) const {
    std::vector<KVJson> out;
    for (const auto& request : server_->requests()) {
        if (request.path.rfind(path, 0) == 0) {
            out.push_back(KVJsonParse(request.body).value_or(KVJson()));
        }
    }
    return out;
}

FakeScryfall::FakeScryfall() {
    server_ = std::make_unique<KVFakeHTTPServer>([this](KVFakeHTTPServer::Routes& routes) {
        routes.Get("/cards/search", [this](const httplib::Request& req, httplib::Response& res) {
            const std::string query = req.get_param_value("q");
            const bool known = query.rfind("e:tst ", 0) == 0;
            const bool other = otherSet && query.rfind("e:oth ", 0) == 0;
            (known ? gate : otherGate)->wait();
            const std::string code = known ? "tst" : "oth";
            KVJson data = KVJson::array();
            for (int i = 1; (known || other) && i <= 40; ++i) {
                KVJson card = {{"object", "card"},
                               {"name", (known ? "Card " : "Other ") + std::to_string(i)},
                               {"set", code},
                               {"arena_id", (known ? 1000 : 2000) + i},
                               {"mana_cost", "{1}{W}"},
                               {"cmc", 2.0},
                               {"colors", {"W"}},
                               {"type_line", "Creature"},
                               {"rarity", "common"}};
                if (art) {
                    card["image_uris"] = {{"normal", server_->base() + "/art/" + code + "/" +
                                                         std::to_string(i) + ".jpg"}};
                }
                data.push_back(std::move(card));
            }
            if (data.empty()) {
                res.status = 404;
                res.set_content(R"({"object":"error"})", "application/json");
                return;
            }
            res.set_content(KVJson{{"object", "list"}, {"data", data}, {"has_more", false}}.dump(),
                            "application/json");
        });
        routes.Get("/sets", [](const httplib::Request&, httplib::Response& res) {
            res.set_content(R"({"object":"list","has_more":false,"data":[]})", "application/json");
        });
        routes.Get(
            R"(/art/tst/(\d+)\.jpg)", [this](const httplib::Request& req, httplib::Response& res) {
                artGate->wait();
                const auto seed = uint32_t(std::stoul(req.matches[1]));
                res.set_content(KVEncodeJPEG(KVTexturedImage(244, 340, seed), 90).value_or(""),
                                "image/jpeg");
            });
    });
}

size_t FakeScryfall::requests(const std::string& part) const {
    size_t count = 0;
    for (const auto& request : server_->requests()) {
        count += request.path.find(part) != std::string::npos;
    }
    return count;
}

namespace ArenaLog {

std::string botPack(int pick, const std::vector<int>& ids, const std::vector<int>& picked) {
    const KVJson status = {{"DraftStatus", "PickNext"},
                           {"PackNumber", 0},
                           {"PickNumber", pick - 1},
                           {"NumCardsToPick", 1},
                           {"DraftPack", ids},
                           {"PickedCards", picked},
                           {"EventName", "QuickDraft_TST_20260101"}};
    return "[UnityCrossThreadLogger]12/6/2026 6:01:2" + std::to_string(pick % 10) +
           " PM\n<== BotDraftDraftStatus " + status.dump() + "\n";
}

std::string botComplete(const std::vector<int>& picked) {
    const KVJson status = {
        {"DraftStatus", "Completed"}, {"DraftPack", KVJson::array()}, {"PickedCards", picked}};
    return "[UnityCrossThreadLogger]12/6/2026 6:05:00 PM\n<== BotDraftDraftStatus " +
           status.dump() + "\n";
}

} // namespace ArenaLog

AppHarness::AppHarness() {
    OffscreenQt();
    env = std::make_unique<KVScopedEnvironment>([&](KVEnvironment& e) {
        e.executablePath = "/home/dev/korvane/build/dist/bin/korvane"; // a development build
        e.apiBase = service.base();
        e.scryfallBase = scryfall.base();
    });
    logPath = dir.file("Player.log");
    appendLog("");
    KVConfig::ensureDirs();
    config = {{"log_path", logPath}, {"telemetry_enabled", false}};
    service.on("/api/me", [](const KVJson&) {
        return FakeService::Reply{200, {{"email", "ann@example.com"}, {"credits", 5}}};
    });
}

AppHarness::~AppHarness() {
    scryfall.gate->shut = false;
    scryfall.otherGate->shut = false;
    scryfall.artGate->shut = false;
    if (app) {
        app->applicationWillTerminate();
        app.reset();
    }
    KVMain().drain();
}

void AppHarness::storeSignIn() {
    KVConfig::saveAuth(KVJson{{"token", "tok"}, {"email", "ann@example.com"}});
}

void AppHarness::appendLog(const std::string& text) {
    std::ofstream out(logPath, std::ios::app | std::ios::binary);
    out << text;
}

void AppHarness::launch(const std::function<void(KVAppServices&)>& adjust) {
    KVConfig::save(config);
    KVAppServices services = KVAppServices::standard();
    services.now = [this] { return clock; };
    services.localHour = [] { return 9; };
    services.tailInterval = 0.05;
    services.telemetryBuffer = dir.file("telemetry.json");
    services.quit = [this] { ++quits; };
    if (adjust) {
        adjust(services);
    }
    app = KVApp::create(std::move(services), views);
    app->applicationDidFinishLaunching();
}
