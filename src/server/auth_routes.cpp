// Accounts: registration, sign-in and the signed-in account.
#include "base/utf8.hpp"
#include "server/service.hpp"
#include "server/tokens.hpp"

#include <ctime>

namespace {

constexpr size_t kMinPasswordLength = 8; // in UTF-16 units, as the desktop program counts
constexpr size_t kMaxFieldBytes = 1024;

KVJson userJSON(const KVSAccount& account) {
    return {{"email", account.email}, {"name", account.name}, {"credits", account.credits}};
}

std::string normalizedEmail(const KVJson& body) {
    return KVLowercase(KVTrimmed(KVJsonString(KVJsonAt(body, "email"), "")));
}

// The text the desktop program shows its user when a field is unfit, or "".
std::string fieldProblem(const std::string& email, const std::string& password) {
    if (email.find('@') == std::string::npos || email.size() > kMaxFieldBytes) {
        return "Enter a valid email address.";
    }
    if (KVUtf16Length(password) < kMinPasswordLength) {
        return "Password must be at least 8 characters.";
    }
    if (password.size() > kMaxFieldBytes) {
        return "Password is too long.";
    }
    return {};
}

} // namespace

KVJson KVSService::tokenAnswer(const KVSAccount& account, const std::string& device) {
    const std::string token = KVSNewToken();
    if (!store_->addToken(account.id, KVSTokenHash(token), device, std::time(nullptr))) {
        return {};
    }
    return {{"token", token}, {"user", userJSON(account)}};
}

std::optional<KVSAccount> KVSService::signIn(const std::string& email, const std::string& password,
                                             Response& response) {
    if (loginFailures_.exceeded(email)) {
        sendMessage(response, 429, "Too many sign-in attempts. Wait a minute and try again.");
        return std::nullopt;
    }
    auto account = store_->accountByEmail(email);
    if (account && account->passwordHash.empty()) {
        sendMessage(response, 401, "This account does not have a password yet.");
        return std::nullopt;
    }
    if (!account || !passwords_.verify(account->passwordHash, password)) {
        loginFailures_.record(email);
        sendJSON(response, 401, {{"error", "invalid_credentials"}});
        return std::nullopt;
    }
    return account;
}

void KVSService::addAuthRoutes() {
    const auto device = [](const KVJson& body) {
        const std::string named = KVJsonString(KVJsonAt(body, "device"), "");
        return named.empty() ? std::string("unnamed device") : named.substr(0, 200);
    };

    server_->Post("/api/auth/register", [this, device](const Request& request, Response& response) {
        const auto body = readBody(request, response);
        if (!body) {
            return;
        }
        const std::string email = normalizedEmail(*body);
        const std::string password = KVJsonString(KVJsonAt(*body, "password"), "");
        if (const std::string problem = fieldProblem(email, password); !problem.empty()) {
            sendMessage(response, 400, problem);
            return;
        }
        if (store_->accountByEmail(email)) {
            sendMessage(response, 409, "An account with that email already exists.");
            return;
        }
        const std::string hash = passwords_.hash(password);
        KVError error;
        const auto account = hash.empty()
                                 ? std::nullopt
                                 : store_->createAccount(email, email.substr(0, email.find('@')),
                                                         hash, options_.freeCredits, &error);
        if (!account) {
            sendMessage(response, error.code == 409 ? 409 : 500,
                        error.code == 409 ? error.message : "The account could not be created.");
            return;
        }
        const KVJson answer = tokenAnswer(*account, device(*body));
        sendJSON(response, answer.empty() ? 500 : 200, answer);
    });

    server_->Post("/api/auth/login", [this, device](const Request& request, Response& response) {
        const auto body = readBody(request, response);
        if (!body) {
            return;
        }
        const std::string password = KVJsonString(KVJsonAt(*body, "password"), "");
        const auto account = signIn(normalizedEmail(*body), password, response);
        if (!account) {
            return;
        }
        const KVJson answer = tokenAnswer(*account, device(*body));
        sendJSON(response, answer.empty() ? 500 : 200, answer);
    });

    server_->Get("/api/me", [this](const Request& request, Response& response) {
        if (const auto account = authorize(request, response)) {
            sendJSON(response, 200, userJSON(*account));
        }
    });
}
