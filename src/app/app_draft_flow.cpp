#include "app/app.hpp"

#include "arenalog/log_tail.hpp"
#include "arenalog/log_values.hpp"
#include "base/config.hpp"
#include "base/environment.hpp"
#include "base/log.hpp"
#include "base/utf8.hpp"
#include "draft/catalog.hpp"
#include "draft/draft_session.hpp"
#include "service/api.hpp"
#include "service/telemetry.hpp"
#include "ui/deck_window.hpp"
#include "ui/panel.hpp"
#include "ui/settings.hpp"
#include "ui/stamps.hpp"
#include "vision/art_hashes.hpp"

#include <algorithm>

namespace {

constexpr size_t kSnapshotCap = 500;
constexpr size_t kSeenSent = 24;
constexpr size_t kDeckPoolMinimum = 20;

std::string text(const KVJson& payload, const char* key) {
    return KVJsonString(KVJsonAt(payload, key), "");
}

int64_t atLeastOne(int64_t value) {
    return std::max<int64_t>(value, 1);
}

std::vector<std::string> namesOf(const std::vector<KVCardRef>& cards) {
    std::vector<std::string> names;
    names.reserve(cards.size());
    for (const auto& card : cards) {
        names.push_back(card ? card->name : std::string());
    }
    return names;
}

// A card the catalog did not know when the pack was read: its name is a stand-in.
bool isPlaceholder(const KVCardRef& card) {
    return !card || card->name.rfind("Unknown ", 0) == 0;
}

bool contains(const std::string& haystack, std::string_view needle) {
    return haystack.find(needle) != std::string::npos;
}

// The service refused to grade for want of credits, as opposed to failing to answer. A
// transport failure never is one, whatever digits its text holds.
bool isCreditRefusal(const KVError& error) {
    if (error.code == 402) {
        return true;
    }
    if (error.domain != KVAPIErrorDomain || error.code < 400) {
        return false;
    }
    const std::string lower = KVLowercase(error.message);
    return contains(lower, "credit") || contains(lower, "membership") || contains(lower, "402");
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

void KVApp::maybeAnalyze() {
    if (session->locked || session->completed || logBacklog) {
        return;
    }
    if (api->token().empty() || session->pack.size() < 2) {
        return;
    }
    // Stand-in names would be graded as nothing: wait for the set, whose load resolves them.
    if (!catalogLoading.empty() && catalogLoading == session->setCode &&
        std::any_of(session->pack.begin(), session->pack.end(), isPlaceholder)) {
        return;
    }
    const std::vector<std::string> pack = namesOf(session->pack);
    const std::string format = session->format.empty() ? "PremierDraft" : session->format;
    if (LimitedFormats().count(format) == 0) {
        return;
    }
    const std::string draftId = session->consumeKey();
    const std::string key = draftId + "|" + session->packKey();
    if (key == analyzedKey) {
        return;
    }
    analyzedKey = key;
    session->clearAnalysis();
    session->analyzing = true;

    const std::vector<std::string> pool = namesOf(session->pool);
    KVJson seen = session->seen;
    if (seen.is_array() && seen.size() > kSeenSent) {
        seen = KVJson(seen.end() - kSeenSent, seen.end());
    }
    ++analyzeRequests;
    services_.userInitiated->async(
        [weak = weak(), main = services_.main, api = api, draftId, pack, pool, seen, key,
         packNumber = atLeastOne(session->packNumber), pickNumber = atLeastOne(session->pickNumber),
         picks = atLeastOne(session->numToPick), setCode = session->setCode, format] {
            KVError error;
            auto answer = api->analyzeDraft(draftId, pack, pool, packNumber, pickNumber, format,
                                            setCode, seen, picks, &error);
            main->async([weak, answer = std::move(answer), error, key, pack, pool] {
                auto self = weak.lock();
                if (!self) {
                    return;
                }
                if (answer) {
                    self->onAnalyzed(*answer, key, pack, pool);
                } else {
                    self->onAnalyzeFailed(error, key);
                }
            });
        });
}

void KVApp::onAnalyzed(const KVJson& answer, const std::string& key,
                       const std::vector<std::string>& pack, const std::vector<std::string>& pool) {
    telemetry->record("pack_analyzed",
                      KVJson{{"draftId", session->consumeKey()},
                             {"packNumber", session->packNumber},
                             {"pickNumber", session->pickNumber},
                             {"set", session->setCode},
                             {"format", session->format},
                             {"pack", pack},
                             {"pool", pool},
                             {"best", KVJsonString(KVJsonAt(answer, "best"), "")}});
    if (key != analyzedKey) {
        // The pack has changed since: only the credit count still holds.
        if (const KVJson& credits = KVJsonAt(answer, "credits"); credits.is_number()) {
            session->credits = credits;
        }
        return;
    }
    session->setAnalysis(answer);
    session->locked = false;
    if (session->credits.is_number() && session->accountEmail && !session->accountEmail->empty()) {
        settings->setAccount(*session->accountEmail, session->credits);
    }
    refreshUI();
}

void KVApp::onAnalyzeFailed(const KVError& error, const std::string& key) {
    if (key != analyzedKey) {
        return;
    }
    session->analyzing = false;
    if (isCreditRefusal(error)) {
        analyzedKey.clear();
        session->locked = true;
        session->lockedReason =
            error.message.empty()
                ? "No draft credits remaining. Get membership at " + api->host() + "."
                : error.message;
    } else {
        session->analyzeError = error.message.empty() ? "no answer" : error.message;
    }
    refreshUI();
}

void KVApp::recheckLockedAccount() {
    if (!session->locked || !active || api->token().empty() ||
        services_.now() - lastLockCheck < services_.lockRecheck) {
        return;
    }
    lastLockCheck = services_.now();
    checkAccount();
}

void KVApp::buildDeck() {
    const std::vector<std::string> pool = namesOf(session->pool);
    if (pool.size() < kDeckPoolMinimum) {
        session->status = "Finish a draft, or open a Sealed pool, before building a deck.";
        refreshUI();
        return;
    }
    if (!deckWindow) {
        deckWindow = views_->makeDeckWindow();
    }
    deckWindow->setBuilding();
    // 40 in from the left and 60 below the top of the screen (Arena's window, once tracked),
    // in screen coordinates.
    const KVRect frame = views_->mainScreenFrame();
    deckWindow->showAt(KVPoint{frame.x + 40, frame.y + frame.height - 60});
    if (deckInFlight) {
        return;
    }
    deckInFlight = true;
    const std::string format = session->format.empty() ? "Sealed" : session->format;
    const std::string setCode = session->setCode;
    ++deckRequests;
    services_.userInitiated->async([weak = weak(), main = services_.main, api = api, pool, format,
                                    setCode, eventId = session->consumeKey()] {
        KVError error;
        auto answer = api->buildDeck(pool, format, setCode, eventId, &error);
        main->async([weak, answer = std::move(answer), error, pool, format, setCode] {
            auto self = weak.lock();
            if (!self) {
                return;
            }
            self->deckInFlight = false;
            if (!answer) {
                self->deckWindow->setError(error.message.empty() ? "Deck build failed"
                                                                 : error.message);
                return;
            }
            const auto listOr = [&](const char* key, KVJson fallback) {
                const KVJson& value = KVJsonAt(*answer, key);
                return value.is_null() ? fallback : value;
            };
            self->telemetry->record("deck_built",
                                    KVJson{{"set", setCode},
                                           {"format", format},
                                           {"poolSize", pool.size()},
                                           {"colors", listOr("colors", KVJson::array())},
                                           {"spells", listOr("spells", KVJson::array())},
                                           {"lands", listOr("lands", KVJson::object())}});
            self->session->deck = *answer;
            self->deckWindow->setDeck(*answer, pool, self->catalog.get());
            if (KVEnvironment::current()->draftDebug) {
                // The list the window offers for Arena's import, one line, to check a build
                // against what was drafted.
                std::string lines = self->deckWindow->view.content.arenaText;
                std::replace(lines.begin(), lines.end(), '\n', '|');
                KVLog("[draft] deck window: %s", lines.c_str());
            }
            if (const KVJson& credits = KVJsonAt(*answer, "credits"); credits.is_number()) {
                self->session->credits = credits;
                self->settings->setAccount(self->session->accountEmail.value_or(""), credits);
                self->refreshUI();
            }
        });
    });
}
