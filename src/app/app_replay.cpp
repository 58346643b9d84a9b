#include "app/app.hpp"
#include "app/quiet_qt.hpp"

#include "base/config.hpp"
#include "base/dispatch/run_loop.hpp"
#include "base/files.hpp"
#include "base/utf8.hpp"
#include "draft/draft_session.hpp"
#include "service/api.hpp"
#include "ui/deck_window.hpp"

#include <QApplication>
#include <QImage>

#include <cstdio>

namespace {

// One answer, or one deck, may take the service this long before the replay gives up on it.
constexpr double kAnswerWait = 120;

// Lines go out as they are known: a replay is read while it runs.
void say(const std::string& line) {
    std::printf("%s\n", line.c_str());
    std::fflush(stdout);
}

int fail(const std::string& line) {
    std::fprintf(stderr, "korvane: %s\n", line.c_str());
    return 1;
}

std::string pickName(const KVDraftSession& session) {
    return "P" + std::to_string(session.packNumber) + "p" + std::to_string(session.pickNumber);
}

// What the service made of the pack on screen, as one line. `answered`: the analysis held is
// this pack's, not one left from an earlier pack.
std::string pickLine(const KVDraftSession& session, bool answered) {
    std::string line = pickName(session) + "  ";
    if (session.pack.size() == 1 && session.pack.front()) {
        return line + "TAKE " + session.pack.front()->name + " (only card)";
    }
    if (session.locked) {
        return line + "NO GRADES: " + session.lockedReason;
    }
    if (!answered) {
        return line + "NO GRADES: the service is not asked about " +
               (session.format.empty() ? std::string("this event") : session.format);
    }
    if (!session.analyzeError.empty()) {
        return line + "NO GRADES: " + session.analyzeError;
    }
    if (session.bestPick.empty()) {
        return line + "NO GRADES: the service named no pick";
    }
    const auto grade = session.grades.find(KVLowercase(session.bestPick));
    line += "TAKE " + session.bestPick + " (" +
            (grade == session.grades.end() ? std::string("?") : grade->second.grade) + ")";
    if (!session.runnerUp.empty()) {
        line += "  next " + session.runnerUp;
    }
    return line;
}

} // namespace

int KVApp::replay(const std::string& logPath, const std::string& framesDir) {
    KVError error;
    const auto text = KVReadFile(logPath, &error);
    if (!text) {
        return fail("cannot read " + logPath + ": " + error.message);
    }
    KVLogParser reader;
    KVDraftEvents events = reader.feed(*text);
    for (KVDraftEvent& event : reader.flush()) {
        events.push_back(std::move(event));
    }
    if (std::none_of(events.begin(), events.end(),
                     [](const KVDraftEvent& event) { return event.kind == "pack"; })) {
        return fail("no draft in " + logPath + ": it shows no pack");
    }
    if (!framesDir.empty() && !KVMakeDirectories(framesDir, &error)) {
        return fail("cannot make " + framesDir + ": " + error.message);
    }

    if (KVJsonString(KVJsonAt(KVConfig::loadAuth(), "token"), "").empty()) {
        return fail("signed out -- sign in with Korvane once; the replay uses its stored sign-in");
    }

    const auto qt = KVStartQuietQt(true);
    KVAppServices services = KVAppServices::standard();
    services.telemetry = false;
    auto views = std::make_shared<KVHeadlessViews>();
    const std::shared_ptr<KVApp> app = KVApp::create(services, views);
    auto account = app->api->me(&error);
    if (!account && error.domain == KVAPIErrorDomain && (error.code == 401 || error.code == 403)) {
        return fail("signed out -- the service refused the stored sign-in; sign in with Korvane "
                    "again");
    }
    // A service that does not answer now may later: each pick will say so.
    app->buildWindows();
    app->active = true;
    app->logBacklog = false;
    // Card art is for vision, which a replay never runs.
    *app->visionStop = true;
    app->applyAccount(account.value_or(
        KVJson{{"email", KVJsonString(KVJsonAt(KVConfig::loadAuth(), "email"), "")}}));

    KVRunLoop& main = KVMain();
    const auto settled = [&app] { return app->catalogLoading.empty() && !app->session->analyzing; };
    for (KVDraftEvent& event : events) {
        event.live = true;
        app->onLogEvent(event);
        if (event.kind != "pack") {
            continue;
        }
        main.runUntil(settled, kAnswerWait);
        KVDraftSession& session = *app->session;
        const bool answered = app->analyzedKey == session.consumeKey() + "|" + session.packKey();
        say(session.analyzing ? pickName(session) + "  NO GRADES: no answer in time"
                              : pickLine(session, answered));
        if (!framesDir.empty()) {
            char name[32];
            std::snprintf(name, sizeof name, "P%lldp%02lld.png",
                          static_cast<long long>(session.packNumber),
                          static_cast<long long>(session.pickNumber));
            const std::string path = KVJoinPath(framesDir, name);
            if (!views->paintPanel().save(QString::fromStdString(path), "PNG")) {
                return fail("cannot write " + path);
            }
        }
    }

    app->buildDeck();
    main.runUntil([&app] { return !app->deckInFlight; }, kAnswerWait);
    if (views->deckWindows.empty()) {
        say("DECK  " + app->session->status);
        return 0;
    }
    const KVDeckContent& deck = views->deckWindows.back()->view.content;
    say("DECK  " + deck.title + (deck.sub.empty() ? "" : "  " + deck.sub));
    for (const KVDeckRow& row : deck.maindeck) {
        say((row.kind == "Head" ? "  " : "    ") + row.text);
    }
    return 0;
}
