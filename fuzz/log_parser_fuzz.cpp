// Feeds arbitrary text to the log parser in arbitrary pieces, as a damaged or hostile
// Player.log would arrive: nothing may crash, hang or leak, and every event must serialise.
#include "arenalog/log_parser.hpp"

#include <fuzzer/FuzzedDataProvider.h>

#include <cstdlib>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    FuzzedDataProvider input(data, size);
    KVLogParser parser;
    KVDraftEvents events;
    while (input.remaining_bytes() > 0) {
        const size_t length = input.ConsumeIntegralInRange<size_t>(0, 512);
        const std::string chunk = input.ConsumeBytesAsString(length);
        for (auto& event : parser.feed(chunk)) {
            events.push_back(std::move(event));
        }
    }
    for (auto& event : parser.flush()) {
        events.push_back(std::move(event));
    }
    for (const KVDraftEvent& event : events) {
        if (event.kind.empty() || !event.payload.is_object()) {
            std::abort();
        }
        (void)KVJsonDump(event.payload);
    }
    return 0;
}
