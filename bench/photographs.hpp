#pragma once

#include "base/image.hpp"

#include <filesystem>
#include <map>
#include <optional>
#include <string>
#include <vector>

// Photographs as stand-ins for card art, for the studies of how well vision recognises real
// pictures (art_robustness, identification_study). Not part of the program.

// One picture per wallpaper under the given folders: files under ".../<name>/contents/images*/"
// belong to <name> (the largest is kept; dark variants are left out), any other picture stands
// alone. Keyed by name, so the order is the same on every run.
std::map<std::string, std::filesystem::path>
KVFindPhotographs(const std::vector<std::string>& roots);

// Area-average resampling of RGBA, one axis at a time: how a screen or an image host shrinks a
// picture. Only ever shrinks.
KVImage KVShrinkImage(const KVImage& image, int width, int height);

// The image after a JPEG round trip at `quality`: compression noise as a host or a capture adds it.
std::optional<KVImage> KVThroughJPEG(const KVImage& image, int quality);
