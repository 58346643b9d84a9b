#include "platform/screens.hpp"

double KVScreens::primaryHeight() {
    const std::vector<KVMonitor> all = monitors();
    return all.empty() ? 0 : all.front().frame.height;
}

KVRect KVScreenRectToQt(const KVRect& screenRect, double primaryHeight, const KVQtScreen& screen) {
    const double ratio = screen.devicePixelRatio > 0 ? screen.devicePixelRatio : 1;
    const double desktopY = primaryHeight - (screenRect.y + screenRect.height);
    return {screen.x + (screenRect.x - screen.x) / ratio, screen.y + (desktopY - screen.y) / ratio,
            screenRect.width / ratio, screenRect.height / ratio};
}

KVRect KVQtRectToScreen(const KVRect& qtRect, double primaryHeight, const KVQtScreen& screen) {
    const double ratio = screen.devicePixelRatio > 0 ? screen.devicePixelRatio : 1;
    const double width = qtRect.width * ratio;
    const double height = qtRect.height * ratio;
    const double desktopY = screen.y + (qtRect.y - screen.y) * ratio;
    return {screen.x + (qtRect.x - screen.x) * ratio, primaryHeight - (desktopY + height), width,
            height};
}
