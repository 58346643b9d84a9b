#pragma once

#include <QImage>
#include <QRegion>

#include <string>
#include <vector>

// What the gallery checks in its own pictures. Each check returns its complaints, one line
// each; none when the picture is right.

// Pixels outside `drawn` must be fully transparent, and no pixel may be opaque pure black: a
// translucent window shows nothing outside its shapes and never paints black over the game.
std::vector<std::string> CheckLayer(const QImage& layer, const QRegion& drawn);

// A screenshot of the live windows over a picture of the game: outside `edges` (the drawn
// shapes with their antialiased edges) every pixel is the game's own, and inside them no pixel
// is pure black where the game's is not.
std::vector<std::string> CheckScreenshot(const QImage& shot, const QImage& game,
                                         const QRegion& drawn, const QRegion& edges);
