#pragma once

#include "platform/geometry.hpp"

#include <QFont>
#include <QPalette>

#include <string_view>

class QLabel;
class QStyle;
class QWidget;

// What the sign-in and settings windows build their controls with: one Fusion style, so the
// controls look alike on every desktop, the two palettes, and labels at absolute frames.

// The Fusion style, made once and kept for the run.
QStyle* KVFusionStyle();
// A light window whatever the desktop's theme (the sign-in window).
QPalette KVLightPalette();
// The dark card over the game (the settings card).
QPalette KVDarkPalette();

// The system sans-serif face at `pixelSize`, of `weight`.
QFont KVFormFont(double pixelSize, QFont::Weight weight = QFont::Normal);
QColor KVQtColor(std::string_view hex);

// Gives `widget` the frame (x, y, width, height) in its parent, from the top left.
void KVPlace(QWidget& widget, const KVRect& frame);

// A non-editable label wrapping at words, in `font` and the colour `hex`.
QLabel* KVFormLabel(QWidget* parent, std::string_view text, const QFont& font, std::string_view hex,
                    Qt::Alignment alignment, const KVRect& frame);
