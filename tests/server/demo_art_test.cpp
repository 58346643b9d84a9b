// The demo's pictures of Arena. That each slot shows its own card at a layout the program reads
// is seen by the end-to-end draft, whose stamps land on the cards vision found there.
#include "demo_draft/demo_art.hpp"
#include "server/demo_set.hpp"

#include <gtest/gtest.h>

namespace {

TEST(DemoArt, ArtIsDecodedOnceAndMissingArtIsNamed) {
    KVDemoArt art;
    const int64_t id = KVSDemoSet::kFirstArenaId;
    const KVImage* first = art.of(id);
    ASSERT_NE(first, nullptr);
    EXPECT_EQ(first->width, 488);
    EXPECT_EQ(first->height, 680);
    EXPECT_NE(art.of(id + 1), first);
    EXPECT_EQ(art.of(id), first); // the cached picture, still where it was
    EXPECT_EQ(art.of(123), nullptr);

    std::string error;
    EXPECT_FALSE(art.screen({id, 123}, 1280, 720, 1, &error).has_value());
    EXPECT_NE(error.find("123"), std::string::npos) << error;
}

} // namespace
