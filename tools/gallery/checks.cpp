#include "checks.hpp"

#include <cstdio>

namespace {

std::string at(const char* what, int x, int y, QRgb pixel) {
    char text[160];
    std::snprintf(text, sizeof text, "%s at (%d, %d): rgba(%d, %d, %d, %d)", what, x, y,
                  qRed(pixel), qGreen(pixel), qBlue(pixel), qAlpha(pixel));
    return text;
}

bool pureBlack(QRgb pixel) {
    return qRed(pixel) == 0 && qGreen(pixel) == 0 && qBlue(pixel) == 0;
}

// Reports the first few and the count of the rest.
struct Complaints {
    std::vector<std::string> lines;
    int more = 0;
    void add(std::string line) {
        if (lines.size() < 5) {
            lines.push_back(std::move(line));
        } else {
            ++more;
        }
    }
    std::vector<std::string> done() {
        if (more > 0) {
            lines.push_back("and " + std::to_string(more) + " more pixels");
        }
        return std::move(lines);
    }
};

} // namespace

std::vector<std::string> CheckLayer(const QImage& layer, const QRegion& drawn) {
    Complaints complaints;
    const QImage image = layer.convertToFormat(QImage::Format_ARGB32);
    for (int y = 0; y < image.height(); ++y) {
        const auto* row = reinterpret_cast<const QRgb*>(image.constScanLine(y));
        for (int x = 0; x < image.width(); ++x) {
            const QRgb pixel = row[x];
            if (qAlpha(pixel) == 255 && pureBlack(pixel)) {
                complaints.add(at("opaque black", x, y, pixel));
            } else if (qAlpha(pixel) != 0 && !drawn.contains(QPoint(x, y))) {
                complaints.add(at("paint outside the shapes", x, y, pixel));
            }
        }
    }
    return complaints.done();
}

std::vector<std::string> CheckScreenshot(const QImage& shot, const QImage& game,
                                         const QRegion& drawn, const QRegion& edges) {
    Complaints complaints;
    const QImage a = shot.convertToFormat(QImage::Format_RGB32);
    const QImage b = game.convertToFormat(QImage::Format_RGB32);
    if (a.size() != b.size()) {
        return {"the screenshot is not the game's size"};
    }
    for (int y = 0; y < a.height(); ++y) {
        const auto* shotRow = reinterpret_cast<const QRgb*>(a.constScanLine(y));
        const auto* gameRow = reinterpret_cast<const QRgb*>(b.constScanLine(y));
        for (int x = 0; x < a.width(); ++x) {
            const QRgb mine = shotRow[x] & 0xFFFFFF;
            const QRgb theirs = gameRow[x] & 0xFFFFFF;
            if (drawn.contains(QPoint(x, y)) || edges.contains(QPoint(x, y))) {
                if (pureBlack(mine) && !pureBlack(theirs)) {
                    complaints.add(at("black inside a shape", x, y, shotRow[x]));
                }
            } else if (mine != theirs) {
                complaints.add(at("changed outside the shapes", x, y, shotRow[x]));
            }
        }
    }
    return complaints.done();
}
