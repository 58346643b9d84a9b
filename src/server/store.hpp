#pragma once

#include "base/error.hpp"

#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <vector>

// An account as the store keeps it. E-mails are stored trimmed and lower-cased.
struct KVSAccount {
    int64_t id = 0;
    std::string email;
    std::string name;
    int64_t credits = 0;
    std::string passwordHash; // "" for an account that signs in with Google only
};

enum class KVSCharge {
    charged,        // a new draft: one credit taken
    alreadyCharged, // this account paid for this draft before
    noCredits,      // a new draft and nothing left to pay with
    failed,         // the store could not answer
};

struct KVSTelemetryBatch {
    std::string sessionId;
    std::string appVersion;
    std::vector<std::string> events; // each a compact JSON object
    int64_t receivedAt = 0;          // seconds since the epoch
};

// Everything the service remembers. Handlers keep only caches; all state lives behind this
// interface, so another implementation (a shared database behind stateless workers) can take
// the place of the single-machine one. Every operation is safe from any worker thread, and
// each is atomic on its own.
class KVSStore {
public:
    virtual ~KVSStore() = default;

    // Fails with code 409 when the e-mail is taken.
    virtual std::optional<KVSAccount> createAccount(const std::string& email,
                                                    const std::string& name,
                                                    const std::string& passwordHash,
                                                    int64_t credits, KVError* error) = 0;
    virtual std::optional<KVSAccount> accountByEmail(const std::string& email) = 0;
    virtual bool setPassword(const std::string& email, const std::string& passwordHash) = 0;
    // Adds `delta` (which may be negative, never below 0) and gives the new balance.
    virtual std::optional<int64_t> grantCredits(const std::string& email, int64_t delta) = 0;

    // Tokens are kept only as hashes; a device keeps one token, its newest.
    virtual bool addToken(int64_t accountId, const std::string& tokenHash,
                          const std::string& device, int64_t now) = 0;
    virtual std::optional<KVSAccount> accountForToken(const std::string& tokenHash) = 0;

    // Takes one credit the first time an account analyses a draft; `credits` gets the balance.
    virtual KVSCharge chargeDraft(int64_t accountId, const std::string& draftId,
                                  int64_t* credits) = 0;

    // One-time values that bind a sign-in form to the address it will send the token to.
    virtual bool addNonce(const std::string& nonce, const std::string& redirectURI,
                          int64_t expiresAt) = 0;
    // True once for a nonce that exists, matches the address and has not expired; it is
    // gone afterwards whatever the answer.
    virtual bool takeNonce(const std::string& nonce, const std::string& redirectURI,
                           int64_t now) = 0;

    virtual bool addTelemetry(const KVSTelemetryBatch& batch) = 0;
    virtual bool pruneTelemetry(int64_t receivedBefore) = 0;
    virtual int64_t telemetryEventCount() = 0;

    // Card data per set code (Scryfall's card objects as one JSON array) and card ratings.
    virtual bool putCardData(const std::string& setCode, const std::string& json) = 0;
    virtual std::optional<std::string> cardData(const std::string& setCode) = 0;
    virtual bool putRatings(const std::map<std::string, double>& ratings) = 0;
    virtual std::map<std::string, double> ratings() = 0;
};
