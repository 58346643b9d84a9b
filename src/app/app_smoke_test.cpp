#include "app/app.hpp"
#include "app/quiet_qt.hpp"

#include "arenalog/log_parser.hpp"
#include "base/config.hpp"
#include "base/json.hpp"
#include "base/platform_texts.hpp"
#include "draft/catalog.hpp"
#include "draft/draft_session.hpp"
#include "ui/deck_window.hpp"
#include "ui/login.hpp"
#include "ui/panel.hpp"
#include "ui/settings.hpp"
#include "ui/stamps.hpp"
#include "vision/phash.hpp"

#include <QApplication>

#include <cstdio>

namespace {

// 96 × 96: a pale yellow disc of radius 32 on a left-to-right grey ramp whose blue is half.
KVImage smokeImage() {
    constexpr int kSide = 96;
    KVImage image = KVImage::blank(kSide, kSide);
    for (int r = 0; r < kSide; ++r) {
        for (int c = 0; c < kSide; ++c) {
            const int dx = c - 48;
            const int dy = r - 48;
            uint8_t* p = image.pixel(c, r);
            if (dx * dx + dy * dy < 1024) {
                p[0] = 240;
                p[1] = 240;
                p[2] = 120;
            } else {
                const int g = (c * 200) / 96;
                p[0] = static_cast<uint8_t>(g);
                p[1] = static_cast<uint8_t>(g);
                p[2] = static_cast<uint8_t>(g / 2);
            }
            p[3] = 255;
        }
    }
    return image;
}

// A draft joined, as Arena logs it, and the marker of the next entry that closes it.
std::string smokeLog() {
    const KVJson inner{{"EventName", "PremierDraft_SOS_20260901"}};
    const KVJson outer{{"request", KVJsonDump(inner)}};
    return "[UnityCrossThreadLogger]==> EventJoin " + KVJsonDump(outer) +
           "\n[UnityCrossThreadLogger]";
}

} // namespace

int KVApp::smokeTest() {
    const auto qt = KVStartQuietQt(false);
    {
        // Every window the overlay has, made and never shown.
        KVAppViews views;
        const auto panel = views.makePanel();
        const auto stamps = views.makeStamps();
        const auto settings = views.makeSettings();
        const auto deck = views.makeDeckWindow();
        const auto login = views.makeLogin(std::string(KVConfig::kDefaultAPIBase));
        const auto catalog = std::make_shared<KVCatalog>();
        const auto session = std::make_shared<KVDraftSession>(catalog);
        panel->renderSession(session);
    }

    const auto hash = KVPHash(smokeImage());
    const size_t hashBytes = hash ? hash->size() : 0;
    if (hashBytes != 32) {
        std::fprintf(stderr, "smoke FAILED: phash produced %lu bytes\n",
                     static_cast<unsigned long>(hashBytes));
        return 1;
    }

    KVLogParser parser;
    const KVDraftEvents events = parser.feed(smokeLog());
    if (events.size() != 1 ||
        KVJsonString(KVJsonAt(events.front().payload, "set_code"), "") != "SOS") {
        std::fprintf(stderr, "smoke FAILED: log parser read %lu events\n",
                     static_cast<unsigned long>(events.size()));
        return 1;
    }

    const std::string hex = KVPHashToHex(*hash).substr(0, 12);
    std::printf("smoke ok: Korvane %s native on %s phash=%s\n", kVersion,
                KVPlatformTexts::operatingSystemName().c_str(), hex.c_str());
    return 0;
}
