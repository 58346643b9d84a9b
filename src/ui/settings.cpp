#include "ui/settings.hpp"

#include "base/platform_texts.hpp"
#include "platform/window_stacking.hpp"
#include "ui/drawing.hpp"
#include "ui/form_controls.hpp"
#include "ui/overlay_window.hpp"
#include "ui/qt_canvas.hpp"
#include "ui/scrim_view.hpp"
#include "ui/view_widget.hpp"

#include <QCheckBox>
#include <QCloseEvent>
#include <QGuiApplication>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPainter>
#include <QPushButton>
#include <QScreen>
#include <QSignalBlocker>
#include <QSlider>
#include <QWindow>

#include <algorithm>
#include <cmath>
#include <utility>

// The card's window and content: the rounded dark card, and the keys the controls leave to it
// (Esc closes, Return presses Done). Closing it from the window manager closes the settings.
class KVSettingsCard : public QWidget {
public:
    std::weak_ptr<KVSettings> owner;

protected:
    void paintEvent(QPaintEvent*) override {
        QPainter painter(this);
        KVClearToTransparent(painter, rect());
        KVQtCanvas canvas(&painter);
        KVFillRounded(canvas, KVHex("#0b0f16"), KVHex("#d4af6a").withAlpha(0.35),
                      {0.5, 0.5, width() - 1.0, height() - 1.0}, 16, 1);
    }
    void keyPressEvent(QKeyEvent* event) override {
        auto settings = owner.lock();
        if (settings && event->key() == Qt::Key_Escape) {
            settings->closeSettings();
        } else if (settings && (event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter)) {
            settings->done()->click();
        } else {
            QWidget::keyPressEvent(event);
        }
    }
    void closeEvent(QCloseEvent* event) override {
        event->ignore(); // kept for the run: hidden, never destroyed
        if (auto settings = owner.lock()) {
            settings->closeSettings();
        }
    }
    bool event(QEvent* event) override {
        // By the time the card has the keyboard the window manager has framed it: the scrim
        // can go right under it.
        if (event->type() == QEvent::WindowActivate) {
            if (auto settings = owner.lock()) {
                settings->keepScrimUnderCard();
            }
        }
        return QWidget::event(event);
    }
};

namespace {

QFont regular(double size) {
    return KVFormFont(size, QFont::Normal);
}
QFont bold(double size) {
    return KVFormFont(size, QFont::Bold);
}

// The first letter A–Z of what a shortcut field holds, upper-cased, or "".
QString shortcutLetter(const QString& text) {
    const QString first = text.trimmed().toUpper().left(1);
    return first.size() == 1 && first[0] >= u'A' && first[0] <= u'Z' ? first : QString();
}

void writeBack(QLineEdit& field, const QString& text) {
    if (field.text() != text) {
        field.setText(text);
    }
}

QString percentText(long percent) {
    return QString::number(percent) + "%";
}

} // namespace

std::shared_ptr<KVSettings> KVSettings::create() {
    std::shared_ptr<KVSettings> settings(new KVSettings());
    settings->build();
    return settings;
}

KVSettings::~KVSettings() {
    shape_.reset();
    window_.reset();
    scrim_.reset();
}

void KVSettings::build() {
    const std::weak_ptr<KVSettings> weak = weak_from_this();
    // Runs an action of these settings if they are still there.
    const auto action = [weak](void (KVSettings::*method)()) {
        return [weak, method] {
            if (auto settings = weak.lock()) {
                (settings.get()->*method)();
            }
        };
    };

    window_ = std::make_unique<KVSettingsCard>();
    QWidget& card = *window_;
    window_->owner = weak;
    card.setWindowFlags(Qt::Tool | Qt::FramelessWindowHint | Qt::WindowStaysOnTopHint);
    card.setAttribute(Qt::WA_TranslucentBackground);
    card.setFocusPolicy(Qt::StrongFocus);
    card.setWindowTitle("Korvane Settings");
    card.setStyle(KVFusionStyle());
    card.setPalette(KVDarkPalette());
    card.resize(int(kWidth), int(kHeight));
    if (auto* app = qobject_cast<QGuiApplication*>(QCoreApplication::instance())) {
        app->setQuitOnLastWindowClosed(false);
    }

    const std::string modifier(KVPlatformTexts::kModifierName);
    KVFormLabel(&card, "Settings", bold(18), "#e8d5a3", Qt::AlignLeft, {24, 20, 200, 24});
    KVFormLabel(&card, "Esc to close", regular(11), "#6f7b8b", Qt::AlignLeft, {296, 24, 100, 16});
    account_ = KVFormLabel(&card, "", regular(13), "#c7d0dc", Qt::AlignLeft, {24, 60, 272, 20});
    account_->setWordWrap(false);
    signOut_ = new QPushButton("Sign out", &card);
    signOut_->setFont(regular(12));
    KVPlace(*signOut_, {306, 56, 90, 28});
    QObject::connect(signOut_, &QPushButton::clicked, action(&KVSettings::signOutTapped));

    KVFormLabel(&card, "APPEARANCE", bold(10), "#6f7b8b", Qt::AlignLeft, {24, 100, 372, 14});
    KVFormLabel(&card, "Overlay opacity", regular(13), "#c7d0dc", Qt::AlignLeft,
                {24, 122, 120, 20});
    opacity_ = new QSlider(Qt::Horizontal, &card);
    opacity_->setRange(50, 100);
    opacity_->setValue(100);
    KVPlace(*opacity_, {154, 122, 188, 20});
    QObject::connect(opacity_, &QSlider::valueChanged, action(&KVSettings::opacityChanged));
    opacityValue_ =
        KVFormLabel(&card, "100%", bold(13), "#e8d5a3", Qt::AlignRight, {348, 122, 48, 20});
    clickThrough_ = new QCheckBox("Click-through \u2014 let clicks pass to Arena", &card);
    clickThrough_->setFont(regular(13));
    KVPlace(*clickThrough_, {24, 152, 372, 20});
    QObject::connect(clickThrough_, &QCheckBox::clicked, action(&KVSettings::clickThroughChanged));
    KVFormLabel(&card,
                std::string(KVPlatformTexts::kSettingsKeyChord) +
                    " reopens these settings and turns click-through back off.",
                regular(11), "#6f7b8b", Qt::AlignLeft, {24, 176, 372, 18});

    KVFormLabel(&card, "SHORTCUTS", bold(10), "#6f7b8b", Qt::AlignLeft, {24, 210, 372, 14});
    const std::pair<const char*, QLineEdit**> rows[] = {{"Settings", &settingsKey_},
                                                        {"Draft data", &draftKey_}};
    double x0 = 24;
    for (const auto& [name, field] : rows) {
        KVFormLabel(&card, modifier + " +", regular(11), "#6f7b8b", Qt::AlignLeft,
                    {x0, 234, 58, 18});
        *field = new QLineEdit(&card);
        (*field)->setAlignment(Qt::AlignCenter);
        (*field)->setFont(bold(13));
        KVPlace(**field, {x0 + 60, 232, 30, 24});
        // Every edit counts, so closing the card never loses a typed letter.
        QObject::connect(*field, &QLineEdit::textEdited, action(&KVSettings::hotkeyChanged));
        KVFormLabel(&card, name, regular(11), "#6f7b8b", Qt::AlignLeft, {x0 + 96, 234, 80, 18});
        x0 += 180;
    }
    KVFormLabel(&card, "Shortcut changes apply next time you start Korvane.", regular(11),
                "#6f7b8b", Qt::AlignLeft, {24, 262, 372, 18});

    KVFormLabel(&card, "TOOLS", bold(10), "#6f7b8b", Qt::AlignLeft, {24, 296, 372, 14});
    deckButton_ = new QPushButton("Build Sealed deck", &card);
    deckButton_->setFont(regular(12));
    KVPlace(*deckButton_, {24, 318, 160, 28});
    deckButton_->hide();
    QObject::connect(deckButton_, &QPushButton::clicked, action(&KVSettings::buildTapped));
    done_ = new QPushButton("Done", &card);
    done_->setFont(regular(13));
    done_->setDefault(true);
    KVPlace(*done_, {306, 362, 90, 30});
    QObject::connect(done_, &QPushButton::clicked, action(&KVSettings::closeSettings));

    shape_ = std::make_unique<KVOverlayShape>(card, [] {
        return KVRoundedRegion({0, 0, kWidth, kHeight}, 16);
    });
    shape_->update();

    scrim_ = std::make_unique<KVScrimView>();
    KVMakeOverlayWindow(*scrim_, false);
    scrim_->resize(400, 300);
    scrim_->onClick = action(&KVSettings::closeSettings);

    KVHideFromCapture(card);
    KVHideFromCapture(*scrim_);
}

QWidget* KVSettings::window() const {
    return window_.get();
}

QWidget* KVSettings::scrim() const {
    return scrim_.get();
}

void KVSettings::setAccount(const std::string& email, const KVJson& credits) {
    const std::optional<std::string> amount = KVJsonText(credits);
    const QString text =
        QString::fromStdString(amount ? email + " \u00B7 " + *amount + " credits" : email);
    // One line: a long address gives up its middle, so the credits stay in view.
    account_->setText(account_->fontMetrics().elidedText(text, Qt::ElideMiddle, account_->width()));
    account_->setToolTip(text);
}

void KVSettings::setOpacityPercent(long percent, bool clickThrough) {
    const long clamped = std::clamp(percent, 50L, 100L);
    {
        const QSignalBlocker quiet(opacity_);
        opacity_->setValue(int(clamped));
    }
    opacityValue_->setText(percentText(clamped));
    clickThrough_->setChecked(clickThrough);
}

void KVSettings::setHotkeys(const std::string& settingsLetter, const std::string& draftLetter) {
    settingsKey_->setText(QString::fromStdString(settingsLetter).left(1).toUpper());
    draftKey_->setText(QString::fromStdString(draftLetter).left(1).toUpper());
}

void KVSettings::setSealed(bool sealed) {
    deckButton_->setVisible(sealed);
}

void KVSettings::showOver(const KVRect& arenaFrame, bool haveArena) {
    QWidget& card = *window_;
    if (haveArena) {
        KVSetWindowScreenFrame(*scrim_, arenaFrame);
        scrim_->show();
        KVFloatOverEverything(*scrim_);
        const double x = arenaFrame.x + std::max((arenaFrame.width - kWidth) / 2, 0.0);
        const double y = std::max(
            arenaFrame.y + arenaFrame.height - arenaFrame.height / 3 - kHeight, arenaFrame.y);
        KVSetWindowScreenFrame(card, {x, y, kWidth, kHeight});
    } else {
        scrim_->hide();
        const QScreen* screen = QGuiApplication::primaryScreen();
        const QRect area = screen ? screen->availableGeometry() : QRect(0, 0, 1280, 800);
        card.setGeometry(int(std::lround(area.x() + area.width() / 2.0 - kWidth / 2)),
                         int(std::lround(area.y() + area.height() / 2.0 - kHeight / 2)),
                         int(kWidth), int(kHeight));
    }
    card.show();
    KVHideFromCapture(card);
    card.raise();
    // The card takes the keyboard from the game, so Esc and the letter fields work.
    card.activateWindow();
    card.setFocus(Qt::ActiveWindowFocusReason);
    keepScrimUnderCard();
}

void KVSettings::keepScrimUnderCard() {
    if (scrim_->isVisible() && scrim_->windowHandle() != nullptr &&
        window_->windowHandle() != nullptr) {
        KVStackBelow(*scrim_->windowHandle(), *window_->windowHandle());
    }
}

void KVSettings::hide() {
    scrim_->hide();
    window_->hide();
}

bool KVSettings::isVisible() const {
    return window_->isVisible();
}

void KVSettings::closeSettings() {
    hide();
    if (onClose) {
        onClose();
    }
}

void KVSettings::signOutTapped() {
    if (onSignOut) {
        onSignOut();
    }
}

void KVSettings::buildTapped() {
    if (onBuildDeck) {
        onBuildDeck();
    }
}

void KVSettings::opacityChanged() {
    const int value = opacity_->value();
    opacityValue_->setText(percentText(value));
    if (onOpacity) {
        onOpacity(value);
    }
}

void KVSettings::clickThroughChanged() {
    if (onClickThrough) {
        onClickThrough(clickThrough_->isChecked());
    }
}

void KVSettings::hotkeyChanged() {
    const QString settingsLetter = shortcutLetter(settingsKey_->text());
    const QString draftLetter = shortcutLetter(draftKey_->text());
    writeBack(*settingsKey_, settingsLetter);
    writeBack(*draftKey_, draftLetter);
    if (!settingsLetter.isEmpty() && settingsLetter == draftLetter) {
        return; // the same letter twice: the fields show it, nothing is taken
    }
    if (onHotkeys) {
        onHotkeys(settingsLetter.toStdString(), draftLetter.toStdString());
    }
}
