#include "platform/linux/qt_desktop_shell.hpp"

#include "platform/linux/qt_progress_window.hpp"

#include <QAction>
#include <QApplication>
#include <QDBusConnection>
#include <QDBusMessage>
#include <QIcon>
#include <QMenu>
#include <QMessageBox>
#include <QPainter>
#include <QPainterPath>
#include <QPixmap>
#include <QPushButton>
#include <QSystemTrayIcon>
#include <QVariantMap>

namespace {

QString qs(const std::string& text) {
    return QString::fromUtf8(text.data(), qsizetype(text.size()));
}

// A tray icon needs a picture: without the application's icon, the title drawn on a square.
QIcon trayIcon(const KVDesktopShell::Tray& tray) {
    QIcon icon;
    for (const auto& file : tray.iconFiles) {
        icon.addFile(qs(file));
    }
    if (!icon.isNull()) {
        return icon;
    }
    return QIcon(QPixmap::fromImage(KVDrawnTrayIcon(tray.iconTitle)));
}

class QtDesktopShell final : public KVDesktopShell {
public:
    bool trayAvailable() override { return QSystemTrayIcon::isSystemTrayAvailable(); }

    void showTray(Tray tray) override {
        removeTray();
        menu_ = std::make_unique<QMenu>();
        for (auto& item : tray.menu) {
            if (item.title.empty()) {
                menu_->addSeparator();
                continue;
            }
            QAction* action = menu_->addAction(qs(item.title));
            if (!item.shortcut.empty()) {
                action->setShortcut(QKeySequence(QStringLiteral("Ctrl+") + qs(item.shortcut)));
            }
            QObject::connect(action, &QAction::triggered, [work = std::move(item.action)] {
                if (work)
                    work();
            });
        }
        icon_ = std::make_unique<QSystemTrayIcon>(trayIcon(tray));
        icon_->setToolTip(qs(tray.toolTip));
        icon_->setContextMenu(menu_.get());
        QObject::connect(icon_.get(), &QSystemTrayIcon::activated,
                         [activated = std::move(tray.onActivated)](auto reason) {
                             if (reason == QSystemTrayIcon::Trigger && activated) {
                                 activated();
                             }
                         });
        icon_->show();
    }

    void removeTray() override {
        if (icon_) {
            icon_->hide();
        }
        icon_.reset();
        menu_.reset();
    }

    bool trayShown() const override { return icon_ != nullptr; }

    void notify(const std::string& title, const std::string& text) override {
        if (icon_ && trayAvailable()) {
            icon_->showMessage(qs(title), qs(text));
            return;
        }
        // No tray host: the desktop's notification service, when the session bus has one.
        QDBusMessage call = QDBusMessage::createMethodCall(
            QStringLiteral("org.freedesktop.Notifications"),
            QStringLiteral("/org/freedesktop/Notifications"),
            QStringLiteral("org.freedesktop.Notifications"), QStringLiteral("Notify"));
        call << QStringLiteral("Korvane") << 0u << QString() << qs(title) << qs(text)
             << QStringList() << QVariantMap() << -1;
        QDBusConnection::sessionBus().call(call, QDBus::NoBlock);
    }

    int alert(const std::string& title, const std::string& text,
              const std::vector<std::string>& buttons) override {
        QMessageBox box;
        box.setWindowTitle(qs(title));
        box.setText(qs(title));
        box.setInformativeText(qs(text));
        std::vector<QAbstractButton*> added;
        for (const auto& button : buttons) {
            added.push_back(box.addButton(qs(button), added.empty() ? QMessageBox::AcceptRole
                                                                    : QMessageBox::RejectRole));
        }
        box.exec();
        for (size_t i = 0; i < added.size(); ++i) {
            if (box.clickedButton() == added[i]) {
                return int(i);
            }
        }
        return -1;
    }

    void showProgress(const std::string& title, const std::string& label,
                      std::optional<double> fraction) override {
        if (!progress_) {
            progress_ = std::make_unique<KVQtProgressWindow>();
        }
        progress_->present(qs(title), qs(label), fraction);
    }

    void hideProgress() override {
        if (progress_) {
            progress_->hide();
        }
    }

private:
    std::unique_ptr<QMenu> menu_;
    std::unique_ptr<QSystemTrayIcon> icon_;
    std::unique_ptr<KVQtProgressWindow> progress_;
};

} // namespace

QImage KVDrawnTrayIcon(const std::string& title) {
    QImage image(36, 36, QImage::Format_ARGB32_Premultiplied);
    image.fill(Qt::transparent);
    QPainter painter(&image);
    painter.setRenderHint(QPainter::Antialiasing);
    QFont font = painter.font();
    font.setPixelSize(30);
    QPainterPath glyph;
    glyph.addText(0, 0, font, qs(title));
    glyph.translate(QRectF(image.rect()).center() - glyph.boundingRect().center());
    // Trays are light on some desktops and dark on others: a light glyph with a dark rim reads
    // on both.
    painter.setPen(QPen(QColor(32, 32, 32), 3));
    painter.setBrush(Qt::white);
    painter.drawPath(glyph);
    return image;
}

std::shared_ptr<KVDesktopShell> KVMakeQtDesktopShell() {
    return std::make_shared<QtDesktopShell>();
}
