#include "ui/form_controls.hpp"

#include "ui/drawing.hpp"

#include <QApplication>
#include <QLabel>
#include <QStyle>
#include <QStyleFactory>

#include <cmath>

QStyle* KVFusionStyle() {
    static QStyle* const style = [] {
        QStyle* fusion = QStyleFactory::create("Fusion");
        if (fusion != nullptr) {
            fusion->setParent(qApp); // goes with the application
        }
        return fusion;
    }();
    return style;
}

QColor KVQtColor(std::string_view hex) {
    const KVColor color = KVHex(hex);
    return QColor::fromRgbF(float(color.red), float(color.green), float(color.blue),
                            float(color.alpha));
}

QPalette KVLightPalette() {
    QPalette palette;
    const QColor white(Qt::white);
    const QColor ink = KVQtColor("#111111");
    palette.setColor(QPalette::Window, white);
    palette.setColor(QPalette::WindowText, ink);
    palette.setColor(QPalette::Base, white);
    palette.setColor(QPalette::AlternateBase, KVQtColor("#f4f4f5"));
    palette.setColor(QPalette::Text, ink);
    palette.setColor(QPalette::PlaceholderText, KVQtColor("#a1a1aa"));
    palette.setColor(QPalette::Button, KVQtColor("#f4f4f5"));
    palette.setColor(QPalette::ButtonText, ink);
    palette.setColor(QPalette::Highlight, KVQtColor("#2563eb"));
    palette.setColor(QPalette::HighlightedText, white);
    palette.setColor(QPalette::Light, white);
    palette.setColor(QPalette::Midlight, KVQtColor("#e4e4e7"));
    palette.setColor(QPalette::Mid, KVQtColor("#d4d4d8"));
    palette.setColor(QPalette::Dark, KVQtColor("#a1a1aa"));
    palette.setColor(QPalette::Shadow, KVQtColor("#71717a"));
    palette.setColor(QPalette::Link, KVQtColor("#2563eb"));
    for (const auto role : {QPalette::WindowText, QPalette::Text, QPalette::ButtonText}) {
        palette.setColor(QPalette::Disabled, role, KVQtColor("#a1a1aa"));
    }
    palette.setColor(QPalette::Disabled, QPalette::Base, KVQtColor("#fafafa"));
    return palette;
}

QPalette KVDarkPalette() {
    QPalette palette;
    const QColor text = KVQtColor("#c7d0dc");
    palette.setColor(QPalette::Window, KVQtColor("#0b0f16"));
    palette.setColor(QPalette::WindowText, text);
    palette.setColor(QPalette::Base, KVQtColor("#151b25"));
    palette.setColor(QPalette::AlternateBase, KVQtColor("#1b2230"));
    palette.setColor(QPalette::Text, KVQtColor("#e8d5a3"));
    palette.setColor(QPalette::PlaceholderText, KVQtColor("#6f7b8b"));
    palette.setColor(QPalette::Button, KVQtColor("#1c2330"));
    palette.setColor(QPalette::ButtonText, KVQtColor("#e6ebf2"));
    palette.setColor(QPalette::Highlight, KVQtColor("#d4af6a"));
    palette.setColor(QPalette::HighlightedText, KVQtColor("#14181f"));
    palette.setColor(QPalette::Light, KVQtColor("#3a4351"));
    palette.setColor(QPalette::Midlight, KVQtColor("#2a3240"));
    palette.setColor(QPalette::Mid, KVQtColor("#222a36"));
    palette.setColor(QPalette::Dark, KVQtColor("#06080c"));
    palette.setColor(QPalette::Shadow, KVQtColor("#000000"));
    for (const auto role : {QPalette::WindowText, QPalette::Text, QPalette::ButtonText}) {
        palette.setColor(QPalette::Disabled, role, KVQtColor("#5b6674"));
    }
    return palette;
}

QFont KVFormFont(double pixelSize, QFont::Weight weight) {
    QFont font = QApplication::font();
    font.setPixelSize(int(std::lround(pixelSize)));
    font.setWeight(weight);
    return font;
}

void KVPlace(QWidget& widget, const KVRect& frame) {
    widget.setGeometry(int(std::lround(frame.x)), int(std::lround(frame.y)),
                       int(std::lround(frame.width)), int(std::lround(frame.height)));
}

QLabel* KVFormLabel(QWidget* parent, std::string_view text, const QFont& font, std::string_view hex,
                    Qt::Alignment alignment, const KVRect& frame) {
    auto* label = new QLabel(QString::fromUtf8(text.data(), qsizetype(text.size())), parent);
    label->setTextFormat(Qt::PlainText);
    label->setWordWrap(true);
    label->setTextInteractionFlags(Qt::NoTextInteraction);
    label->setFont(font);
    label->setAlignment(alignment | Qt::AlignVCenter);
    QPalette palette = label->palette();
    palette.setColor(QPalette::WindowText, KVQtColor(hex));
    label->setPalette(palette);
    KVPlace(*label, frame);
    return label;
}
