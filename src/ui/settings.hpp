#pragma once

#include "base/json.hpp"
#include "platform/geometry.hpp"

#include <functional>
#include <memory>
#include <string>

class KVOverlayShape;
class KVScrimView;
class KVSettingsCard;
class QCheckBox;
class QLabel;
class QLineEdit;
class QPushButton;
class QSlider;
class QWidget;

// The settings: a dark card over the game (opacity, click-through, the two hot-key letters,
// sign-out and, in sealed events, the deck build) with a dimming scrim over Arena behind it.
// The card is an ordinary focusable window that stays on top, since it needs the keyboard (Esc,
// the letter fields); the scrim is an overlay window that never takes focus, and a press on it
// closes the card. Every change is reported through the callbacks, each only when set; the
// controller applies and stores it. Main thread only.
class KVSettings : public std::enable_shared_from_this<KVSettings> {
public:
    static constexpr double kWidth = 420;
    static constexpr double kHeight = 470;

    static std::shared_ptr<KVSettings> create();
    ~KVSettings();
    KVSettings(const KVSettings&) = delete;
    KVSettings& operator=(const KVSettings&) = delete;

    std::function<void()> onClose;
    std::function<void()> onSignOut;
    std::function<void(int percent)> onOpacity;
    std::function<void(bool on)> onClickThrough;
    std::function<void(const std::string& settingsLetter, const std::string& draftLetter)>
        onHotkeys;
    std::function<void()> onBuildDeck;

    // "<email> · <credits> credits" when the credits are a number or text, else the e-mail.
    void setAccount(const std::string& email, const KVJson& credits);
    // The slider shows `percent` within 50…100; reports nothing.
    void setOpacityPercent(long percent, bool clickThrough);
    void setHotkeys(const std::string& settingsLetter, const std::string& draftLetter);
    // The "Build Sealed deck" button shows only in sealed events.
    void setSealed(bool sealed);
    // Shows the card over Arena's frame (screen coordinates), centred, its top a third of the
    // way down, with the scrim over Arena; without Arena, centred on the primary screen with no
    // scrim. The card then takes the keyboard.
    void showOver(const KVRect& arenaFrame, bool haveArena);
    void hide();
    bool isVisible() const;
    // Restacks the scrim right under the card (the card's window manager frame may come late);
    // the controller calls it again whenever it raises the scrim.
    void keepScrimUnderCard();

    // The actions of the card's controls.
    void closeSettings();
    void signOutTapped();
    void buildTapped();
    void opacityChanged();
    void clickThroughChanged();
    void hotkeyChanged();

    QWidget* window() const;
    QWidget* scrim() const;
    QLabel* account() const { return account_; }
    QLabel* opacityValue() const { return opacityValue_; }
    QSlider* opacity() const { return opacity_; }
    QCheckBox* clickThrough() const { return clickThrough_; }
    QPushButton* deckButton() const { return deckButton_; }
    QPushButton* signOut() const { return signOut_; }
    QPushButton* done() const { return done_; }
    QLineEdit* settingsKey() const { return settingsKey_; }
    QLineEdit* draftKey() const { return draftKey_; }

private:
    KVSettings() = default;
    void build();

    std::unique_ptr<KVSettingsCard> window_;
    std::unique_ptr<KVScrimView> scrim_;
    std::unique_ptr<KVOverlayShape> shape_;
    QLabel* account_ = nullptr;
    QLabel* opacityValue_ = nullptr;
    QSlider* opacity_ = nullptr;
    QCheckBox* clickThrough_ = nullptr;
    QPushButton* deckButton_ = nullptr;
    QPushButton* signOut_ = nullptr;
    QPushButton* done_ = nullptr;
    QLineEdit* settingsKey_ = nullptr;
    QLineEdit* draftKey_ = nullptr;
};
