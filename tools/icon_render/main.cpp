// korvane-icon-render: the application icon's PNG sizes, drawn from its SVG at build time, so
// the repository keeps one picture and every size stays in step with it.
//
//   korvane-icon-render SVG OUT_DIR SIZE...
//
// Writes OUT_DIR/<SIZE>x<SIZE>/apps/<name>.png for each size, <name> being the SVG's file name
// without ".svg". Exits 1, saying why, when the SVG cannot be read or a PNG cannot be written.
#include <QDir>
#include <QFileInfo>
#include <QImage>
#include <QPainter>
#include <QSaveFile>
#include <QString>
#include <QSvgRenderer>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

namespace {

int fail(const QString& message) {
    std::fprintf(stderr, "korvane-icon-render: %s\n", message.toLocal8Bit().constData());
    return 1;
}

// A whole number of pixels a desktop icon theme can hold.
bool readSize(const char* text, int* size) {
    char* end = nullptr;
    const long value = std::strtol(text, &end, 10);
    if (end == text || *end != '\0' || value < 1 || value > 1024) {
        return false;
    }
    *size = static_cast<int>(value);
    return true;
}

} // namespace

int main(int argc, char** argv) {
    if (argc < 4) {
        std::fprintf(stderr, "usage: korvane-icon-render SVG OUT_DIR SIZE...\n");
        return 2;
    }
    const QString svgPath = QString::fromLocal8Bit(argv[1]);
    const QString outDir = QString::fromLocal8Bit(argv[2]);
    std::vector<int> sizes;
    for (int i = 3; i < argc; ++i) {
        int size = 0;
        if (!readSize(argv[i], &size)) {
            return fail(
                QStringLiteral("not an icon size: %1").arg(QString::fromLocal8Bit(argv[i])));
        }
        sizes.push_back(size);
    }

    QSvgRenderer renderer(svgPath);
    if (!renderer.isValid()) {
        return fail(QStringLiteral("%1 is not a readable SVG picture").arg(svgPath));
    }
    const QString name = QFileInfo(svgPath).completeBaseName();
    for (const int size : sizes) {
        QImage image(size, size, QImage::Format_ARGB32_Premultiplied);
        image.fill(Qt::transparent);
        {
            QPainter painter(&image);
            painter.setRenderHint(QPainter::Antialiasing);
            painter.setRenderHint(QPainter::SmoothPixmapTransform);
            renderer.render(&painter, QRectF(0, 0, size, size));
        }
        const QString dir = QStringLiteral("%1/%2x%2/apps").arg(outDir).arg(size);
        if (!QDir().mkpath(dir)) {
            return fail(QStringLiteral("cannot create %1").arg(dir));
        }
        // Written whole or not at all: a build stopped halfway leaves no torn picture behind.
        QSaveFile file(QStringLiteral("%1/%2.png").arg(dir, name));
        if (!file.open(QIODevice::WriteOnly) || !image.save(&file, "PNG") || !file.commit()) {
            return fail(
                QStringLiteral("cannot write %1: %2").arg(file.fileName(), file.errorString()));
        }
    }
    return 0;
}
