// gallery: PNG pictures of every state of the overlay, checked as they are written.
//
//   gallery [OUTPUT_DIR] [--no-live]
//
// Offscreen: the panel in every state and tab, and the stamps (pending and graded) over
// rendered draft screens at 1280 × 720 and 3840 × 2160; the sign-in, settings and deck windows.
// Live (unless --no-live): the windows over fake-arena on a private Xvfb, without and with a
// compositing manager. Each picture is checked: no paint outside the drawn shapes, no opaque black,
// every text inside its box. Prints one line per picture; exits 1 when a check failed.
#include "checks.hpp"
#include "draft_screen/arena_screen.hpp"
#include "live.hpp"
#include "overlay_samples/overlay_samples.hpp"
#include "ui/overlay_window.hpp"
#include "ui/panel.hpp"
#include "ui/panel_view.hpp"
#include "ui/qt_canvas.hpp"
#include "ui/stamps.hpp"
#include "windows.hpp"

#include <QApplication>
#include <QDir>
#include <QImage>
#include <QPainter>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

namespace {

int failures = 0;

// The panel's outline with its antialiased edge pixels.
QRegion PanelWithEdges(double height) {
    return KVRoundedRegion({-1, -1, KVPanelView::kWidth + 2, height + 2}, 15);
}

void report(const QString& file, const std::string& what,
            const std::vector<std::string>& problems) {
    std::printf("%-40s %s\n", qPrintable(QFileInfo(file).fileName()), what.c_str());
    for (const std::string& problem : problems) {
        std::printf("    FAIL %s\n", problem.c_str());
    }
    failures += problems.empty() ? 0 : 1;
}

QImage toQImage(const KVImage& image) {
    QImage copy(image.rgba.data(), image.width, image.height, int(image.stride()),
                QImage::Format_RGBA8888);
    return copy.convertToFormat(QImage::Format_ARGB32_Premultiplied);
}

std::vector<std::string> saved(const QImage& image, const QString& path,
                               std::vector<std::string> problems) {
    if (!image.save(path)) {
        problems.push_back("could not write " + path.toStdString());
    }
    return problems;
}

void panels(const QDir& out) {
    for (const KVPanelSample& sample : KVPanelSamples()) {
        KVPanelView view;
        view.session = sample.session;
        view.inDraft = sample.inDraft;
        view.view = sample.view;
        view.arenaRunning = sample.arenaRunning;
        view.arenaInstalled = sample.arenaInstalled;
        view.minimized = sample.minimized;
        KVQtCanvas metrics;
        view.measure(metrics);
        QImage image(int(KVPanelView::kWidth), int(std::ceil(view.contentHeight)),
                     QImage::Format_ARGB32_Premultiplied);
        image.fill(Qt::transparent);
        QPainter painter(&image);
        KVQtCanvas canvas(&painter);
        view.drawRect(canvas);
        painter.end();
        std::vector<std::string> problems = canvas.overflows();
        for (std::string& problem : problems) {
            problem.insert(0, "text outside its box: ");
        }
        for (std::string& problem : CheckLayer(image, PanelWithEdges(view.contentHeight))) {
            problems.push_back(problem);
        }
        const QString path = out.filePath(QString::fromStdString("panel-" + sample.name + ".png"));
        report(path, sample.description, saved(image, path, problems));
    }
}

void stamps(const QDir& out) {
    for (const auto& [width, height] : {std::pair{1280, 720}, {3840, 2160}}) {
        const KVArenaScreenSpec spec = KVSampleScreenSpec(width, height);
        const KVArenaScreen screen = KVRenderArenaScreen(spec);
        const QImage game = toQImage(screen.image);
        for (const bool pending : {true, false}) {
            KVStampsView view;
            view.width = width;
            view.height = height;
            view.advice = KVSampleAdvice(!pending);
            view.slots = screen.slots;
            view.pending = pending;
            view.tick = 1;
            if (!pending) {
                view.bestNames = {view.advice[0].card->name};
                view.nextName = "stormcaller's reach"; // as the service may spell it
            }
            QImage layer(width, height, QImage::Format_ARGB32_Premultiplied);
            layer.fill(Qt::transparent);
            QPainter painter(&layer);
            KVQtCanvas canvas(&painter);
            view.drawRect(canvas);
            painter.end();
            std::vector<std::string> problems = canvas.overflows();
            for (const std::string& problem : CheckLayer(layer, KVStampsRegion(view, false))) {
                problems.push_back(problem);
            }
            QImage picture = game;
            QPainter over(&picture);
            over.drawImage(0, 0, layer);
            over.end();
            const QString path = out.filePath(QString("stamps-%1-%2x%3.png")
                                                  .arg(pending ? "pending" : "graded")
                                                  .arg(width)
                                                  .arg(height));
            report(path,
                   pending ? "stamps while grading: dots in the middle place, no rings"
                           : "stamps graded: TAKE on the best card, NEXT on the runner-up",
                   saved(picture, path, problems));
        }
    }
}

} // namespace

int main(int argc, char** argv) {
    QString output = "gallery";
    bool live = true;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        if (arg == "--no-live") {
            live = false;
        } else {
            output = QString::fromLocal8Bit(argv[i]);
        }
    }
    setenv("QT_QPA_PLATFORM", "offscreen", 1);
    QApplication app(argc, argv);
    QDir out(output);
    if (!out.mkpath(".")) {
        std::fprintf(stderr, "gallery: cannot make %s\n", qPrintable(output));
        return 2;
    }
    panels(out);
    stamps(out);
    for (const GalleryShot& shot : WindowShots(out.absolutePath().toStdString())) {
        report(QString::fromStdString(shot.path), shot.description, shot.problems);
    }
    if (live) {
        for (const GalleryShot& shot : LiveShots(out.absolutePath().toStdString())) {
            report(QString::fromStdString(shot.path), shot.description, shot.problems);
        }
    }
    std::printf("%s\n", failures == 0 ? "every picture passed its checks"
                                      : (std::to_string(failures) + " pictures failed").c_str());
    return failures == 0 ? 0 : 1;
}
