#pragma once

#include <string>
#include <string_view>

// The limited format and set code an Arena event name carries, e.g. "PremierDraft_SOS_20260901"
// gives {"PremierDraft", "SOS"}. Both are empty when the name says nothing known.
struct KVEventFormat {
    std::string format;
    std::string setCode;
};

KVEventFormat KVParseEventName(std::string_view name);
