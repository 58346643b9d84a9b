#pragma once

#include <string>
#include <string_view>

// The service's browser pages: one look, every outside text escaped.

// Text made safe inside HTML elements and double-quoted attributes.
std::string KVSHtmlEscape(std::string_view text);

// A whole page titled `title`, around `body` (HTML already escaped by the caller).
std::string KVSPage(std::string_view title, std::string_view body);

// A page holding one heading and one paragraph of plain text.
std::string KVSMessagePage(std::string_view title, std::string_view message);
