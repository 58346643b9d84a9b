#include "arenalog/event_name.hpp"

#include "base/ascii.hpp"

#include <array>
#include <utility>

namespace {

// Event types as Arena writes them, in the order they are tried at each position, with the
// format each stands for.
constexpr std::array<std::pair<std::string_view, std::string_view>, 9> kEventTypes = {{
    {"PremierDraft", "PremierDraft"},
    {"TradDraft", "TradDraft"},
    {"TraditionalDraft", "TradDraft"},
    {"QuickDraft", "QuickDraft"},
    {"BotDraft", "QuickDraft"},
    {"PickTwoDraft", "PickTwoDraft"},
    {"PickTwoTradDraft", "PickTwoTradDraft"},
    {"Sealed", "Sealed"},
    {"TradSealed", "TradSealed"},
}};

bool isSetCodeCharacter(char c) {
    return KVIsAsciiUpper(c) || KVIsAsciiDigit(c);
}

} // namespace

KVEventFormat KVParseEventName(std::string_view name) {
    for (size_t pos = 0; pos < name.size(); ++pos) {
        for (const auto& [type, format] : kEventTypes) {
            if (name.compare(pos, type.size(), type) != 0) {
                continue;
            }
            const size_t underscore = pos + type.size();
            size_t end = underscore + 1;
            while (end < name.size() && isSetCodeCharacter(name[end])) {
                ++end;
            }
            if (underscore < name.size() && name[underscore] == '_' && end > underscore + 1) {
                return {std::string(format),
                        std::string(name.substr(underscore + 1, end - underscore - 1))};
            }
        }
    }
    return {};
}
