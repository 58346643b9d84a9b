#include "draft/card.hpp"

#include <gtest/gtest.h>

namespace {

TEST(Card, NormalisedNamesMeetWhateverTheirSpelling) {
    EXPECT_EQ(KVCard::normalize("Stone Giant // Stomp Down"), "stone giant");
    EXPECT_EQ(KVCard::normalize("  Opt \t"), "opt");
    EXPECT_EQ(KVCard::normalize("Fire Bolt//Ice Shard"), "fire bolt");
    EXPECT_EQ(KVCard::normalize(""), "");
    EXPECT_EQ(KVCard::normalize("//Back"), "");
    EXPECT_EQ(KVCard::normalize("\xC3\x89owyn, Fearless Knight"), "\xC3\xA9owyn, fearless knight");
    EXPECT_EQ(KVCard("Lim-D\xC3\xBBl's Vault").normalizedName(), "lim-d\xC3\xBBl's vault");
}

TEST(Card, LandsAreFoundByTheirTypeLine) {
    KVCard card;
    EXPECT_FALSE(card.isLand());
    card.typeLine = "Basic Land \xE2\x80\x94 Forest";
    EXPECT_TRUE(card.isLand());
    card.typeLine = "Land Creature \xE2\x80\x94 Forest Dryad";
    EXPECT_TRUE(card.isLand());
    card.typeLine = "Creature \xE2\x80\x94 Elf";
    EXPECT_FALSE(card.isLand());
    card.typeLine = "Creature \xE2\x80\x94 landfall enabler"; // lower case alone does not count
    EXPECT_FALSE(card.isLand());
}

} // namespace
