#pragma once

#include <functional>
#include <optional>
#include <string>
#include <vector>

// The desktop's shell services: the tray item with its menu, notifications, modal alerts and a
// progress window. Main thread only.
class KVDesktopShell {
public:
    struct MenuItem {
        std::string title; // empty: a separator
        std::function<void()> action;
        std::string shortcut; // a letter, or empty
    };
    struct Tray {
        std::string toolTip;
        std::vector<std::string> iconFiles; // the application's icon in its sizes; empty: none
        std::string iconTitle;              // drawn instead when there is no icon
        std::vector<MenuItem> menu;
        std::function<void()> onActivated; // a click on the item itself
    };

    virtual ~KVDesktopShell() = default;

    // Whether a tray host runs: without one a tray item would be invisible.
    virtual bool trayAvailable() = 0;
    // Puts the item in the tray, replacing one shown before.
    virtual void showTray(Tray tray) = 0;
    virtual void removeTray() = 0;
    virtual bool trayShown() const = 0;

    // A passing message; through the tray item when there is one, else the notification service.
    virtual void notify(const std::string& title, const std::string& text) = 0;

    // A modal alert; returns the index of the button chosen (0 for the first), or -1 when the
    // alert was closed without one.
    virtual int alert(const std::string& title, const std::string& text,
                      const std::vector<std::string>& buttons) = 0;

    // A small window with a label and a bar: `fraction` from 0 to 1, none for a busy bar.
    virtual void showProgress(const std::string& title, const std::string& label,
                              std::optional<double> fraction) = 0;
    virtual void hideProgress() = 0;
};
