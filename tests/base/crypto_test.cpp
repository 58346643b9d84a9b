#include "base/crypto.hpp"
#include "support/test_environment.hpp"

#include <gtest/gtest.h>

#include <sys/stat.h>

#include <set>

namespace {

TEST(Digest, MatchesPublishedValuesOnBinaryData) {
    struct Case {
        std::string data;
        std::string sha256;
        std::string sha1;
    };
    const std::vector<Case> cases = {
        {"", "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855",
         "da39a3ee5e6b4b0d3255bfef95601890afd80709"},
        {"abc", "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad",
         "a9993e364706816aba3e25717850c26c9cd0d89d"},
        // An embedded NUL: the whole view is hashed, not a C string.
        {std::string("a\0b", 3), "59b271ae1bbcb1d31d41929817f4b16fb439eb4f31520b5ad1d5ce98920a7138",
         "4a3dec2d1f8245280855c42db0ee4239f917fdb8"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.data);
        EXPECT_EQ(KVSha256Hex(c.data), c.sha256);
        EXPECT_EQ(KVSha1Hex(c.data), c.sha1);
    }
    EXPECT_EQ(KVSha256Hex("\xff\xff\xff"), // high bytes print as two digits each
              "5ae7e6a42304dc6e4176210b83c43024f99a0bce9a870c3b6d2c95fc8ebfb74c");
}

TEST(DigestIntegration, HashesAFileInPiecesAsOneWhole) {
    KVTempDir dir;
    // Empty, exactly one read, and spanning several reads with a short last one.
    for (size_t size : {size_t{0}, size_t{1} << 16, size_t{200001}}) {
        SCOPED_TRACE(size);
        std::string content(size, '\0');
        for (size_t i = 0; i < size; ++i) {
            content[i] = static_cast<char>((i * 7919) >> 3);
        }
        const std::string path = dir.file("update-" + std::to_string(size) + ".zip");
        KVWriteTestFile(path, content);
        KVError error;
        EXPECT_EQ(KVSha256HexOfFile(path, &error), KVSha256Hex(content)) << error.message;
    }
}

TEST(DigestIntegration, RefusesWhatIsNotARegularFileWithoutReadingIt) {
    KVTempDir dir;
    ASSERT_EQ(::mkfifo(dir.file("fifo").c_str(), 0600), 0);
    struct Case {
        std::string path;
        long code;
    };
    const std::vector<Case> cases = {
        {dir.file("missing.zip"), ENOENT},
        {dir.path(), EINVAL},
        {dir.file("fifo"), EINVAL}, // no writer: a blocking open would never return
        {"/dev/zero", EINVAL},      // endless: reading it would never end
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.path);
        KVError error;
        EXPECT_EQ(KVSha256HexOfFile(c.path, &error), std::nullopt);
        EXPECT_EQ(error.domain, "KorvaneFile");
        EXPECT_EQ(error.code, c.code);
        EXPECT_NE(error.message.find(c.path), std::string::npos) << error.message;
    }
}

TEST(Random, GivesFreshHexOfTheAskedLength) {
    EXPECT_EQ(KVRandomHex(0), "");
    for (size_t bytes : {1, 16, 33}) {
        const std::string value = KVRandomHex(bytes);
        EXPECT_EQ(value.size(), bytes * 2);
        EXPECT_EQ(value.find_first_not_of("0123456789abcdef"), std::string::npos) << value;
    }
    // 128-bit values never repeat; a fixed seed or a reused buffer would.
    std::set<std::string> seen;
    for (int i = 0; i < 100; ++i) {
        seen.insert(KVRandomHex(16));
    }
    EXPECT_EQ(seen.size(), 100u);
}

} // namespace
