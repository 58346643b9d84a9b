#include "platform/linux/qt_progress_window.hpp"

#include <QCloseEvent>
#include <QGuiApplication>
#include <QLabel>
#include <QProgressBar>
#include <QScreen>

#include <algorithm>

KVQtProgressWindow::KVQtProgressWindow()
    : QWidget(nullptr, Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint),
      label_(new QLabel(this)), bar_(new QProgressBar(this)) {
    setFixedSize(380, 90);
    // The text above the bar, both 340 wide with a 20 margin.
    label_->setGeometry(20, 20, 340, 20);
    bar_->setGeometry(20, 50, 340, 20);
    bar_->setTextVisible(false);
    bar_->setRange(0, 0);
    if (QScreen* screen = QGuiApplication::primaryScreen()) {
        move(screen->availableGeometry().center() - rect().center());
    }
}

void KVQtProgressWindow::present(const QString& title, const QString& label,
                                 std::optional<double> fraction) {
    setWindowTitle(title);
    label_->setText(label);
    if (fraction) {
        bar_->setRange(0, 100);
        bar_->setValue(int(std::clamp(*fraction, 0.0, 1.0) * 100 + 0.5));
    } else {
        // A range of nothing is Qt's busy bar, animated while shown.
        bar_->setRange(0, 0);
    }
    if (!isVisible()) {
        show();
        raise();
        activateWindow();
    }
}

void KVQtProgressWindow::closeEvent(QCloseEvent* event) {
    event->ignore();
}
