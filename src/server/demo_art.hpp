#pragma once

#include <string>

// The demo set's card pictures: 488 × 680 JPEGs (Scryfall's "normal" size), drawn from the
// card's number alone, so every card looks different and the same card always looks the same.
class KVSDemoArt {
public:
    static constexpr int kWidth = 488;
    static constexpr int kHeight = 680;

    // The JPEG bytes of card `index` (0-based) in colour `colorLetter` ("" for colourless), or
    // "" when the encoder failed.
    static std::string jpeg(int index, const std::string& colorLetter);
};
