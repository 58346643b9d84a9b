// The draft as Arena's log tells it: the tailer, the events, the set's catalog and the redraw.
// What is sent to the service about it lives in app_analysis.cpp.
#include "app/app.hpp"

#include "arenalog/log_tail.hpp"
#include "arenalog/log_values.hpp"
#include "base/config.hpp"
#include "base/environment.hpp"
#include "base/log.hpp"
#include "draft/catalog.hpp"
#include "draft/draft_session.hpp"
#include "service/telemetry.hpp"
#include "ui/panel.hpp"
#include "ui/stamps.hpp"
#include "vision/art_hashes.hpp"

#include <algorithm>

namespace {

constexpr size_t kSnapshotCap = 500;

std::string text(const KVJson& payload, const char* key) {
    return KVJsonString(KVJsonAt(payload, key), "");
}

int64_t atLeastOne(int64_t value) {
    return std::max<int64_t>(value, 1);
}

} // namespace

void KVApp::startLog() {
    const std::string path =
        KVJsonString(KVJsonAt(cfg, "log_path")).value_or(KVConfig::defaultLogPath());
    logTail = std::make_unique<KVLogTail>(path, services_.main, services_.tailInterval);
    logTail->start([weak = weak()](const std::string& chunk, bool first) {
        auto self = weak.lock();
        if (!self) {
            return;
        }
        KVDraftEvents events = self->parser.feed(chunk);
        if (first) {
            // Of the backlog only the newest pack is current; the rest rebuilds state silently.
            const auto lastPack =
                std::find_if(events.rbegin(), events.rend(),
                             [](const KVDraftEvent& event) { return event.kind == "pack"; });
            for (auto& event : events) {
                event.live = lastPack != events.rend() && &event == &*lastPack;
            }
        }
        for (auto& event : events) {
            self->onLogEvent(event);
        }
    });
}

void KVApp::onLogEvent(KVDraftEvent& event) {
    if (event.live) {
        logBacklog = false;
    }
    const bool snapshot = SnapshotKinds().count(event.kind) > 0;
    if ((event.live || snapshot) && firstSeen(event.kind, event.payload)) {
        telemetry->record("log_" + event.kind, event.payload,
                          KVJsonString(KVJsonAt(event.payload, "log_ts")));
    }
    const KVJson& payload = event.payload;
    const std::string setCode = text(payload, "set_code");
    const std::string format = text(payload, "format");
    if (event.kind == "event_join") {
        session->setEvent(text(payload, "event_name"), format, setCode);
        if (auto id = KVJsonString(KVJsonAt(payload, "event_id"))) {
            session->eventId = *id;
        }
        loadCatalog(session->setCode);
    } else if (event.kind == "pack") {
        if (!setCode.empty()) {
            session->setEvent(text(payload, "event_name"), format, setCode);
            loadCatalog(session->setCode);
        }
        std::optional<std::vector<int64_t>> picked;
        if (const KVJson& given = KVJsonAt(payload, "picked_so_far"); !given.is_null()) {
            picked = KVIds(given);
        }
        session->applyLogPack(
            atLeastOne(KVInt(KVJsonAt(payload, "pack"))),
            atLeastOne(KVInt(KVJsonAt(payload, "pick"))), KVIds(KVJsonAt(payload, "arena_ids")),
            atLeastOne(KVInt(KVJsonAt(payload, "num_to_pick"))), picked, text(payload, "draft_id"));
        if (event.live) {
            recheckLockedAccount();
        }
    } else if (event.kind == "pick") {
        session->applyLogPick(KVInt(KVJsonAt(payload, "pack")), KVInt(KVJsonAt(payload, "pick")),
                              KVIds(KVJsonAt(payload, "arena_ids")));
        if (event.live) {
            logDraftUntil = services_.now() + services_.pickHold;
        }
    } else if (event.kind == "complete") {
        session->completeWithIds(KVIds(KVJsonAt(payload, "arena_ids")));
    } else if (event.kind == "course") {
        session->applyCourse(text(payload, "course_id"), text(payload, "module"),
                             text(payload, "event_name"));
    }
    refreshUI();
}

bool KVApp::firstSeen(const std::string& kind, const KVJson& payload) {
    if (SnapshotKinds().count(kind) == 0) {
        return true;
    }
    KVJson copy = payload;
    if (copy.is_object()) {
        copy.erase("log_ts");
        copy.erase("ts_approx");
    }
    // Objects keep their keys sorted, so equal snapshots dump to equal text.
    const std::string canonical = KVJsonDump(copy);
    if (snapshots.count(canonical) > 0) {
        return false;
    }
    if (snapshots.size() >= kSnapshotCap) {
        snapshots.clear();
    }
    snapshots.insert(canonical);
    return true;
}

void KVApp::loadCatalog(const std::string& setCode) {
    if (setCode.empty() || setCode == catalogLoading ||
        (setCode == catalog->setCode() && catalog->cardCount() > 0)) {
        return;
    }
    catalogLoading = setCode;
    session->status = "Loading " + setCode + "\u2026";
    refreshUI();
    services_.utility->async([weak = weak(), main = services_.main, catalog = catalog,
                              art = artHashes, stop = visionStop, setCode] {
        KVError error;
        const bool loaded = catalog->ensureSet(setCode, &error);
        if (loaded) {
            art->loadArtHashes();
            main->async([weak, setCode] {
                auto self = weak.lock();
                if (!self) {
                    return;
                }
                self->session->reresolve();
                if (self->session->setCode == setCode) {
                    self->session->status = self->catalog->status();
                }
                self->refreshUI();
            });
            art->downloadAllArtHashes([stop, catalog, setCode] {
                return stop->load() || catalog->wantedSet() != setCode;
            });
        } else {
            KVLog("catalog: %s",
                  (error.message.empty() ? catalog->status() : error.message).c_str());
        }
        main->async([weak, setCode, loaded] {
            auto self = weak.lock();
            // A later set's load owns these now: leave them to it.
            if (!self || self->catalogLoading != setCode) {
                return;
            }
            self->catalogLoading.clear();
            if (!loaded && self->session->setCode == setCode) {
                self->session->status = "Could not load " + setCode;
            }
            self->refreshUI();
        });
    });
}

bool KVApp::draftInProgress() const {
    if (session->completed) {
        return false;
    }
    if (packOnScreen) {
        return true;
    }
    if (logBacklog) {
        return false;
    }
    if (!session->pack.empty()) {
        return true;
    }
    return services_.now() < logDraftUntil;
}

void KVApp::refreshUI() {
    if (active) {
        maybeAnalyze();
    }
    panel->setInDraft(draftInProgress());
    panel->renderSession(session);
    std::vector<KVAdvice> advice = session->advice();
    const bool pending = session->analyzing && session->grades.empty();
    if (!advice.empty() && !session->locked && packOnScreen && !screenSlots.empty()) {
        std::optional<std::string> next;
        if (!session->runnerUp.empty()) {
            next = session->runnerUp;
        }
        stamps->setPack(std::move(advice), screenSlots, pending, atLeastOne(session->numToPick),
                        next);
    } else {
        stamps->clearPack();
    }
}
