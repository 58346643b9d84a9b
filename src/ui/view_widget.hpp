#pragma once

#include "ui/overlay_window.hpp"
#include "ui/qt_canvas.hpp"

#include <QMouseEvent>
#include <QPainter>
#include <QWidget>

// Starts an overlay paint from clear pixels: what the view leaves unpainted shows the game.
inline void KVClearToTransparent(QPainter& painter, const QRect& rect) {
    painter.setCompositionMode(QPainter::CompositionMode_Source);
    painter.fillRect(rect, Qt::transparent);
    painter.setCompositionMode(QPainter::CompositionMode_SourceOver);
}

// A widget that paints a canvas view and hands it the pointer: press and drag in screen
// coordinates (the view moves its window), release in the view's own.
template <typename View> class KVViewWidget : public QWidget {
public:
    explicit KVViewWidget(View& view) : view_(view) {}

protected:
    void paintEvent(QPaintEvent*) override {
        QPainter painter(this);
        KVClearToTransparent(painter, rect());
        canvas_.setPainter(&painter);
        view_.drawRect(canvas_);
        canvas_.setPainter(nullptr);
    }
    void mousePressEvent(QMouseEvent* event) override {
        const QPointF global = event->globalPosition();
        view_.mouseDown(KVScreenPointOf(global.x(), global.y()));
    }
    void mouseMoveEvent(QMouseEvent* event) override {
        const QPointF global = event->globalPosition();
        view_.mouseDragged(KVScreenPointOf(global.x(), global.y()));
    }
    void mouseReleaseEvent(QMouseEvent* event) override {
        view_.mouseUp({event->position().x(), event->position().y()});
    }

private:
    View& view_;
    KVQtCanvas canvas_;
};
