#include "app/run_mode.hpp"

#include <curl/curl.h>

#include <cstdio>
#include <string>
#include <vector>

int main(int argc, char** argv) {
    // libcurl's global set-up is not thread-safe: it must happen before any thread starts.
    if (curl_global_init(CURL_GLOBAL_DEFAULT) != CURLE_OK) {
        std::fprintf(stderr, "korvane: could not initialise the network library.\n");
        return 1;
    }
    const std::vector<std::string> arguments(argv, argv + argc);
    return KVRunProgram(arguments);
}
