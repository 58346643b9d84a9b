#pragma once

#include <string>
#include <vector>

// The application icon's pictures installed with the program: for a program at
// <prefix>/bin/korvane, each <prefix>/share/icons/hicolor/<N>x<N>/apps/korvane.png, smallest
// first. A package under /usr, an installation under any prefix, a bundle and a development
// build (build/dist) all hold them there. Empty when there are none.
std::vector<std::string> KVAppIconFiles(const std::string& executablePath);
