// Feeds arbitrary text to the general JSON reader, whole and filtered, and compares what it
// reads with nlohmann's own reader: the same values, or a refusal nlohmann shares (or one for
// nesting past the cap). Nothing may crash, hang or take unbounded memory.
#include "base/json.hpp"

#include <cstdlib>

namespace {

bool keepEarlyKeys(int depth, const std::string& key) {
    return depth > 3 || key.empty() || key[0] < 'm';
}

void prune(KVJson& value, int depth) {
    if (value.is_object()) {
        for (auto it = value.begin(); it != value.end();) {
            if (!keepEarlyKeys(depth + 1, it.key())) {
                it = value.erase(it);
            } else {
                prune(*it, depth + 1);
                ++it;
            }
        }
    } else if (value.is_array()) {
        for (KVJson& element : value) {
            prune(element, depth + 1);
        }
    }
}

void check(bool condition) {
    if (!condition) {
        std::abort();
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    KVError error;
    const auto value = KVJsonParse(text, &error);
    KVError filteredError;
    const auto filtered = KVJsonParseFiltered(text, keepEarlyKeys, &filteredError);
    check(value.has_value() == filtered.has_value() || error.code == 3);

    // A NUL byte is never valid JSON (not white space, and raw in a string it is an unescaped
    // control character), but nlohmann's reader takes it for the end of the text and accepts
    // what came before: there its verdict is no reference.
    if (text.find('\0') != std::string_view::npos) {
        check(!value && !filtered);
        return 0;
    }
    KVJson reference = KVJson::parse(text, nullptr, /*allow_exceptions=*/false);
    if (!value) {
        // Refused as malformed only when nlohmann refuses it too.
        check(error.domain == "KorvaneJSON" && (error.code != 1 || reference.is_discarded()));
        return 0;
    }
    check(!reference.is_discarded() && value->dump() == reference.dump());
    prune(reference, 0);
    check(filtered && filtered->dump() == reference.dump());
    (void)KVJsonDump(*value, 2);
    return 0;
}
