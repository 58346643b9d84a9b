// After the scenarios, one picture of every screenshot they left, named, for a reader to take in
// at a glance: contact-sheet.png beside them.
#include "e2e/e2e_world.hpp"

#include <QGuiApplication>
#include <QPainter>

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>

namespace {

constexpr int kColumns = 4;
constexpr QSize kThumb{480, 270};
constexpr int kCaption = 22;

class ContactSheet : public ::testing::Environment {
public:
    void TearDown() override {
        const std::filesystem::path directory = KVE2EArtifacts();
        std::vector<std::filesystem::path> shots;
        std::error_code error;
        for (const auto& entry : std::filesystem::directory_iterator(directory, error)) {
            if (entry.path().extension() == ".png" && entry.path().filename() != kName) {
                shots.push_back(entry.path());
            }
        }
        if (shots.empty()) {
            return;
        }
        std::sort(shots.begin(), shots.end());
        // Captions need fonts, and fonts need an application; no screen is involved.
        static int argc = 3;
        static char name[] = "e2e", flag[] = "-platform", offscreen[] = "offscreen";
        static char* argv[] = {name, flag, offscreen, nullptr};
        std::unique_ptr<QGuiApplication> app;
        if (QGuiApplication::instance() == nullptr) {
            app = std::make_unique<QGuiApplication>(argc, argv);
        }
        const int rows = int(shots.size() + kColumns - 1) / kColumns;
        QImage sheet(kColumns * kThumb.width(), rows * (kThumb.height() + kCaption),
                     QImage::Format_RGB32);
        sheet.fill(QColor(32, 34, 40));
        QPainter painter(&sheet);
        QFont font = painter.font();
        font.setPixelSize(14);
        painter.setFont(font);
        painter.setPen(QColor(230, 230, 230));
        for (size_t i = 0; i < shots.size(); ++i) {
            const QImage shot(QString::fromStdString(shots[i].string()));
            const QPoint corner(int(i % kColumns) * kThumb.width(),
                                int(i / kColumns) * (kThumb.height() + kCaption));
            if (!shot.isNull()) {
                const QImage small =
                    shot.scaled(kThumb, Qt::KeepAspectRatio, Qt::SmoothTransformation);
                painter.drawImage(corner + QPoint((kThumb.width() - small.width()) / 2, 0), small);
            }
            painter.drawText(
                QRect(corner + QPoint(0, kThumb.height()), QSize(kThumb.width(), kCaption)),
                Qt::AlignCenter, QString::fromStdString(shots[i].filename().string()));
        }
        painter.end();
        EXPECT_TRUE(sheet.save(QString::fromStdString((directory / kName).string()), "PNG"));
    }

private:
    static constexpr const char* kName = "contact-sheet.png";
};

[[maybe_unused]] const auto* const kRegistered =
    ::testing::AddGlobalTestEnvironment(new ContactSheet);

} // namespace
