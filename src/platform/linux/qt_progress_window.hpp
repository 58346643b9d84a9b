#pragma once

#include <QWidget>

#include <optional>

class QLabel;
class QProgressBar;

// A small titled window of 380 × 90 with a line of text over a progress bar, centred on the
// screen when made. It has no close button and stays up when asked to close: what it shows can't
// be stopped from here, and the user would lose the only sign that it still runs.
class KVQtProgressWindow : public QWidget {
public:
    KVQtProgressWindow();

    // Shows the window in front with `label`; the bar is busy without a `fraction` (0 to 1).
    void present(const QString& title, const QString& label, std::optional<double> fraction);

    QLabel* label() const { return label_; }
    QProgressBar* bar() const { return bar_; }

protected:
    void closeEvent(QCloseEvent* event) override;

private:
    QLabel* label_;     // owned by the window
    QProgressBar* bar_; // owned by the window
};
