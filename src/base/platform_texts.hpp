#pragma once

#include <string>
#include <string_view>

// The texts and values that name the platform the program runs on, in one place. Everything
// else the program says is written where it is said.
namespace KVPlatformTexts {

inline constexpr std::string_view kVersion = "0.1.38";

inline constexpr std::string_view kTelemetryPlatform = "linux";
inline constexpr std::string_view kVersionCheckPlatform = "platform=linux";
inline constexpr std::string_view kSignInDevice = "Korvane Linux";
inline constexpr std::string_view kUserAgentNative = "Linux native";
inline constexpr std::string_view kOnThisComputer = "on this computer";
inline constexpr std::string_view kArenaExecutable = "its MTGA.exe"; // what KORVANE_ARENA_EXE names
inline constexpr std::string_view kModifierName = "Alt"; // the key the hot keys hold down
inline constexpr std::string_view kSettingsKeyChord = "Alt+S";
inline constexpr std::string_view kArenaSteamAppId = "2141910";

// The notification of the first hide to the tray, with a tray host and without one (then the
// hot key is the way back).
inline constexpr std::string_view kTrayHint =
    "You're still signed in. Click the tray icon to bring it back.";
inline constexpr std::string_view kTrayHintNoTray =
    "You're still signed in. Press Ctrl+Alt+H to bring it back.";

// The reports' words for this desktop: how the program was started, whether it can capture
// windows, and where each rectangle the capture test prints comes from.
inline constexpr std::string_view kLaunchedByDesktop =
    "launched : by the desktop session (menu or autostart)";
inline constexpr std::string_view kCaptureNotGranted =
    "NOT granted -- Korvane needs an X11 display with the Composite extension (XWayland on "
    "Wayland)";
inline constexpr std::string_view kNoDisplay = "display  : NONE -- DISPLAY is not set";
inline constexpr std::string_view kWindowListSource = "(window list)";
inline constexpr std::string_view kCaptureSource = "(capture)";
inline constexpr std::string_view kBadgeSource = "(screen, where badges are drawn)";

// The report's "launched" line: a program whose parent is init (pid 1) or a systemd process
// (a user manager starting autostart and menu entries) was started by the desktop session;
// any other parent is named, with its pid.
std::string launchedLine(long parentPid, const std::string& parentName);

// The distribution's name and version ("Debian GNU/Linux 12 (bookworm)") from an os-release
// file, for reports; "Linux" when the file says nothing usable.
std::string operatingSystemName(const std::string& osReleasePath = "/etc/os-release");

} // namespace KVPlatformTexts
