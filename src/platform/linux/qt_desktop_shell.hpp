#pragma once

#include "platform/desktop_shell.hpp"

#include <QImage>

#include <memory>
#include <string>

// The shell services over Qt Widgets: QSystemTrayIcon, QMessageBox, a progress dialog, and the
// freedesktop notification service over D-Bus when no tray host runs. Needs a QApplication.
std::shared_ptr<KVDesktopShell> KVMakeQtDesktopShell();

// The tray's picture when the application has no icon: `title` drawn on a 36 × 36 square.
QImage KVDrawnTrayIcon(const std::string& title);
