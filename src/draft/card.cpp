#include "draft/card.hpp"

#include "base/utf8.hpp"

std::string KVCard::normalize(std::string_view text) {
    return KVLowercase(KVTrimSpacesAndTabs(text.substr(0, text.find("//"))));
}
