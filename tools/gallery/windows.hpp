#pragma once

#include "live.hpp"

#include <string>
#include <vector>

// Pictures of the sign-in window, the settings card and the deck window in each of their
// states, rendered offscreen into `directory` and checked: every label and button text fits its
// frame, the translucent windows paint nothing outside their rounded shape and no opaque black.
std::vector<GalleryShot> WindowShots(const std::string& directory);
