#include "app/app_views.hpp"

#include "ui/deck_window.hpp"
#include "ui/login.hpp"
#include "ui/panel.hpp"
#include "ui/qt_canvas.hpp"
#include "ui/settings.hpp"
#include "ui/stamps.hpp"

#include <QGuiApplication>
#include <QPainter>
#include <QScreen>

#include <algorithm>

std::shared_ptr<KVPanel> KVAppViews::makePanel() {
    return KVPanel::create();
}

std::shared_ptr<KVStamps> KVAppViews::makeStamps() {
    return std::make_shared<KVStamps>();
}

std::shared_ptr<KVSettings> KVAppViews::makeSettings() {
    return KVSettings::create();
}

std::shared_ptr<KVLogin> KVAppViews::makeLogin(const std::string& base) {
    return KVLogin::create(base);
}

std::shared_ptr<KVDeckWindow> KVAppViews::makeDeckWindow() {
    return KVDeckWindow::create();
}

KVRect KVAppViews::mainScreenFrame() {
    const QScreen* screen = QGuiApplication::primaryScreen();
    if (!screen) {
        return {0, 0, 1280, 800};
    }
    const QRect area = screen->availableGeometry();
    const double primaryHeight = screen->geometry().height();
    return {double(area.x()), primaryHeight - area.y() - area.height(), double(area.width()),
            double(area.height())};
}

std::shared_ptr<KVPanel> KVHeadlessViews::makePanel() {
    panels.push_back(KVAppViews::makePanel());
    return panels.back();
}

std::shared_ptr<KVStamps> KVHeadlessViews::makeStamps() {
    stamps.push_back(KVAppViews::makeStamps());
    return stamps.back();
}

std::shared_ptr<KVSettings> KVHeadlessViews::makeSettings() {
    settings.push_back(KVAppViews::makeSettings());
    return settings.back();
}

std::shared_ptr<KVLogin> KVHeadlessViews::makeLogin(const std::string& base) {
    logins.push_back(KVAppViews::makeLogin(base));
    return logins.back();
}

std::shared_ptr<KVDeckWindow> KVHeadlessViews::makeDeckWindow() {
    deckWindows.push_back(KVAppViews::makeDeckWindow());
    return deckWindows.back();
}

QImage KVHeadlessViews::paintPanel() const {
    if (panels.empty()) {
        return {};
    }
    KVPanel& panel = *panels.back();
    const KVPoint size = panel.size();
    QImage image(std::max(1, int(size.x)), std::max(1, int(size.y)),
                 QImage::Format_ARGB32_Premultiplied);
    image.fill(Qt::transparent);
    QPainter painter(&image);
    KVQtCanvas canvas(&painter);
    panel.view.drawRect(canvas);
    return image;
}
