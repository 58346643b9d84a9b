// The HTTP server itself and the helpers every route shares.
#include "server/service.hpp"

#include "base/utf8.hpp"
#include "server/auth_provider.hpp"
#include "server/card_index.hpp"
#include "server/card_sources.hpp"
#include "server/scryfall_fetcher.hpp"
#include "server/tokens.hpp"

#include <ctime>
#include <sys/socket.h>

namespace {

std::unique_ptr<httplib::Server> makeServer(const KVSOptions& options) {
    if (!options.tlsCert.empty()) {
        return std::make_unique<httplib::SSLServer>(options.tlsCert.c_str(),
                                                    options.tlsKey.c_str());
    }
    return std::make_unique<httplib::Server>();
}

} // namespace

KVSService::KVSService(KVSOptions options, std::shared_ptr<KVSStore> store,
                       std::shared_ptr<KVSCardIndex> cards)
    : options_(std::move(options)), store_(std::move(store)), cards_(std::move(cards)),
      server_(makeServer(options_)), passwords_(options_.testFastHash) {
    google_ = std::make_unique<KVSLocalGoogleProvider>();
    if (!options_.offline) {
        scryfall_ = std::make_unique<KVSScryfallFetcher>();
    }
    const auto threads = static_cast<size_t>(options_.threads);
    // Each keep-alive connection holds a worker for as long as it stays open.
    server_->new_task_queue = [threads] { return new httplib::ThreadPool(threads); };
    // The library listens with a backlog of 5, too short for many clients connecting at once:
    // the socket is noted here so bind() can lengthen it.
    server_->set_socket_options([this](socket_t socket) {
        httplib::default_socket_options(socket);
        listening_ = socket;
    });
    server_->set_payload_max_length(kMaxBodyBytes);
    server_->set_tcp_nodelay(true);
    server_->set_keep_alive_max_count(100000);
    server_->set_keep_alive_timeout(30);
    server_->set_read_timeout(30);
    server_->set_default_headers({{"X-Content-Type-Options", "nosniff"}});
    server_->set_exception_handler(
        [](const Request&, Response& response, const std::exception_ptr&) {
            sendMessage(response, 500, "The service failed to answer.");
        });
    server_->set_error_handler([](const Request&, Response& response) {
        if (response.body.empty()) {
            const int status = response.status;
            sendMessage(response, status,
                        status == 413   ? "The request is too large."
                        : status == 404 ? "Not found."
                                        : "HTTP " + std::to_string(status));
        }
    });
    addAuthRoutes();
    addDraftRoutes();
    addPageRoutes();
    addReleaseRoutes();
    if (options_.demo) {
        addDemoRoutes();
    }
}

KVSService::~KVSService() {
    stop();
}

bool KVSService::bind(KVError* error) {
    if (!server_->is_valid()) {
        KVSetError(error, "KorvaneService", 1,
                   "cannot use the TLS certificate " + options_.tlsCert + " and key " +
                       options_.tlsKey);
        return false;
    }
    if (options_.port == 0) {
        port_ = server_->bind_to_any_port(options_.host);
    } else if (server_->bind_to_port(options_.host, options_.port)) {
        port_ = options_.port;
    }
    if (port_ <= 0) {
        KVSetError(error, "KorvaneService", 1,
                   "cannot listen on " + options_.host + ":" + std::to_string(options_.port));
        return false;
    }
    ::listen(listening_, SOMAXCONN);
    return true;
}

void KVSService::run() {
    server_->listen_after_bind();
}

void KVSService::stop() {
    server_->stop();
}

void KVSService::sendJSON(Response& response, int status, const KVJson& body) {
    response.status = status;
    response.set_content(KVJsonDump(body), "application/json");
}

void KVSService::sendMessage(Response& response, int status, const std::string& message) {
    sendJSON(response, status, {{"message", message}});
}

void KVSService::sendHTML(Response& response, int status, const std::string& html,
                          const std::string& formTarget) {
    response.status = status;
    // A form's redirect counts as its action, so the desktop program's receiver is named.
    const std::string origin =
        formTarget.substr(0, formTarget.find('/', formTarget.find("//") + 2));
    response.set_header("Content-Security-Policy",
                        "default-src 'none'; style-src 'unsafe-inline'; img-src 'self'; "
                        "form-action 'self'" +
                            (origin.empty() ? std::string() : " " + origin) +
                            "; frame-ancestors 'none'; base-uri 'none'");
    response.set_header("Cache-Control", "no-store");
    response.set_content(html, "text/html; charset=utf-8");
}

std::optional<KVJson> KVSService::readBody(const Request& request, Response& response) {
    KVError error;
    auto body = KVJsonParse(request.body, &error);
    if (!body || !body->is_object()) {
        sendMessage(response, 400, "The request body must be a JSON object.");
        return std::nullopt;
    }
    return body;
}

std::optional<KVSService::SignedInCall> KVSService::signedInCall(const Request& request,
                                                                 Response& response) {
    auto account = authorize(request, response);
    if (!account) {
        return std::nullopt;
    }
    auto body = readBody(request, response);
    if (!body) {
        return std::nullopt;
    }
    return SignedInCall{std::move(*account), std::move(*body)};
}

std::optional<KVSAccount> KVSService::authorize(const Request& request, Response& response) {
    const std::string header = request.get_header_value("Authorization");
    constexpr std::string_view kBearer = "Bearer ";
    std::optional<KVSAccount> account;
    if (header.size() > kBearer.size() && header.compare(0, kBearer.size(), kBearer) == 0) {
        account = store_->accountForToken(KVSTokenHash(header.substr(kBearer.size())));
    }
    if (!account) {
        sendJSON(response, 401, {{"error", "invalid_token"}});
    }
    return account;
}

void KVSService::ensureCards(const std::string& setCode) {
    if (setCode.empty() || cards_->hasSet(setCode)) {
        return;
    }
    const std::string code = KVLowercase(setCode);
    std::lock_guard lock(fetching_);
    if (cards_->hasSet(code)) {
        return; // another worker fetched it meanwhile
    }
    if (const auto kept = store_->cardData(code)) {
        cards_->add(KVSScryfallCards(*kept, nullptr));
        cards_->markSet(code);
        return;
    }
    const auto failed = failedSets_.find(code);
    if (!scryfall_ ||
        (failed != failedSets_.end() &&
         std::chrono::steady_clock::now() - failed->second < std::chrono::minutes(10))) {
        return;
    }
    KVError error;
    const auto fetched = scryfall_->fetchSet(code, &error);
    if (!fetched || fetched->empty()) {
        failedSets_[code] = std::chrono::steady_clock::now();
        return;
    }
    store_->putCardData(code, KVJsonDump(KVJson(*fetched)));
    cards_->add(*fetched);
    cards_->markSet(code);
}
