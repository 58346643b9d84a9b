#pragma once

#include "platform/launcher.hpp"
#include "platform/screen_capture.hpp"
#include "platform/screens.hpp"
#include "platform/window_list.hpp"
#include "platform/window_stacking.hpp"

#include <memory>

// The X11 services. Each opens its own connection to $DISPLAY at first use.
std::shared_ptr<KVWindowList> KVMakeX11WindowList();
std::shared_ptr<KVScreens> KVMakeX11Screens();
std::shared_ptr<KVScreenCapture> KVMakeX11ScreenCapture();
std::shared_ptr<KVLauncher> KVMakePosixLauncher();
std::shared_ptr<KVWindowStacking> KVMakeX11WindowStacking();
