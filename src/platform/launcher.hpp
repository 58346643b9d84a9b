#pragma once

#include <string>
#include <utility>
#include <vector>

// Starts other programs, detached from this one.
class KVLauncher {
public:
    virtual ~KVLauncher() = default;

    // Runs `argv` (argv[0] looked up in $PATH) with `environment` added to ours; false when it
    // cannot be started.
    virtual bool
    launch(const std::vector<std::string>& argv,
           const std::vector<std::pair<std::string, std::string>>& environment = {}) = 0;

    // Opens `url` in the desktop's handler for it; false when no handler can be started.
    virtual bool openUrl(const std::string& url) = 0;
};
