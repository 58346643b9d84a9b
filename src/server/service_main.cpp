#include "server/service_main.hpp"

#include "base/config.hpp"
#include "base/files.hpp"
#include "base/utf8.hpp"
#include "server/sqlite_store.hpp"

#include <cstdio>
#include <iostream>
#include <string>

namespace {

int fail(const std::string& message) {
    std::fprintf(stderr, "korvane-service: %s\n", message.c_str());
    return 1;
}

std::string defaultDatabasePath() {
    return KVJoinPath(KVJoinPath(KVConfig::dataDir(), "service"), "korvane.db");
}

std::string directoryOf(const std::string& path) {
    const size_t slash = path.rfind('/');
    return slash == std::string::npos ? std::string(".") : path.substr(0, slash);
}

} // namespace

int KVSServiceMain(KVSOptions options) {
    if (options.databasePath.empty()) {
        options.databasePath = defaultDatabasePath();
    }
    KVError error;
    if (!KVMakeDirectories(directoryOf(options.databasePath), &error)) {
        return fail("cannot create the folder of " + options.databasePath + ": " + error.message);
    }
    std::shared_ptr<KVSStore> store = KVSSQLiteStore::open(options.databasePath, &error);
    if (!store) {
        return fail(error.message);
    }
    if (options.grant) {
        const auto& [email, delta] = *options.grant;
        const auto credits = store->grantCredits(KVLowercase(KVTrimmed(email)), delta);
        if (!credits) {
            return fail("no account " + email);
        }
        std::printf("%s now has %lld draft credits\n", email.c_str(),
                    static_cast<long long>(*credits));
        return 0;
    }
    return fail("nothing to serve yet");
}
