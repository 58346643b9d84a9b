#pragma once

#include <QWidget>

#include <functional>

// A dimming layer over the game behind a card window: dark and translucent, a press anywhere
// calls onClick. Without a compositor it shows as an opaque dark layer, which is still a scrim.
class KVScrimView : public QWidget {
public:
    explicit KVScrimView(QWidget* parent = nullptr);

    std::function<void()> onClick;

protected:
    void paintEvent(QPaintEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
};
