#include "ui/qt_canvas.hpp"

#include <QFontDatabase>
#include <QFontInfo>
#include <QFontMetricsF>
#include <QLinearGradient>
#include <QPainter>
#include <QPainterPath>
#include <QTextLayout>

#include <cmath>

namespace {

QColor qtColor(const KVColor& color) {
    return QColor::fromRgbF(float(color.red), float(color.green), float(color.blue),
                            float(color.alpha));
}

QRectF qtRect(const KVRect& rect) {
    return {rect.x, rect.y, rect.width, rect.height};
}

Qt::Alignment qtAlignment(int alignment) {
    switch (alignment) {
    case 1:
        return Qt::AlignHCenter;
    case 2:
        return Qt::AlignRight;
    default:
        return Qt::AlignLeft;
    }
}

QString qtText(std::string_view text) {
    // Invalid UTF-8 becomes replacement characters: shown, never a fault.
    return QString::fromUtf8(text.data(), qsizetype(text.size()));
}

int pixelSize(double size) {
    return std::max(1, int(std::lround(size)));
}

} // namespace

KVQtCanvas::KVQtCanvas(QPainter* painter) : painter_(nullptr) {
    setPainter(painter);
}

KVQtCanvas::~KVQtCanvas() = default;

void KVQtCanvas::setPainter(QPainter* painter) {
    painter_ = painter;
    if (painter_ != nullptr) {
        painter_->setRenderHint(QPainter::Antialiasing, true);
        painter_->setRenderHint(QPainter::TextAntialiasing, true);
    }
}

QFont KVQtCanvas::qtFont(const KVFontSpec& spec) {
    // Which face the title font is does not change while the program runs: asked once.
    static const bool haveGeorgia = [] {
        QFont georgia(QStringLiteral("Georgia"));
        georgia.setBold(true);
        return QFontInfo(georgia).family() == QStringLiteral("Georgia");
    }();
    QFont font = QFontDatabase::systemFont(QFontDatabase::GeneralFont);
    if (spec.serif && haveGeorgia) {
        font = QFont(QStringLiteral("Georgia"));
    }
    font.setPixelSize(pixelSize(spec.size));
    font.setBold(spec.bold || spec.serif);
    return font;
}

const KVQtCanvas::Laid& KVQtCanvas::layOut(std::string_view text, const KVTextAttrs& attrs,
                                           double width) {
    Key key(std::string(text), attrs.font.size, attrs.font.bold, attrs.font.serif, attrs.wrap,
            attrs.alignment, width);
    const auto known = laid_.find(key);
    if (known != laid_.end()) {
        return known->second;
    }
    if (laid_.size() >= 512) {
        laid_.clear(); // a long-lived canvas keeps only recent texts
    }
    const QFont font = qtFont(attrs.font);
    QString string = qtText(text);
    if (attrs.wrap) {
        string.replace(QLatin1Char('\n'), QChar::LineSeparator);
    } else {
        string.replace(QLatin1Char('\n'), QLatin1Char(' '));
        string = QFontMetricsF(font).elidedText(string, Qt::ElideRight, std::max(0.0, width));
    }
    Laid laid;
    laid.layout = std::make_unique<QTextLayout>(string, font);
    QTextOption option(qtAlignment(attrs.alignment));
    option.setWrapMode(attrs.wrap ? QTextOption::WrapAtWordBoundaryOrAnywhere
                                  : QTextOption::NoWrap);
    laid.layout->setTextOption(option);
    laid.layout->setCacheEnabled(true);
    laid.layout->beginLayout();
    for (QTextLine line = laid.layout->createLine(); line.isValid();
         line = laid.layout->createLine()) {
        line.setLineWidth(std::max(0.0, width));
        line.setPosition(QPointF(0, laid.height));
        laid.height += line.height();
        laid.widest = std::max(laid.widest, double(line.naturalTextWidth()));
    }
    laid.layout->endLayout();
    return laid_.emplace(std::move(key), std::move(laid)).first->second;
}

double KVQtCanvas::textWidth(std::string_view text, const KVFontSpec& font) {
    return QFontMetricsF(qtFont(font)).horizontalAdvance(qtText(text));
}

double KVQtCanvas::textHeight(std::string_view text, const KVTextAttrs& attrs, double width) {
    return text.empty() ? 0 : layOut(text, attrs, width).height;
}

void KVQtCanvas::drawText(std::string_view text, const KVTextAttrs& attrs, const KVRect& box) {
    if (painter_ == nullptr || text.empty()) {
        return;
    }
    const Laid& laid = layOut(text, attrs, box.width);
    if (std::ceil(laid.height - 1e-6) > box.height + 0.5 || laid.widest > box.width + 0.5) {
        overflows_.push_back(std::string(text.substr(0, 60)) + ": needs " +
                             std::to_string(int(std::ceil(laid.widest))) + " x " +
                             std::to_string(int(std::ceil(laid.height))) + ", has " +
                             std::to_string(int(box.width)) + " x " +
                             std::to_string(int(box.height)));
    }
    painter_->setPen(qtColor(attrs.color));
    laid.layout->draw(painter_, QPointF(box.x, box.y));
}

void KVQtCanvas::roundedRect(const KVRect& rect, double radius, std::optional<KVColor> fill,
                             std::optional<KVColor> stroke, double lineWidth) {
    if (painter_ == nullptr) {
        return;
    }
    QPainterPath path;
    path.addRoundedRect(qtRect(rect), radius, radius);
    if (fill) {
        painter_->fillPath(path, qtColor(*fill));
    }
    if (stroke) {
        painter_->strokePath(path, QPen(qtColor(*stroke), lineWidth));
    }
}

void KVQtCanvas::gradient(const KVRect& rect, const std::vector<KVColor>& colors) {
    if (painter_ == nullptr || colors.empty()) {
        return;
    }
    if (colors.size() == 1) {
        painter_->fillRect(qtRect(rect), qtColor(colors.front()));
        return;
    }
    QLinearGradient gradient(QPointF(rect.x, rect.y), QPointF(rect.x, rect.y + rect.height));
    for (size_t i = 0; i < colors.size(); ++i) {
        gradient.setColorAt(double(i) / double(colors.size() - 1), qtColor(colors[i]));
    }
    painter_->fillRect(qtRect(rect), gradient);
}
