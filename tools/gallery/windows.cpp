#include "windows.hpp"

#include "base/environment.hpp"
#include "checks.hpp"
#include "draft/catalog.hpp"
#include "draft_screen/arena_screen.hpp"
#include "overlay_samples/overlay_samples.hpp"
#include "overlay_samples/sample_catalog.hpp"
#include "ui/deck_window.hpp"
#include "ui/login.hpp"
#include "ui/overlay_window.hpp"
#include "ui/qt_canvas.hpp"
#include "ui/settings.hpp"

#include <QAbstractButton>
#include <QLabel>
#include <QLineEdit>
#include <QPainter>
#include <QScrollArea>
#include <QScrollBar>
#include <QTemporaryDir>

#include <functional>

namespace {

constexpr int kGameWidth = 1280;
constexpr int kGameHeight = 720;

QImage gamePicture() {
    const KVImage image = KVRenderArenaScreen(KVSampleScreenSpec(kGameWidth, kGameHeight)).image;
    return QImage(image.rgba.data(), image.width, image.height, int(image.stride()),
                  QImage::Format_RGBA8888)
        .convertToFormat(QImage::Format_ARGB32_Premultiplied);
}

QImage grabbed(QWidget& window) {
    return window.grab().toImage().convertToFormat(QImage::Format_ARGB32_Premultiplied);
}

// Labels and buttons whose text needs more room than their frame gives.
std::vector<std::string> textsThatDoNotFit(const QWidget& window) {
    std::vector<std::string> problems;
    for (const QLabel* label : window.findChildren<QLabel*>()) {
        if (label->text().isEmpty() || !label->isVisibleTo(&window)) {
            continue;
        }
        const QRect need = label->fontMetrics().boundingRect(QRect(0, 0, label->width(), 10000),
                                                             Qt::TextWordWrap, label->text());
        if (need.height() > label->height() || need.width() > label->width()) {
            problems.push_back("label \"" + label->text().toStdString() + "\" needs " +
                               std::to_string(need.width()) + "x" + std::to_string(need.height()));
        }
    }
    for (const QAbstractButton* button : window.findChildren<QAbstractButton*>()) {
        if (!button->isVisibleTo(&window)) {
            continue;
        }
        const int need = button->fontMetrics().horizontalAdvance(button->text());
        const int room = button->width() - (qobject_cast<const QLabel*>(button) ? 0 : 8);
        if (need > room) {
            problems.push_back("button \"" + button->text().toStdString() + "\" needs " +
                               std::to_string(need) + " of " + std::to_string(room));
        }
    }
    return problems;
}

void append(std::vector<std::string>& to, const std::vector<std::string>& from,
            const std::string& prefix = "") {
    for (const std::string& line : from) {
        to.push_back(prefix + line);
    }
}

GalleryShot save(const std::string& directory, const std::string& name, const QImage& image,
                 std::string description, std::vector<std::string> problems) {
    const std::string path = directory + "/" + name + ".png";
    if (!image.save(QString::fromStdString(path))) {
        problems.push_back("could not write " + path);
    }
    return {path, std::move(description), std::move(problems)};
}

std::vector<GalleryShot> signIn(const std::string& directory) {
    struct State {
        const char* name;
        const char* description;
        std::function<void(KVLogin&)> set;
    };
    const State states[] = {
        {"signin", "sign-in: a fresh window, placeholders in both fields", [](KVLogin&) {}},
        {"signin-create", "sign-in in create-account mode: no Forgot password?",
         [](KVLogin& login) { login.toggleTapped(); }},
        {"signin-busy", "sign-in busy: everything but Forgot password? disabled",
         [](KVLogin& login) {
             login.email()->setText("ana@example.com");
             login.password()->setText("correct horse");
             login.setBusy(true, "Signing in\u2026");
         }},
        {"signin-error", "sign-in after a refused password: the error line in red",
         [](KVLogin& login) {
             login.email()->setText("ana@example.com");
             login.password()->setText("wrong one");
             login.setBusy(false, "Email or password is incorrect.");
         }},
        {"signin-error-long", "sign-in with the longest error text: two lines fit",
         [](KVLogin& login) {
             login.email()->setText("ana@example.com");
             login.setBusy(false, "Could not reach korvane-service.example.org. Check your "
                                  "connection and try again.");
         }},
    };
    std::vector<GalleryShot> shots;
    for (const State& state : states) {
        auto login = KVLogin::create("http://127.0.0.1:1");
        state.set(*login);
        shots.push_back(save(directory, state.name, grabbed(*login->window()), state.description,
                             textsThatDoNotFit(*login->window())));
    }
    return shots;
}

std::vector<GalleryShot> settings(const std::string& directory, const QImage& game) {
    struct State {
        const char* name;
        const char* description;
        std::function<void(KVSettings&)> set;
    };
    const State states[] = {
        {"settings", "settings over Arena: account line, opacity 85%, shortcuts S and D",
         [](KVSettings& settings) {
             settings.setAccount("ana@example.com", 12);
             settings.setOpacityPercent(85, false);
             settings.setHotkeys("S", "D");
         }},
        {"settings-sealed", "settings in a sealed event: Build Sealed deck, click-through on",
         [](KVSettings& settings) {
             settings.setAccount("a.very.long.address@example-mail.com", 1234);
             settings.setOpacityPercent(50, true);
             settings.setHotkeys("K", "");
             settings.setSealed(true);
         }},
    };
    std::vector<GalleryShot> shots;
    for (const State& state : states) {
        auto card = KVSettings::create();
        state.set(*card);
        const QImage layer = grabbed(*card->window());
        std::vector<std::string> problems = textsThatDoNotFit(*card->window());
        append(problems, CheckLayer(layer, KVRoundedRegion({-1, -1, KVSettings::kWidth + 2,
                                                            KVSettings::kHeight + 2},
                                                           17)));
        // Over the game as the card shows over Arena: the scrim, then the card centred with its
        // top a third of the way down.
        QImage picture = game;
        QPainter painter(&picture);
        painter.fillRect(picture.rect(), QColor(6, 9, 14, 150));
        painter.drawImage(QPoint((kGameWidth - int(KVSettings::kWidth)) / 2, kGameHeight / 3),
                          layer);
        painter.end();
        shots.push_back(save(directory, state.name, picture, state.description, problems));
    }
    return shots;
}

// A sealed build of believable cards.
KVJson deckAnswer(int extraSpells) {
    KVJson spells = KVJson::array({
        {{"name", "Ambush Wolf"}, {"count", 2}},
        {{"name", "Llanowar Elves"}, {"count", 1}},
        {{"name", "Fire // Ice"}, {"count", 1}},
        {{"name", "Brightcap Badger"}, {"count", 1}},
        {{"name", "Kird Chieftain"}, {"count", 2}},
        {{"name", "Shock"}, {"count", 2}},
        {{"name", "Thornwood Falls"}, {"count", 1}},
        {{"name", "Hybrid Kithkin"}, {"count", 1}},
        {{"name", "Siege Dragon"}, {"count", 1}},
        {{"name", "Fling"}, {"count", 1}},
    });
    for (int i = 0; i < extraSpells; ++i) {
        spells.push_back({{"name", "Filler Creature " + std::to_string(i + 1)}, {"count", 1}});
    }
    return {{"colors", {"R", "G"}},
            {"spells", spells},
            {"lands", {{"R", 8}, {"G", 8}, {"W", 1}}},
            {"reasoning", "Red-green has the deepest creature base and the pool's two best "
                          "removal spells. The curve peaks at three with enough two-drops."},
            {"howToPlay", "Trade early, keep Shock for a flyer, and close with Siege Dragon."}};
}

// The set the sample build is drafted from, as the catalog loads it from its cache: costs for
// the pips and the order, set code and collector numbers for Arena's import text. The cache
// lives in a directory of its own, never the user's.
std::shared_ptr<KVCatalog> sampleCatalog(const QTemporaryDir& directory) {
    KVEnvironment environment = KVEnvironment::fromProcess();
    environment.xdgDataHome = directory.path().toStdString();
    KVEnvironment::replace(environment);
    std::vector<std::pair<std::string, std::string>> cards = {
        {"Ambush Wolf", "{2}{G}"},
        {"Llanowar Elves", "{G}"},
        {"Fire // Ice", "{1}{R} // {1}{U}"},
        {"Brightcap Badger", "{3}{G}"},
        {"Kird Chieftain", "{3}{R}"},
        {"Shock", "{R}"},
        {"Thornwood Falls", ""},
        {"Hybrid Kithkin", "{2/W}{G/W}"},
        {"Siege Dragon", "{X}{5}{R}{R}"},
        {"Fling", "{1}{R}"},
    };
    for (int i = 1; i <= 20; ++i) {
        cards.emplace_back("Filler Creature " + std::to_string(i),
                           "{" + std::to_string(i % 5 + 1) + "}{" + (i % 2 ? "R" : "G") + "}");
    }
    return KVCatalogFromPrintings("GAL", KVPrintingsOf(cards, "GAL", 90000));
}

std::vector<GalleryShot> deck(const std::string& directory, const QImage& game) {
    const QTemporaryDir cache;
    const auto previous = KVEnvironment::current();
    const std::shared_ptr<KVCatalog> catalog = sampleCatalog(cache);
    KVEnvironment::restore(previous);
    std::vector<std::string> pool;
    for (const KVJson& spell : deckAnswer(0)["spells"]) {
        pool.push_back(spell["name"]);
    }
    for (const char* cut : {"Giant Growth", "Giant Growth", "Plummet", "Wind Drake", "Cancel",
                            "Lava Axe", "Pacifism", "Ambush Wolf"}) {
        pool.push_back(cut);
    }
    struct State {
        const char* name;
        const char* description;
        std::function<void(KVDeckWindow&)> set;
    };
    const State states[] = {
        {"deck-building", "deck window while the service builds: no tabs",
         [](KVDeckWindow& window) { window.setBuilding(); }},
        {"deck-error", "deck window after a failed build: the service's message as the sub",
         [](KVDeckWindow& window) {
             window.setError("You are out of deck builds for today. They come back at "
                             "midnight UTC.");
         }},
        {"deck-decklist", "decklist: sorted by mana value, pips, lands, Copy for Arena",
         [&](KVDeckWindow& window) { window.setDeck(deckAnswer(0), pool, catalog.get()); }},
        {"deck-sideboard", "sideboard: the seven cards to take out, 2x where doubled",
         [&](KVDeckWindow& window) {
             window.setDeck(deckAnswer(0), pool, catalog.get());
             window.view.tab = "side";
             window.refit();
         }},
        {"deck-long", "a long list: 640 high, scrolled a little, the bar over the edge",
         [&](KVDeckWindow& window) {
             window.setDeck(deckAnswer(20), pool, catalog.get());
             window.scrollArea()->verticalScrollBar()->setValue(180);
         }},
    };
    std::vector<GalleryShot> shots;
    for (const State& state : states) {
        auto window = KVDeckWindow::create();
        state.set(*window);
        // The view as painted, its whole height, for the checks.
        KVDeckView& view = window->view;
        QImage content(int(KVDeckView::kWidth), int(std::ceil(view.contentHeight)),
                       QImage::Format_ARGB32_Premultiplied);
        content.fill(Qt::transparent);
        QPainter painter(&content);
        KVQtCanvas canvas(&painter);
        view.drawRect(canvas);
        painter.end();
        std::vector<std::string> problems;
        append(problems, canvas.overflows(), "text outside its box: ");
        append(problems, CheckLayer(content, KVRoundedRegion({-1, -1, KVDeckView::kWidth + 2,
                                                              view.contentHeight + 2},
                                                             15)));
        // What the window shows, over the game where the controller puts it.
        QImage picture = game.copy(0, 0, 40 + 360 + 40, std::min(kGameHeight, 60 + 640 + 20));
        QPainter over(&picture);
        over.drawImage(QPoint(40, 60), grabbed(*window->window()));
        over.end();
        shots.push_back(save(directory, state.name, picture, state.description, problems));
    }
    return shots;
}

} // namespace

std::vector<GalleryShot> WindowShots(const std::string& directory) {
    const QImage game = gamePicture();
    std::vector<GalleryShot> shots = signIn(directory);
    for (auto* part : {&settings, &deck}) {
        for (GalleryShot& shot : part(directory, game)) {
            shots.push_back(std::move(shot));
        }
    }
    return shots;
}
