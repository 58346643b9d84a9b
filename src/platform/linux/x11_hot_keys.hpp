#pragma once

#include "platform/hot_key_service.hpp"

#include <memory>

// Hot keys grabbed on the GUI's own X connection, so that presses arrive among Qt's events and
// are picked out by a native event filter. Needs a running QGuiApplication on the xcb platform;
// null without one.
std::shared_ptr<KVHotKeyService> KVMakeX11HotKeys();
