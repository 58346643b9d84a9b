#pragma once

#include <string>
#include <vector>

struct GalleryShot {
    std::string path;
    std::string description;
    std::vector<std::string> problems;
};

// Screenshots of the live panel and stamps over fake-arena on a private Xvfb with openbox,
// without and then with a compositing manager, written to `directory` and checked.
std::vector<GalleryShot> LiveShots(const std::string& directory);
