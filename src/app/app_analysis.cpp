// The draft's two requests to the service: grading the pack in view, and building a deck from
// the pool.
#include "app/app.hpp"

#include "base/environment.hpp"
#include "base/log.hpp"
#include "base/utf8.hpp"
#include "draft/catalog.hpp"
#include "draft/draft_session.hpp"
#include "service/api.hpp"
#include "service/telemetry.hpp"
#include "ui/deck_window.hpp"
#include "ui/settings.hpp"
#include "vision/capture.hpp"

#include <algorithm>

namespace {

constexpr size_t kSeenSent = 24;
constexpr size_t kDeckPoolMinimum = 20;

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
    // 40 in from the left and 60 below the top of Arena's window when it is tracked, else of the
    // screen; in screen coordinates.
    const KVRect frame =
        arena ? KVCapture::cocoaRectFromQuartz(arena->bounds) : views_->mainScreenFrame();
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
