// korvane-service: the self-hostable Korvane service.
#include "server/options.hpp"
#include "server/service_main.hpp"

#include <cstdio>

int main(int argc, char** argv) {
    std::vector<std::string> args(argv + 1, argv + argc);
    if (!args.empty() && (args[0] == "--help" || args[0] == "-h")) {
        std::fputs(KVSOptions::usage().c_str(), stdout);
        return 0;
    }
    KVError error;
    auto options = KVSOptions::parse(args, &error);
    if (!options) {
        std::fprintf(stderr, "korvane-service: %s\n%s", error.message.c_str(),
                     KVSOptions::usage().c_str());
        return 2;
    }
    return KVSServiceMain(*options);
}
