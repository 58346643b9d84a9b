#pragma once

#include "platform/geometry.hpp"

#include <QImage>

#include <memory>
#include <string>
#include <vector>

class KVDeckWindow;
class KVLogin;
class KVPanel;
class KVSettings;
class KVStamps;

// Makes the controller's windows. The GUI shows the Qt windows; a headless run (tests, replays)
// makes the same windows on Qt's offscreen platform, keeps them for inspection and paints the
// panel into an image.
class KVAppViews {
public:
    virtual ~KVAppViews() = default;

    virtual std::shared_ptr<KVPanel> makePanel();
    virtual std::shared_ptr<KVStamps> makeStamps();
    virtual std::shared_ptr<KVSettings> makeSettings();
    virtual std::shared_ptr<KVLogin> makeLogin(const std::string& base);
    virtual std::shared_ptr<KVDeckWindow> makeDeckWindow();

    // The primary monitor's area for windows, in screen coordinates (bottom-left origin, y
    // up): where the deck window goes when the Arena window is not known.
    virtual KVRect mainScreenFrame();
};

class KVHeadlessViews : public KVAppViews {
public:
    std::shared_ptr<KVPanel> makePanel() override;
    std::shared_ptr<KVStamps> makeStamps() override;
    std::shared_ptr<KVSettings> makeSettings() override;
    std::shared_ptr<KVLogin> makeLogin(const std::string& base) override;
    std::shared_ptr<KVDeckWindow> makeDeckWindow() override;
    KVRect mainScreenFrame() override { return screen; }

    KVRect screen{0, 0, 1920, 1080};

    // Everything made, in order; the last is the one in use.
    std::vector<std::shared_ptr<KVPanel>> panels;
    std::vector<std::shared_ptr<KVStamps>> stamps;
    std::vector<std::shared_ptr<KVSettings>> settings;
    std::vector<std::shared_ptr<KVLogin>> logins;
    std::vector<std::shared_ptr<KVDeckWindow>> deckWindows;

    // The panel as it would be drawn now, at its own size; a null image without a panel.
    QImage paintPanel() const;
};
