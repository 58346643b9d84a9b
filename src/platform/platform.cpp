#include "platform/platform.hpp"

#include "platform/linux/x11_platform.hpp"

#include <mutex>

namespace {

std::mutex& platformMutex() {
    static auto* mutex = new std::mutex();
    return *mutex;
}

std::shared_ptr<const KVPlatform>& platformSlot() {
    static auto* slot = new std::shared_ptr<const KVPlatform>();
    return *slot;
}

} // namespace

KVPlatform KVPlatform::x11() {
    KVPlatform platform;
    platform.windows = KVMakeX11WindowList();
    platform.screens = KVMakeX11Screens();
    platform.capture = KVMakeX11ScreenCapture();
    platform.launcher = KVMakePosixLauncher();
    platform.stacking = KVMakeX11WindowStacking();
    return platform;
}

std::shared_ptr<const KVPlatform> KVPlatform::current() {
    std::lock_guard lock(platformMutex());
    auto& slot = platformSlot();
    if (!slot) {
        slot = std::make_shared<const KVPlatform>(x11());
    }
    return slot;
}

std::shared_ptr<const KVPlatform> KVPlatform::replace(KVPlatform platform) {
    auto previous = current();
    std::lock_guard lock(platformMutex());
    platformSlot() = std::make_shared<const KVPlatform>(std::move(platform));
    return previous;
}

void KVPlatform::restore(std::shared_ptr<const KVPlatform> previous) {
    std::lock_guard lock(platformMutex());
    platformSlot() = std::move(previous);
}
