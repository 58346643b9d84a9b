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

KVQtCanvas::KVQtCanvas(QPainter* painter) : painter_(painter) {
    if (painter_ != nullptr) {
        painter_->setRenderHint(QPainter::Antialiasing, true);
        painter_->setRenderHint(QPainter::TextAntialiasing, true);
    }
}

KVQtCanvas::~KVQtCanvas() = default;

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

std::unique_ptr<QTextLayout> KVQtCanvas::layOut(std::string_view text, const KVTextAttrs& attrs,
                                                double width, double* height, double* widest) {
    const QFont font = qtFont(attrs.font);
    QString string = qtText(text);
    if (attrs.wrap) {
        string.replace(QLatin1Char('\n'), QChar::LineSeparator);
    } else {
        string.replace(QLatin1Char('\n'), QLatin1Char(' '));
        string = QFontMetricsF(font).elidedText(string, Qt::ElideRight, std::max(0.0, width));
    }
    auto layout = std::make_unique<QTextLayout>(string, font);
    QTextOption option(qtAlignment(attrs.alignment));
    option.setWrapMode(attrs.wrap ? QTextOption::WrapAtWordBoundaryOrAnywhere
                                  : QTextOption::NoWrap);
    layout->setTextOption(option);
    layout->setCacheEnabled(true);
    double y = 0;
    double wide = 0;
    layout->beginLayout();
    for (QTextLine line = layout->createLine(); line.isValid(); line = layout->createLine()) {
        line.setLineWidth(std::max(0.0, width));
        line.setPosition(QPointF(0, y));
        y += line.height();
        wide = std::max(wide, double(line.naturalTextWidth()));
    }
    layout->endLayout();
    *height = y;
    *widest = wide;
    return layout;
}

double KVQtCanvas::textWidth(std::string_view text, const KVFontSpec& font) {
    return QFontMetricsF(qtFont(font)).horizontalAdvance(qtText(text));
}

double KVQtCanvas::textHeight(std::string_view text, const KVTextAttrs& attrs, double width) {
    if (text.empty()) {
        return 0;
    }
    auto key = std::make_tuple(std::string(text), attrs.font.size, attrs.font.bold,
                               attrs.font.serif, attrs.wrap, width);
    const auto known = heights_.find(key);
    if (known != heights_.end()) {
        return known->second;
    }
    double height = 0;
    double widest = 0;
    layOut(text, attrs, width, &height, &widest);
    if (heights_.size() >= 1024) {
        heights_.clear(); // a long-lived measuring canvas keeps only recent texts
    }
    heights_.emplace(std::move(key), height);
    return height;
}

void KVQtCanvas::drawText(std::string_view text, const KVTextAttrs& attrs, const KVRect& box) {
    if (painter_ == nullptr || text.empty()) {
        return;
    }
    double height = 0;
    double widest = 0;
    const auto layout = layOut(text, attrs, box.width, &height, &widest);
    if (std::ceil(height - 1e-6) > box.height + 0.5 || widest > box.width + 0.5) {
        overflows_.push_back(
            std::string(text.substr(0, 60)) + ": needs " + std::to_string(int(std::ceil(widest))) +
            " x " + std::to_string(int(std::ceil(height))) + ", has " +
            std::to_string(int(box.width)) + " x " + std::to_string(int(box.height)));
    }
    painter_->setPen(qtColor(attrs.color));
    layout->draw(painter_, QPointF(box.x, box.y));
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
