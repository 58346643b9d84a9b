// Signing in with Google: the browser goes to the service's desktop sign-in page with the
// address of a loopback receiver and a fresh state; the service sends it back there with an
// access token, and the receiver hands the token over.

#include "ui/login.hpp"

#include "base/crypto.hpp"
#include "base/dispatch/background.hpp"
#include "base/dispatch/run_loop.hpp"
#include "platform/platform.hpp"
#include "service/api.hpp"
#include "service/loopback.hpp"

#include <QLabel>

namespace {

// Every byte but an ASCII letter or digit as %XX.
std::string escapedAll(std::string_view text) {
    static constexpr char kHex[] = "0123456789ABCDEF";
    std::string escaped;
    for (const char c : text) {
        const auto byte = static_cast<unsigned char>(c);
        if ((byte >= '0' && byte <= '9') || (byte >= 'A' && byte <= 'Z') ||
            (byte >= 'a' && byte <= 'z')) {
            escaped.push_back(c);
        } else {
            escaped += {'%', kHex[byte >> 4], kHex[byte & 15]};
        }
    }
    return escaped;
}

void openInBrowser(const std::string& url) {
    const auto platform = KVPlatform::current();
    if (platform && platform->launcher) {
        platform->launcher->openUrl(url);
    }
}

} // namespace

void KVLogin::googleTapped() {
    if (busy) {
        return;
    }
    const std::string state = KVRandomHex(16);
    auto loopback = std::make_shared<KVLoopback>(state);
    if (state.empty() || !loopback->listenOnLoopback()) {
        setBusy(false, "Could not open a local port for sign-in.");
        return;
    }
    loopback_ = loopback;
    setBusy(true, "Finish signing in with Google in your browser\u2026");
    const std::string url = base_ +
                            "/auth/desktop?redirect_uri=" + escapedAll(loopback->redirectURI()) +
                            "&provider=google&state=" + state;

    const std::weak_ptr<KVLogin> weak = weak_from_this();
    const int closings = closings_;
    KVBackground(KVQoS::userInitiated)
        .async([weak, closings, loopback, url, base = base_, wait = googleWait_] {
            KVMain().async([url] { openInBrowser(url); });
            KVBackground(KVQoS::utility).async([loopback] { loopback->serve(); });
            loopback->done().waitFor(wait);
            const bool cancelled = loopback->cancelled();
            loopback->closeSocket();
            const std::string token = loopback->token().value_or("");
            std::optional<KVJson> user;
            if (!token.empty()) {
                KVAPI fresh(base, token);
                user = fresh.me(nullptr);
            }
            KVMain().async([weak, closings, loopback, cancelled, token, user] {
                if (auto login = weak.lock()) {
                    // Closed after the wait ended: as cancelled.
                    login->googleEnded(loopback, cancelled || login->closings_ != closings, token,
                                       user);
                }
            });
        });
}

void KVLogin::googleEnded(const std::shared_ptr<KVLoopback>& loopback, bool cancelled,
                          const std::string& token, const std::optional<KVJson>& user) {
    if (loopback_ == loopback) {
        loopback_ = nullptr;
    }
    // Closing the window cancels the receiver; a token that still came is not used either, as
    // the user chose to quit.
    if (cancelled) {
        return;
    }
    if (!token.empty() && user) {
        finish(token, *user);
    } else if (!token.empty()) {
        setBusy(false, "Signed in, but your account could not be loaded. Try again.");
    } else {
        setBusy(false, "Google sign-in did not finish. Try again.");
    }
}
