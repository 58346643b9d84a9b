#pragma once

#include "base/json.hpp"
#include "ui/canvas.hpp"

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

// Small text and colour helpers the panel's draft blocks share.
namespace kv_panel {

const KVColor& white();

// The texts of a list's entries joined by `separator`; nothing for what is not a list.
std::string joined(const KVJson& list, std::string_view separator, size_t limit = SIZE_MAX);
std::string joined(const std::vector<std::string>& parts, std::string_view separator);

// One integer through a printf format.
std::string printed(const char* format, int64_t value);

void replaceAll(std::string& text, std::string_view from, std::string_view to);

} // namespace kv_panel
