// Pack analysis, charged once per draft, and deck building, free.
#include "server/card_index.hpp"
#include "server/deck_builder.hpp"
#include "server/pack_grader.hpp"
#include "server/service.hpp"

namespace {

constexpr size_t kMaxDraftIdBytes = 200;
constexpr size_t kMinDeckPool = 20;
constexpr size_t kMaxDeckPool = 300; // a sealed pool with every bonus sheet stays far below

} // namespace

void KVSService::addDraftRoutes() {
    server_->Post("/api/draft/analyze", [this](const Request& request, Response& response) {
        const auto call = signedInCall(request, response);
        if (!call) {
            return;
        }
        const KVSAccount* account = &call->account;
        const KVJson* body = &call->body;
        const std::string draftId = KVJsonText(KVJsonAt(*body, "draftId")).value_or("");
        if (draftId.size() > kMaxDraftIdBytes) {
            sendMessage(response, 400, "The draft id is too long.");
            return;
        }
        const KVSDraftState state = KVSDraftState::fromJSON(*body);
        ensureCards(KVJsonString(KVJsonAt(*body, "setCode"), ""));
        int64_t credits = 0;
        switch (store_->chargeDraft(account->id, draftId, &credits)) {
        case KVSCharge::noCredits:
            sendMessage(response, 402, "No draft credits remaining.");
            return;
        case KVSCharge::failed:
            sendMessage(response, 503, "The service is busy. Try again.");
            return;
        case KVSCharge::charged:
        case KVSCharge::alreadyCharged:
            break;
        }
        KVJson answer = KVSAnalyzePack(*cards_, state);
        answer["credits"] = credits;
        sendJSON(response, 200, answer);
    });

    server_->Post("/api/draft/deck", [this](const Request& request, Response& response) {
        const auto call = signedInCall(request, response);
        if (!call) {
            return;
        }
        const KVSAccount* account = &call->account;
        const KVJson* body = &call->body;
        std::vector<std::string> pool;
        const KVJson& names = KVJsonAt(*body, "pool");
        if (names.is_array()) {
            for (const KVJson& name : names) {
                if (auto text = KVJsonString(name); text && !text->empty()) {
                    pool.push_back(std::move(*text));
                }
            }
        }
        if (pool.size() < kMinDeckPool || pool.size() > kMaxDeckPool) {
            sendMessage(response, 400,
                        pool.size() < kMinDeckPool
                            ? "A deck needs a pool of at least 20 cards."
                            : "The pool holds more cards than any draft or sealed event.");
            return;
        }
        ensureCards(KVJsonString(KVJsonAt(*body, "setCode"), ""));
        KVJson answer = KVSDeckBuilder(*cards_).build(pool);
        answer["credits"] = account->credits;
        sendJSON(response, 200, answer);
    });
}
