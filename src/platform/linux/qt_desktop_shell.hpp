#pragma once

#include "platform/desktop_shell.hpp"

#include <memory>

// The shell services over Qt Widgets: QSystemTrayIcon, QMessageBox, a progress dialog, and the
// freedesktop notification service over D-Bus when no tray host runs. Needs a QApplication.
std::shared_ptr<KVDesktopShell> KVMakeQtDesktopShell();
