#include "arenalog/log_parser.hpp"
#include "base/files.hpp"

#include <gtest/gtest.h>

#include <functional>
#include <random>

namespace {

const std::string kMarker(KVLogParser::kMarker);

const std::string& sessionLog() {
    static const std::string text = KVReadFile(KV_PLAYER_LOG).value_or(std::string());
    return text;
}

// One line per event, from the chunks fed in order and the parser flushed at the end.
std::string decoded(const std::vector<std::string>& chunks) {
    KVLogParser parser;
    std::string lines;
    const auto add = [&lines](const KVDraftEvents& events) {
        for (const auto& e : events) {
            lines += e.kind + " " + KVJsonDump(e.payload) + "\n";
        }
    };
    for (const auto& chunk : chunks) {
        add(parser.feed(chunk));
    }
    add(parser.flush());
    return lines;
}

// Pieces of `text` that end where `next(start)` says, moved on to the end of the character
// there: the tailer never cuts one.
std::vector<std::string> piecesOf(const std::string& text,
                                  const std::function<size_t(size_t start)>& next) {
    std::vector<std::string> pieces;
    for (size_t pos = 0; pos < text.size();) {
        size_t end = std::min(text.size(), next(pos));
        while (end < text.size() && (static_cast<unsigned char>(text[end]) & 0xC0) == 0x80) {
            ++end;
        }
        pieces.push_back(text.substr(pos, end - pos));
        pos = end;
    }
    return pieces;
}

// Random pieces, mostly small ones as the tailer reads them while Arena writes; the piece that
// holds the big start-up answer runs on through the next marker, as the tailer's first 6 MiB
// read would.
std::vector<std::string> randomChunks(const std::string& text, unsigned seed) {
    std::mt19937 rng(seed);
    const size_t bigStart = text.rfind(kMarker, text.find("StartHook"));
    const size_t bigEnd = text.find(kMarker, bigStart + kMarker.size()) + kMarker.size();
    return piecesOf(text, [&](size_t start) {
        const unsigned kind = rng() % 10;
        const size_t most = kind < 5 ? 64 : kind < 8 ? 4096 : 65536;
        const size_t end = start + 1 + rng() % most;
        return end > bigStart && end < bigEnd ? bigEnd : end;
    });
}

// The events as the reader before this one decoded them, pinned byte for byte. Trickled in small
// pieces the start-up answer outgrows the buffer limit and is dropped: its inventory, the first
// event, is missing and nothing else changes.
TEST(PlayerLogFixture, EventsMatchThePinnedDecodingWholeAndTrickled) {
    const std::string& log = sessionLog();
    const std::string pinned =
        KVReadFile(KV_FIXTURES_DIR "/player_log_session.events").value_or("missing");
    EXPECT_EQ(decoded({log}), pinned);
    ASSERT_EQ(pinned.rfind("inventory ", 0), 0u);
    const std::string trickled = pinned.substr(pinned.find('\n') + 1);
    EXPECT_EQ(decoded(piecesOf(log, [](size_t at) { return at + 4096; })), trickled);
    EXPECT_EQ(decoded(piecesOf(log, [](size_t at) { return at + 61; })), trickled);
}

TEST(PlayerLogFixture, AnyCuttingGivesTheSameEventsAsTheWholeText) {
    const std::string& log = sessionLog();
    const std::string expected = decoded({log});
    ASSERT_FALSE(expected.empty());
    for (const unsigned seed : {1u, 2u, 3u, 42u, 20261206u}) {
        EXPECT_EQ(decoded(randomChunks(log, seed)), expected) << "seed " << seed;
    }
    // The draft part of the evening, after the big answer, one byte at a time.
    const std::string draft = log.substr(log.find(kMarker, log.find("EventJoin") - 200), 400000);
    std::vector<std::string> bytes;
    bytes.reserve(draft.size());
    for (const char c : draft) {
        bytes.emplace_back(1, c);
    }
    EXPECT_EQ(decoded(bytes), decoded({draft}));
}

} // namespace
