#include "ui/deck_window.hpp"

#include "ui/overlay_window.hpp"
#include "ui/qt_canvas.hpp"
#include "ui/view_widget.hpp"

#include <QClipboard>
#include <QGuiApplication>
#include <QMouseEvent>
#include <QPainter>
#include <QScrollArea>
#include <QScrollBar>

#include <algorithm>
#include <cmath>

// The scroll area's document.
class KVDeckWidget : public KVViewWidget<KVDeckView> {
public:
    using KVViewWidget::KVViewWidget;
};

namespace {

// A thin bar over the content's right edge, like an overlay scroller: a bar beside the content
// would narrow it and cut the rows' pips.
constexpr int kBarWidth = 6;
constexpr int kBarInset = 14;
constexpr const char* kBarStyle =
    "QScrollBar:vertical { background: transparent; width: 6px; margin: 0; }"
    "QScrollBar::handle:vertical { background: rgba(212, 175, 106, 110); border-radius: 3px;"
    " min-height: 24px; }"
    "QScrollBar::add-line:vertical, QScrollBar::sub-line:vertical { height: 0; }"
    "QScrollBar::add-page:vertical, QScrollBar::sub-page:vertical { background: transparent; }";

} // namespace

std::shared_ptr<KVDeckWindow> KVDeckWindow::create(std::shared_ptr<KVCanvas> metrics) {
    std::shared_ptr<KVDeckWindow> deck(new KVDeckWindow());
    deck->metrics_ = metrics ? std::move(metrics) : std::make_shared<KVQtCanvas>();
    deck->view.owner = deck;
    deck->view.content.title = "Building your deck\u2026";
    deck->window_ = std::make_unique<QWidget>();
    KVMakeOverlayWindow(*deck->window_, false);

    auto* scroll = new QScrollArea(deck->window_.get());
    scroll->setFrameShape(QFrame::NoFrame);
    scroll->setAttribute(Qt::WA_TranslucentBackground);
    scroll->viewport()->setAutoFillBackground(false);
    scroll->setStyleSheet("QScrollArea, QScrollArea > QWidget { background: transparent; }");
    scroll->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    scroll->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    scroll->setWidgetResizable(false);
    deck->widget_ = new KVDeckWidget(deck->view);
    deck->widget_->setAttribute(Qt::WA_TranslucentBackground);
    deck->widget_->resize(int(KVDeckView::kWidth), 400);
    scroll->setWidget(deck->widget_);
    deck->scroll_ = scroll;

    // The visible bar follows the area's own (hidden) one, shown only when there is more.
    auto* bar = new QScrollBar(Qt::Vertical, deck->window_.get());
    bar->setStyleSheet(kBarStyle);
    bar->hide();
    QScrollBar* inner = scroll->verticalScrollBar();
    QObject::connect(inner, &QScrollBar::rangeChanged, bar, [bar, inner](int min, int max) {
        bar->setRange(min, max);
        bar->setPageStep(inner->pageStep());
        bar->setVisible(max > min);
    });
    QObject::connect(inner, &QScrollBar::valueChanged, bar, &QScrollBar::setValue);
    QObject::connect(bar, &QScrollBar::valueChanged, inner, &QScrollBar::setValue);
    deck->bar_ = bar;

    // Content shorter than the window's least height leaves the rest unpainted: without a
    // compositor that part would show black, so the shape ends with the content.
    deck->shape_ = std::make_unique<KVOverlayShape>(*deck->window_, [raw = deck.get()] {
        const double height = std::min(raw->view.contentHeight, raw->frame_.height);
        return KVRoundedRegion({0, 0, KVDeckView::kWidth, height}, 14);
    });
    deck->setFrame(deck->frame_);
    KVHideFromCapture(*deck->window_);
    return deck;
}

KVDeckWindow::~KVDeckWindow() {
    shape_.reset();
    window_.reset();
}

QWidget* KVDeckWindow::window() const {
    return window_.get();
}

void KVDeckWindow::setFrame(const KVRect& frame) {
    frame_ = frame;
    KVSetWindowScreenFrame(*window_, frame);
    const QSize size = window_->size();
    scroll_->setGeometry(0, 0, size.width(), size.height());
    bar_->setGeometry(size.width() - kBarWidth - 3, kBarInset, kBarWidth,
                      std::max(0, size.height() - 2 * kBarInset));
    shape_->update();
}

void KVDeckWindow::refit() {
    view.layout(*metrics_, false);
    const double height = std::max(view.contentHeight, kMinHeight);
    widget_->resize(int(KVDeckView::kWidth), int(std::ceil(height)));
    const double windowHeight = std::min(height, kMaxHeight);
    // Screen coordinates grow upward: keeping the top edge moves the origin by the change.
    const double top = frame_.y + frame_.height;
    setFrame({frame_.x, top - windowHeight, KVDeckView::kWidth, windowHeight});
    scroll_->verticalScrollBar()->setValue(0);
    widget_->update();
}

void KVDeckWindow::showContent(const std::string& title, const std::string& sub) {
    view.content = KVDeckContent();
    view.content.title = title;
    view.content.sub = sub;
    view.copied = false;
    refit();
}

void KVDeckWindow::setBuilding() {
    showContent("Building your deck\u2026", "Korvane is reading your pool.");
}

void KVDeckWindow::setError(const std::string& message) {
    showContent("Couldn't build the deck", message);
}

void KVDeckWindow::setDeck(const KVJson& answer, const std::vector<std::string>& poolNames,
                           const KVCatalog* catalog) {
    view.content = KVDeckContentFrom(answer, poolNames, catalog);
    view.copied = false;
    view.tab = "deck";
    refit();
}

void KVDeckWindow::showAt(const KVPoint& topLeft) {
    setFrame({topLeft.x, topLeft.y - frame_.height, frame_.width, frame_.height});
    window_->show();
    KVHideFromCapture(*window_);
}

void KVDeckWindow::hide() {
    window_->hide();
}

bool KVDeckWindow::isVisible() const {
    return window_->isVisible();
}

void KVDeckWindow::dragBy(const KVPoint& delta) {
    setFrame({frame_.x + delta.x, frame_.y + delta.y, frame_.width, frame_.height});
}

void KVDeckWindow::copyForArena() {
    if (view.content.arenaText.empty()) {
        return;
    }
    QGuiApplication::clipboard()->setText(QString::fromStdString(view.content.arenaText));
    view.copied = true;
    widget_->update();
}
