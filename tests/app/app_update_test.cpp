// The update offer and download as the controller runs them: the real updater against fake
// servers on 127.0.0.1, replacing a bundle installed in a temporary directory, with the desktop
// shell and the launcher faked. (Which versions are offered is the updater's test; the offer at
// launch, taken, installed and restarted, is the end-to-end scenario's.)
#include "app_harness.hpp"

#include "base/crypto.hpp"
#include "base/files.hpp"
#include "service/update_fixtures.hpp"
#include "service/updater.hpp"

#include <gtest/gtest.h>

#include <algorithm>
#include <random>
#include <regex>

namespace {

class AppUpdateIntegration : public ::testing::Test {
protected:
    void SetUp() override {
        KVMakeBundle(bundle, "0.1.38");
        // About 3 MiB that deflate cannot shrink, so the download's size reads "3.0 MB" only
        // when a megabyte is 1,048,576 bytes (3.1 MB in millions).
        std::string art(3u << 20, '\0');
        std::generate(art.begin(), art.end(), [random = std::mt19937(19)]() mutable {
            return static_cast<char>(random());
        });
        auto entries = KVAppEntries("Korvane", "0.1.39");
        entries.push_back(KVZipFile("Korvane/share/art.bin", art));
        KVWriteZip(h.dir.file("made.zip"), entries);
        zip = KVReadFile(h.dir.file("made.zip")).value_or("");
    }

    void launch() {
        h.launch([this](KVAppServices& s) {
            s.updater.bundle = bundleInUse;
            s.updater.start = [this](const std::string& executable, KVError*) {
                started.push_back(executable);
                return true;
            };
        });
    }

    KVJson offer(const std::string& path, bool mandatory = false, const std::string& notes = "") {
        return {{"version", "0.1.39"},
                {"url", downloads.base() + path},
                {"notes", notes},
                {"mandatory", mandatory}};
    }

    KVFakeDesktopShell& shell() { return *h.platform.shell; }

    // Nothing of the update is on disk and the program was neither restarted nor quit.
    void expectUntouched() {
        EXPECT_EQ(KVBundleVersion(bundle), "0.1.38");
        EXPECT_EQ(KVListDirectory(dist), std::vector<std::string>{"Korvane"});
        EXPECT_TRUE(started.empty());
        EXPECT_EQ(h.quits, 0);
    }

    AppHarness h;
    std::string dist = h.dir.file("dist");
    std::string bundle = dist + "/Korvane";
    std::string bundleInUse = bundle; // what the updater is told it runs from
    std::string zip;                  // what the download routes serve
    std::vector<std::string> started;
    KVFakeHTTPServer downloads{[this](KVFakeHTTPServer::Routes& s) {
        s.Get("/sized.zip", [this](const httplib::Request&, httplib::Response& res) {
            res.set_content(zip, "application/zip");
        });
        s.Get("/streamed.zip", [this](const httplib::Request&, httplib::Response& res) {
            res.set_chunked_content_provider(
                "application/zip", [this](size_t offset, httplib::DataSink& sink) {
                    const size_t piece = std::min<size_t>(zip.size() - offset, size_t{64} << 10);
                    sink.write(zip.data() + offset, piece);
                    if (offset + piece == zip.size()) {
                        sink.done();
                    }
                    return true;
                });
        });
    }};
};

TEST_F(AppUpdateIntegration, TheOfferIsMadeOnceAndOnlyAcceptingDownloads) {
    struct Case {
        std::string name;
        bool mandatory;
        std::string notes;
        int answer;
        std::string text;
        std::vector<std::string> buttons;
        bool downloads;
    };
    const std::vector<Case> cases = {
        {"later", false, "", 1, "Korvane 0.1.39 is available.", {"Update now", "Later"}, false},
        {"closed", false, "", -1, "Korvane 0.1.39 is available.", {"Update now", "Later"}, false},
        {"mandatory, closed",
         true,
         "Fixes.",
         -1,
         "Korvane 0.1.39 is available.\n\nFixes.",
         {"Update"},
         true},
    };
    launch();
    h.settle(0.2); // the launch's own check finds nothing to offer
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        shell().alerts.clear();
        shell().answers = {c.answer};
        h.app->updatePrompted = false; // a new run
        h.app->offerUpdate(offer("/sized.zip", c.mandatory, c.notes));
        h.app->offerUpdate(offer("/sized.zip", c.mandatory, c.notes));
        ASSERT_EQ(shell().alerts.size(), 1u) << "offered twice in one run";
        EXPECT_EQ(shell().alerts[0].text, c.text);
        EXPECT_EQ(shell().alerts[0].buttons, c.buttons);
        if (c.downloads) {
            EXPECT_TRUE(h.runUntil([&] { return h.quits > 0; }));
        } else {
            h.settle(0.3);
            EXPECT_TRUE(downloads.requests().empty());
            EXPECT_TRUE(shell().progressSteps.empty());
            expectUntouched();
        }
    }
}

// Why an update fails is the updater's to say; the controller shows it with the way out.
TEST_F(AppUpdateIntegration, AFailedUpdateSaysWhyAndLeavesTheInstallAlone) {
    launch();
    h.app->downloadUpdate(downloads.base() + "/sized.zip", std::string(64, '0'));
    ASSERT_TRUE(h.runUntil([&] { return !shell().alerts.empty(); }));
    EXPECT_EQ(shell().alerts[0].title, "Update failed");
    EXPECT_EQ(shell().alerts[0].text, "Could not install the update:\nThe update could not be "
                                      "verified.\n\nYou can download it directly from "
                                      "127.0.0.1/download.");
    EXPECT_FALSE(shell().progressShown);
    h.settle(0.1);
    expectUntouched();
}

TEST_F(AppUpdateIntegration, ProgressCountsMegabytesAndFillsTheBarWhenTheSizeIsKnown) {
    launch();
    for (const std::string path : {"/sized.zip", "/streamed.zip"}) {
        SCOPED_TRACE(path);
        const bool sized = path == "/sized.zip";
        KVMakeBundle(bundle, "0.1.38");
        KVUpdater::removeOldBundle(bundle);
        shell().progressSteps.clear();
        const int quits = h.quits;
        h.app->downloadUpdate(downloads.base() + path, sized ? KVSha256Hex(zip) : "");
        ASSERT_TRUE(h.runUntil([&] { return h.quits > quits; }));
        const auto& steps = shell().progressSteps;
        ASSERT_GE(steps.size(), 2u);
        EXPECT_EQ(steps[0].title, "Updating Korvane");
        EXPECT_EQ(steps[0].label, "Contacting 127.0.0.1\u2026");
        EXPECT_FALSE(steps[0].fraction) << "the bar starts busy";
        const std::regex label(sized ? "Downloading Korvane\u2026 \\d+\\.\\d MB of 3.0 MB"
                                     : "Downloading Korvane\u2026 \\d+\\.\\d MB");
        double last = 0;
        for (size_t i = 1; i < steps.size(); ++i) {
            EXPECT_TRUE(std::regex_match(steps[i].label, label)) << steps[i].label;
            EXPECT_EQ(steps[i].fraction.has_value(), sized) << steps[i].label;
            if (sized && steps[i].fraction) {
                EXPECT_LE(*steps[i].fraction, 1);
                EXPECT_GE(*steps[i].fraction, last) << "the bar went back";
                last = *steps[i].fraction;
            }
        }
        EXPECT_EQ(KVBundleVersion(bundle), "0.1.39");
        ASSERT_FALSE(started.empty());
        EXPECT_EQ(started.back(), bundle + "/bin/korvane");
        EXPECT_FALSE(shell().progressShown) << "the progress window stays up after the update";
    }
}

// Which installs cannot replace themselves is the updater's call, and the page opening in the
// browser is the end-to-end scenario's; without a browser the user is told where the page is.
TEST_F(AppUpdateIntegration, AnInstallThatCannotReplaceItselfNamesTheDownloadPage) {
    bundleInUse = ""; // a build tree
    h.platform.launcher->succeeds = false;
    shell().answers = {0};
    launch();
    h.app->offerUpdate(offer("/sized.zip"));
    h.settle(0.3);
    EXPECT_TRUE(downloads.requests().empty());
    EXPECT_TRUE(shell().progressSteps.empty());
    ASSERT_EQ(shell().alerts.size(), 2u);
    EXPECT_EQ(shell().alerts[1].title, "Update failed");
    EXPECT_NE(shell().alerts[1].text.find("127.0.0.1/download."), std::string::npos);
    expectUntouched();
}

} // namespace
