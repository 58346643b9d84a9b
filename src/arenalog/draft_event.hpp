#pragma once

#include "base/json.hpp"

#include <string>

// One thing read from Arena's log: a pack shown, a pick made, a draft joined or finished, or
// an account snapshot. `payload` is a JSON object whose keys depend on `kind`.
struct KVDraftEvent {
    std::string kind;
    KVJson payload = KVJson::object();
    // Cleared by the consumer for events replayed from the log's backlog.
    bool live = true;

    KVDraftEvent() = default;
    KVDraftEvent(std::string kindName, KVJson values)
        : kind(std::move(kindName)), payload(std::move(values)) {}
};
