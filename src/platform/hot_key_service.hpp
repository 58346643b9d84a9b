#pragma once

#include <cstdint>
#include <functional>
#include <string>

// Modifier masks of a chord, as the hot-key rules write them.
inline constexpr uint32_t kKVHotKeyControl = 0x1000;
inline constexpr uint32_t kKVHotKeyOption = 0x0800; // the Alt key

// System-wide hot keys: a letter with modifiers, known by a signature and an id.
class KVHotKeyService {
public:
    using Handler = std::function<void(uint32_t signature, int id)>;

    virtual ~KVHotKeyService() = default;

    // Grabs `letter` (A-Z) with `modifiers` for every keyboard state; false when the letter has no
    // key or another program holds the chord (then nothing of it stays grabbed).
    virtual bool registerKey(uint32_t signature, int id, char letter, uint32_t modifiers) = 0;
    virtual void unregisterKey(uint32_t signature, int id) = 0;

    // Called on the main thread, once per press (a held key does not repeat).
    virtual void setHandler(Handler handler) = 0;
};

// "Ctrl+Alt+O" for a chord, as the log names it.
std::string KVHotKeyChordName(char letter, uint32_t modifiers);
