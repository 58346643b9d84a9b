#include "ui/scrim_view.hpp"

#include <QMouseEvent>
#include <QPainter>

KVScrimView::KVScrimView(QWidget* parent) : QWidget(parent) {}

void KVScrimView::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    painter.setCompositionMode(QPainter::CompositionMode_Source);
    painter.fillRect(rect(), QColor(6, 9, 14, 150));
}

void KVScrimView::mousePressEvent(QMouseEvent* event) {
    event->accept();
    if (onClick) {
        onClick();
    }
}
