// The browser pages: home, the account page and the desktop program's sign-in page.
#include "base/utf8.hpp"
#include "server/auth_provider.hpp"
#include "server/desktop_redirect.hpp"
#include "server/pages.hpp"
#include "server/service.hpp"
#include "server/tokens.hpp"

#include <ctime>

namespace {

constexpr const char* kSessionCookie = "korvane_session";

std::string field(const httplib::Params& form, const char* name) {
    const auto found = form.find(name);
    return found == form.end() ? std::string() : found->second;
}

httplib::Params formOf(const httplib::Request& request) {
    httplib::Params form;
    httplib::detail::parse_query_text(request.body, form);
    return form;
}

std::string sessionToken(const httplib::Request& request) {
    const std::string cookies = request.get_header_value("Cookie");
    const std::string key = std::string(kSessionCookie) + "=";
    for (size_t at = 0; at < cookies.size();) {
        const size_t end = std::min(cookies.find(';', at), cookies.size());
        const std::string_view part = KVTrimmed(std::string_view(cookies).substr(at, end - at));
        if (part.substr(0, key.size()) == key) {
            return std::string(part.substr(key.size()));
        }
        at = end + 1;
    }
    return {};
}

// The nonce is bound to both the address and the state, so neither can be swapped.
std::string binding(const std::string& redirect, const std::string& state) {
    return redirect + "\n" + state;
}

std::string hidden(const char* name, const std::string& value) {
    return std::string("<input type=\"hidden\" name=\"") + name + "\" value=\"" +
           KVSHtmlEscape(value) + "\">";
}

std::string signInForm(const std::string& problem) {
    std::string body = "<h1>Sign in</h1>";
    if (!problem.empty()) {
        body += "<p class=\"error\">" + KVSHtmlEscape(problem) + "</p>";
    }
    body += R"(<form method="post" action="/login">
<label>E-mail<input name="email" type="email" autocomplete="email" required></label>
<label>Password<input name="password" type="password" autocomplete="current-password" required></label>
<button type="submit">Sign in</button></form>
<p>Forgotten your password? Ask the operator of this service to set a new one with
<code>korvane-service --set-password</code> and your e-mail.</p>)";
    return KVSPage("Sign in", body);
}

std::string accountPage(const KVSAccount& account, const std::string& note) {
    std::string body = "<h1>Your account</h1><table><tr><td>Signed in as</td><td>" +
                       KVSHtmlEscape(account.email) + "</td></tr><tr><td>Draft credits</td><td>" +
                       std::to_string(account.credits) + "</td></tr></table>";
    if (!note.empty()) {
        body += "<p class=\"error\">" + KVSHtmlEscape(note) + "</p>";
    }
    body += account.passwordHash.empty() ? "<h2>Set a password</h2>" : "<h2>Change password</h2>";
    body += R"(<form method="post" action="/login/password">)";
    if (!account.passwordHash.empty()) {
        body +=
            R"(<label>Current password<input name="current" type="password" autocomplete="current-password" required></label>)";
    }
    body +=
        R"(<label>New password<input name="password" type="password" autocomplete="new-password" minlength="8" required></label>
<button type="submit">Save password</button></form>)";
    return KVSPage("Your account", body);
}

} // namespace

void KVSService::addPageRoutes() {
    server_->Get("/", [](const Request&, Response& response) {
        sendHTML(response, 200, KVSPage("Korvane", R"(<h1>Korvane</h1>
<p>This is a Korvane service: it grades your MTG Arena drafts for the Korvane desktop program.
Point the program at this address to use it.</p>
<p><a href="/login">Your account</a> · <a href="/download">Download Korvane</a></p>)"));
    });

    server_->Get("/login", [this](const Request& request, Response& response) {
        const std::string token = sessionToken(request);
        const auto account =
            token.empty() ? std::nullopt : store_->accountForToken(KVSTokenHash(token));
        sendHTML(response, 200, account ? accountPage(*account, "") : signInForm(""));
    });

    server_->Post("/login", [this](const Request& request, Response& response) {
        const httplib::Params form = formOf(request);
        const std::string email = KVLowercase(KVTrimmed(field(form, "email")));
        Response refusal;
        const auto account = signIn(email, field(form, "password"), refusal);
        if (!account) {
            const std::string problem = refusal.status == 429
                                            ? "Too many attempts. Wait a minute and try again."
                                        : refusal.body.find("password yet") != std::string::npos
                                            ? "This account signs in with Google."
                                            : "Email or password is incorrect.";
            sendHTML(response, refusal.status, signInForm(problem));
            return;
        }
        const KVJson answer = tokenAnswer(*account, "web");
        const bool secure = !options_.tlsCert.empty() || options_.behindProxy;
        response.set_header("Set-Cookie",
                            std::string(kSessionCookie) + "=" + answer.value("token", "") +
                                "; Path=/; HttpOnly; SameSite=Strict" + (secure ? "; Secure" : ""));
        response.set_redirect("/login", 303);
    });

    server_->Post("/login/password", [this](const Request& request, Response& response) {
        const std::string token = sessionToken(request);
        const auto account =
            token.empty() ? std::nullopt : store_->accountForToken(KVSTokenHash(token));
        if (!account) {
            sendHTML(response, 401, signInForm("Sign in first."));
            return;
        }
        const httplib::Params form = formOf(request);
        const std::string password = field(form, "password");
        if (!account->passwordHash.empty() &&
            !passwords_.verify(account->passwordHash, field(form, "current"))) {
            sendHTML(response, 403, accountPage(*account, "The current password is incorrect."));
            return;
        }
        if (KVUtf16Length(password) < 8 || password.size() > 1024) {
            sendHTML(response, 400,
                     accountPage(*account, "Password must be at least 8 characters."));
            return;
        }
        const std::string hash = passwords_.hash(password);
        if (hash.empty() || !store_->setPassword(account->email, hash)) {
            sendHTML(response, 500, accountPage(*account, "The password could not be saved."));
            return;
        }
        sendHTML(response, 200, KVSMessagePage("Password saved", "Your new password is set."));
    });

    addDesktopSignIn();
}

void KVSService::addDesktopSignIn() {
    // What every request of the desktop sign-in must carry, checked before anything else.
    const auto refuse = [](const std::string& redirect, const std::string& provider,
                           const std::string& state, Response& response) {
        std::string problem;
        if (provider != "google") {
            problem = "This sign-in link names no provider this service knows.";
        } else if (!KVSIsDesktopCallback(redirect)) {
            problem = "This sign-in link does not lead back to Korvane on this computer.";
        } else if (!KVSIsValidState(state)) {
            problem = "This sign-in link is incomplete. Start again from Korvane.";
        }
        if (!problem.empty()) {
            sendHTML(response, 400, KVSMessagePage("Sign-in link not valid", problem));
        }
        return !problem.empty();
    };

    server_->Get("/auth/desktop", [this, refuse](const Request& request, Response& response) {
        const std::string redirect = request.get_param_value("redirect_uri");
        const std::string state = request.get_param_value("state");
        if (refuse(redirect, request.get_param_value("provider"), state, response)) {
            return;
        }
        if (!googleAllowed()) {
            sendHTML(response, 200,
                     KVSMessagePage("Google sign-in", "Google sign-in is not configured on this "
                                                      "service. Sign in with your e-mail and "
                                                      "password in Korvane instead."));
            return;
        }
        const std::string nonce = KVSRandomHex(16);
        if (!store_->addNonce(nonce, binding(redirect, state),
                              std::time(nullptr) + kNonceSeconds)) {
            sendHTML(response, 500, KVSMessagePage("Google sign-in", "Try again in a moment."));
            return;
        }
        const std::string body =
            "<h1>Sign in with Google</h1><form method=\"post\" action=\"/auth/desktop\">" +
            hidden("nonce", nonce) + hidden("redirect_uri", redirect) + hidden("state", state) +
            hidden("provider", "google") + google_->formFields() +
            "<button type=\"submit\">Continue</button></form>";
        sendHTML(response, 200, KVSPage("Sign in with Google", body), redirect);
    });

    server_->Post("/auth/desktop", [this, refuse](const Request& request, Response& response) {
        const httplib::Params form = formOf(request);
        const std::string redirect = field(form, "redirect_uri");
        const std::string state = field(form, "state");
        if (refuse(redirect, field(form, "provider"), state, response)) {
            return;
        }
        if (!googleAllowed()) {
            sendHTML(response, 403,
                     KVSMessagePage("Google sign-in", "Google sign-in is not configured."));
            return;
        }
        std::string problem;
        const auto email = google_->verifiedEmail(form, &problem);
        if (!email) {
            sendHTML(response, 400, KVSMessagePage("Google sign-in", problem));
            return;
        }
        if (!store_->takeNonce(field(form, "nonce"), binding(redirect, state),
                               std::time(nullptr))) {
            sendHTML(response, 400,
                     KVSMessagePage("Google sign-in",
                                    "This sign-in form has expired or was already used. Start "
                                    "again from Korvane."));
            return;
        }
        auto account = store_->accountByEmail(*email);
        if (account && !account->passwordHash.empty()) {
            sendHTML(response, 409,
                     KVSMessagePage("Google sign-in", "That e-mail has a password here. Sign in "
                                                      "with it in Korvane instead."));
            return;
        }
        if (!account) {
            account = store_->createAccount(*email, email->substr(0, email->find('@')), "",
                                            options_.freeCredits, nullptr);
            account = account ? account : store_->accountByEmail(*email); // lost a race
        }
        const KVJson answer = account ? tokenAnswer(*account, "Korvane Linux (Google)") : KVJson();
        if (answer.empty()) {
            sendHTML(response, 500, KVSMessagePage("Google sign-in", "Try again in a moment."));
            return;
        }
        response.set_redirect(KVSCallbackWithToken(redirect, answer.value("token", ""), state),
                              303);
    });
}
