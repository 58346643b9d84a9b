#include "base/platform_texts.hpp"
#include "base/time_format.hpp"
#include "base/utf8.hpp"
#include "support/test_environment.hpp"

#include <gtest/gtest.h>

#include <ctime>

namespace {

const std::string kEuro = "\xE2\x82\xAC";     // U+20AC, three bytes, one unit
const std::string kGrin = "\xF0\x9F\x98\x80"; // U+1F600, four bytes, two units

TEST(Utf16Counting, CountsCodeUnitsAlsoWhereAsciiRunsMeetOtherCharacters) {
    // Code units, not bytes. ASCII is counted in blocks of eight bytes: characters, bad bytes
    // and cut sequences on either side of a block's edge must count as they do alone.
    const std::string a7(7, 'a');
    const std::string a8(8, 'a');
    const std::string a16(16, 'a');
    const struct {
        std::string text;
        size_t units;
    } cases[] = {
        {"", 0},
        {"a\xC3\xA9" + kEuro + kGrin, 5},
        {"\xFF\xC3", 2}, // invalid bytes count one each
        {a8 + kGrin, 10},
        {a7 + "\xC3\xA9" + a8, 16},
        {a7 + kGrin + a7, 16},
        {a16 + "\xFF" + std::string(9, 'c'), 26},
        {a16 + "\xE2\x82", 18}, // cut short: one unit a byte
        {a8 + "\xC3" + a8, 17}, // a lead byte followed by ASCII
        {"\xE2" + a16 + kEuro, 18},
        {kGrin + std::string(20, 'x') + kEuro, 23},
        {a7 + "\x80" + a8 + "\xBF", 17}, // stray continuation bytes
    };
    for (const auto& c : cases) {
        EXPECT_EQ(KVUtf16Length(c.text), c.units) << "case " << (&c - cases);
    }
}

TEST(Utf16Counting, PrefixesNeverSplitACharacter) {
    const std::string text = "a" + kGrin + "b";
    EXPECT_EQ(KVUtf8OffsetOfUnits(text, 0), 0u);
    EXPECT_EQ(KVUtf8OffsetOfUnits(text, 1), 1u);
    EXPECT_EQ(KVUtf8OffsetOfUnits(text, 2), 1u); // half a surrogate pair is left out
    EXPECT_EQ(KVUtf8OffsetOfUnits(text, 3), 5u);
    EXPECT_EQ(KVUtf8OffsetOfUnits(text, 99), text.size());
    EXPECT_EQ(KVUtf8OffsetOfUnits(kEuro + kEuro, 1), 3u);
}

TEST(Utf8Reading, FindsTheUnfinishedCharacterAtTheEnd) {
    EXPECT_EQ(KVUtf8IncompleteTail("abc"), 0u);
    EXPECT_EQ(KVUtf8IncompleteTail("abc\xC3"), 1u);
    EXPECT_EQ(KVUtf8IncompleteTail("abc\xE2\x82"), 2u);
    EXPECT_EQ(KVUtf8IncompleteTail("abc" + kEuro), 0u);
    EXPECT_EQ(KVUtf8IncompleteTail("\xF0\x9F\x98"), 3u);
    EXPECT_EQ(KVUtf8IncompleteTail("x\xFF"), 0u);     // never valid: not held back
    EXPECT_EQ(KVUtf8IncompleteTail("x\xE2\x28"), 0u); // already broken
    EXPECT_EQ(KVUtf8IncompleteTail("x\xED\xA0"), 0u); // a surrogate can't be completed
    EXPECT_EQ(KVUtf8IncompleteTail("x\x82"), 0u);     // lone continuation

    EXPECT_EQ(KVUtf8OrphanContinuations(kEuro.substr(1) + "abc"), 2u);
    EXPECT_EQ(KVUtf8OrphanContinuations("\x80\x80\x80\x80"), 3u);
    EXPECT_EQ(KVUtf8OrphanContinuations(kEuro), 0u);
}

TEST(Utf8Reading, DecodesOnlyTrulyInvalidBytesAsLatin1) {
    EXPECT_EQ(KVDecodeUtf8OrLatin1("caf\xC3\xA9 " + kGrin), "caf\xC3\xA9 " + kGrin);
    EXPECT_EQ(KVDecodeUtf8OrLatin1("caf\xE9"), "caf\xC3\xA9");
    // One bad byte among good characters must not turn the good ones into mojibake.
    EXPECT_EQ(KVDecodeUtf8OrLatin1("\xC3\xA9\xE9" + kEuro), "\xC3\xA9\xC3\xA9" + kEuro);
    EXPECT_EQ(KVDecodeUtf8OrLatin1("\xC0\xAF"), "\xC3\x80\xC2\xAF");             // overlong form
    EXPECT_EQ(KVDecodeUtf8OrLatin1("\xED\xA0\x80"), "\xC3\xAD\xC2\xA0\xC2\x80"); // surrogate
    EXPECT_TRUE(KVIsValidUtf8(KVDecodeUtf8OrLatin1("\xFF\xFE\x80 \xF4\x90\x80\x80")));
    EXPECT_FALSE(KVIsValidUtf8("\xF4\x90\x80\x80")); // past U+10FFFF
}

TEST(Utf8Reading, TrimsUnicodeSpaceAndLineEndsButNothingElse) {
    EXPECT_EQ(KVTrimmed(" \t\r\n x y \n"), "x y");
    EXPECT_EQ(KVTrimmed("\xC2\xA0\xE3\x80\x80x\xE2\x80\xA8\xC2\x85"), "x"); // NBSP, ideographic...
    EXPECT_EQ(KVTrimmed(" \xE2\x82\xAC "), kEuro); // a non-space ending in a continuation byte
    EXPECT_EQ(KVTrimmed("\xFF "), "\xFF");
    EXPECT_EQ(KVTrimmed(" \n "), "");
}

TEST(LocalTimestamp, UsesTheFixedPatternInLocalTime) {
    std::tm local{};
    ASSERT_NE(::strptime("2026-03-07 21:05:03", "%Y-%m-%d %H:%M:%S", &local), nullptr);
    local.tm_isdst = -1;
    const auto when = std::chrono::system_clock::from_time_t(std::mktime(&local));
    EXPECT_EQ(KVLocalTimestamp(when), "2026-03-07 21:05:03");
}

TEST(PlatformTexts, NamesTheDistributionFromOsRelease) {
    KVTempDir dir;
    KVWriteTestFile(dir.file("pretty"),
                    "NAME=\"Debian GNU/Linux\"\nPRETTY_NAME=\"Debian GNU/Linux 12 "
                    "(bookworm)\"\nVERSION=\"12 (bookworm)\"\n");
    KVWriteTestFile(dir.file("plain"), "ID=arch\nNAME='Arch Linux'\nVERSION=rolling\n");
    KVWriteTestFile(dir.file("empty"), "ID=x\n");
    EXPECT_EQ(KVPlatformTexts::operatingSystemName(dir.file("pretty")),
              "Debian GNU/Linux 12 (bookworm)");
    EXPECT_EQ(KVPlatformTexts::operatingSystemName(dir.file("plain")), "Arch Linux rolling");
    EXPECT_EQ(KVPlatformTexts::operatingSystemName(dir.file("empty")), "Linux");
    EXPECT_EQ(KVPlatformTexts::operatingSystemName(dir.file("missing")), "Linux");
}

TEST(PlatformTexts, TheDesktopSessionOrThePromptThatStartedUsIsNamed) {
    struct Case {
        long pid;
        std::string name;
        std::string line;
    };
    const Case cases[] = {
        {1, "systemd", "launched : by the desktop session (menu or autostart)"},
        {1, "", "launched : by the desktop session (menu or autostart)"},
        // A user manager starts menu and autostart entries: not pid 1, still the session.
        {1843, "systemd", "launched : by the desktop session (menu or autostart)"},
        {20417, "bash", "launched : from bash (pid 20417)"},
        {20417, "systemd-run", "launched : from systemd-run (pid 20417)"},
        {77, "", "launched : from ? (pid 77)"},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(KVPlatformTexts::launchedLine(c.pid, c.name), c.line);
    }
}

} // namespace
