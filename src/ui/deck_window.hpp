#pragma once

#include "base/json.hpp"
#include "platform/geometry.hpp"
#include "ui/deck_view.hpp"

#include <memory>
#include <string>
#include <vector>

class KVCanvas;
class KVCatalog;
class KVDeckWidget;
class KVOverlayShape;
class QScrollArea;
class QScrollBar;
class QWidget;

// The deck window: a floating panel over the game, 360 wide, that never takes focus and shows
// the deck build (building, failed, or the built deck with its tabs) in a scroll area up to 640
// high. Positions are screen coordinates (bottom-left origin, y up). Main thread only.
class KVDeckWindow : public std::enable_shared_from_this<KVDeckWindow> {
public:
    static constexpr double kMaxHeight = 640;
    static constexpr double kMinHeight = 120;

    // `metrics` measures the layout (a canvas that only measures); by default the Qt one.
    static std::shared_ptr<KVDeckWindow> create(std::shared_ptr<KVCanvas> metrics = nullptr);
    ~KVDeckWindow();
    KVDeckWindow(const KVDeckWindow&) = delete;
    KVDeckWindow& operator=(const KVDeckWindow&) = delete;

    KVDeckView view;

    // Measures the content, sizes the window to it (at most 640 high, keeping its top edge) and
    // scrolls back to the top.
    void refit();
    void setBuilding();
    void setError(const std::string& message);
    void setDeck(const KVJson& answer, const std::vector<std::string>& poolNames,
                 const KVCatalog* catalog);
    // Puts the window's top-left corner at `topLeft` and shows it without taking focus.
    void showAt(const KVPoint& topLeft);
    void hide();
    bool isVisible() const;

    // Moves the window by `delta` (screen coordinates), wherever that takes it.
    void dragBy(const KVPoint& delta);
    // Puts the build on the clipboard in Arena's import format.
    void copyForArena();

    QWidget* window() const;
    QScrollArea* scrollArea() const { return scroll_; }
    const KVRect& frame() const { return frame_; }

private:
    KVDeckWindow() = default;
    void setFrame(const KVRect& frame);
    void showContent(const std::string& title, const std::string& sub);

    std::shared_ptr<KVCanvas> metrics_;
    std::unique_ptr<QWidget> window_;
    QScrollArea* scroll_ = nullptr; // owned by window_
    QScrollBar* bar_ = nullptr;     // owned by window_: drawn over the content's right edge
    KVDeckWidget* widget_ = nullptr;
    std::unique_ptr<KVOverlayShape> shape_;
    KVRect frame_{200, 200, KVDeckView::kWidth, 400};
};
