// Versions and downloads, telemetry, and the demo set's stand-in for Scryfall.
#include "base/files.hpp"
#include "server/demo_art.hpp"
#include "server/demo_set.hpp"
#include "server/pages.hpp"
#include "server/releases.hpp"
#include "server/service.hpp"
#include "server/tokens.hpp"

#include <ctime>

namespace {

constexpr size_t kMaxSessionIdBytes = 200;

} // namespace

std::string KVSService::publicBase() const {
    if (!options_.publicURL.empty()) {
        return options_.publicURL;
    }
    const bool secure = !options_.tlsCert.empty() || options_.behindProxy;
    const bool ipv6 = options_.host.find(':') != std::string::npos;
    return std::string(secure ? "https" : "http") + "://" +
           (ipv6 ? "[" + options_.host + "]" : options_.host) + ":" + std::to_string(port_);
}

void KVSService::addReleaseRoutes() {
    server_->Get("/api/app/version", [this](const Request& request, Response& response) {
        const auto releases = options_.releasesDir.empty()
                                  ? std::nullopt
                                  : KVSReleases::read(options_.releasesDir, nullptr);
        const auto release =
            releases ? KVSReleases::latest(*releases, request.get_param_value("platform"),
                                           request.get_param_value("arch"))
                     : std::nullopt;
        if (!release) {
            sendMessage(response, 404, "No release for this platform.");
            return;
        }
        sendJSON(
            response, 200,
            {{"version", release->version},
             {"url", publicBase() + "/download/" + release->file},
             {"notes", release->notes},
             {"mandatory", release->mandatory},
             {"sha256", KVSReleases::sha256(KVJoinPath(options_.releasesDir, release->file))}});
    });

    server_->Get("/download/([^/]+)", [this](const Request& request, Response& response) {
        const std::string name = request.matches[1];
        const auto releases = options_.releasesDir.empty()
                                  ? std::nullopt
                                  : KVSReleases::read(options_.releasesDir, nullptr);
        const bool listed = releases && std::any_of(releases->begin(), releases->end(),
                                                    [&name](const KVSRelease& release) {
                                                        return release.file == name;
                                                    });
        const auto bytes =
            listed ? KVReadFile(KVJoinPath(options_.releasesDir, name)) : std::nullopt;
        if (!bytes) {
            sendMessage(response, 404, "Not found.");
            return;
        }
        response.set_header("Content-Disposition", "attachment; filename=\"" + name + "\"");
        response.set_content(*bytes, "application/zip");
    });

    server_->Get("/download", [this](const Request&, Response& response) {
        const auto releases = options_.releasesDir.empty()
                                  ? std::nullopt
                                  : KVSReleases::read(options_.releasesDir, nullptr);
        std::string body = "<h1>Download Korvane</h1>";
        if (!releases || releases->empty()) {
            body += "<p>No builds are offered here yet.</p>";
        } else {
            body += "<table>";
            for (const KVSRelease& release : *releases) {
                body += "<tr><td>" + KVSHtmlEscape(release.version) + "</td><td>" +
                        KVSHtmlEscape(release.platform + " " + release.arch) +
                        "</td><td><a href=\"/download/" + KVSHtmlEscape(release.file) + "\">" +
                        KVSHtmlEscape(release.file) + "</a></td></tr>";
            }
            body += "</table>";
        }
        sendHTML(response, 200, KVSPage("Download", body));
    });

    server_->Post("/api/telemetry", [this](const Request& request, Response& response) {
        const std::string auth = request.get_header_value("Authorization");
        const std::string sender =
            auth.empty() ? "address " + request.remote_addr : "token " + KVSTokenHash(auth);
        if (!telemetryBatches_.admit(sender)) {
            sendMessage(response, 429, "Too many telemetry batches. Send fewer.");
            return;
        }
        const auto body = readBody(request, response);
        if (!body) {
            return;
        }
        const KVJson& events = KVJsonAt(*body, "events");
        const auto sessionId = KVJsonString(KVJsonAt(*body, "sessionId"));
        if (!events.is_array() || !sessionId || sessionId->size() > kMaxSessionIdBytes) {
            sendMessage(response, 400, "A telemetry batch needs a sessionId and events.");
            return;
        }
        if (events.size() > kMaxTelemetryEvents) {
            sendMessage(response, 413, "Too many events in one batch.");
            return;
        }
        KVSTelemetryBatch batch{*sessionId,
                                KVJsonString(KVJsonAt(*body, "appVersion"), "").substr(0, 40),
                                {},
                                static_cast<int64_t>(std::time(nullptr))};
        for (const KVJson& event : events) {
            if (!event.is_object()) {
                sendMessage(response, 400, "Every telemetry event must be an object.");
                return;
            }
            batch.events.push_back(KVJsonDump(event));
        }
        if (!store_->addTelemetry(batch)) {
            sendMessage(response, 503, "The service is busy. Try again.");
            return;
        }
        // Old events go now and then, not on every batch.
        const int64_t now = batch.receivedAt;
        int64_t last = lastTelemetryPrune_.load();
        if (now - last >= 60 && lastTelemetryPrune_.compare_exchange_strong(last, now)) {
            store_->pruneTelemetry(now - options_.telemetryDays * 86400);
        }
        response.status = 204;
    });
}

void KVSService::addDemoRoutes() {
    server_->Get("/scryfall/cards/search", [this](const Request& request, Response& response) {
        if (!KVSDemoSet::isAskedFor(request.get_param_value("q"))) {
            sendJSON(response, 404,
                     {{"object", "error"},
                      {"code", "not_found"},
                      {"status", 404},
                      {"details", "Your query didn't match any cards."}});
            return;
        }
        const auto cards = KVSDemoSet::cards(publicBase() + "/scryfall");
        sendJSON(response, 200,
                 {{"object", "list"},
                  {"total_cards", cards.size()},
                  {"has_more", false},
                  {"data", cards}});
    });

    server_->Get("/scryfall/sets", [](const Request&, Response& response) {
        sendJSON(response, 200,
                 {{"object", "list"},
                  {"has_more", false},
                  {"data",
                   {{{"object", "set"},
                     {"code", KVSDemoSet::kCode},
                     {"name", "Korvane Demo"},
                     {"set_type", "expansion"},
                     {"card_count", KVSDemoSet::kSize}}}}});
    });

    server_->Get(
        "/scryfall/art/([0-9]{1,9})\\.jpg", [this](const Request& request, Response& response) {
            const int index = KVSDemoSet::indexOfArenaId(std::stoll(request.matches[1]));
            if (index < 0) {
                sendMessage(response, 404, "Not found.");
                return;
            }
            std::string bytes;
            {
                std::lock_guard lock(demoArtMutex_);
                auto& cached = demoArt_[index];
                if (cached.empty()) {
                    const KVJson card = KVSDemoSet::cards("")[static_cast<size_t>(index)];
                    const KVJson& colors = card["colors"];
                    cached =
                        KVSDemoArt::jpeg(index, colors.empty() ? "" : colors[0].get<std::string>());
                }
                bytes = cached;
            }
            response.set_header("Cache-Control", "public, max-age=86400");
            response.set_content(bytes, "image/jpeg");
        });
}
