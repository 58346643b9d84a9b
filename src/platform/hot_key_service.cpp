#include "platform/hot_key_service.hpp"

std::string KVHotKeyChordName(char letter, uint32_t modifiers) {
    std::string name;
    if ((modifiers & kKVHotKeyControl) != 0) {
        name += "Ctrl+";
    }
    if ((modifiers & kKVHotKeyOption) != 0) {
        name += "Alt+";
    }
    name += letter;
    return name;
}
