#include "server/service_main.hpp"

#include "base/config.hpp"
#include "base/files.hpp"
#include "base/utf8.hpp"
#include "server/card_index.hpp"
#include "server/card_sources.hpp"
#include "server/demo_log.hpp"
#include "server/demo_set.hpp"
#include "server/password_hasher.hpp"
#include "server/service.hpp"
#include "server/sqlite_store.hpp"

#include <sodium.h>

#include <csignal>
#include <thread>

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

// Reads the new password from the first line of standard input, so it stays out of the
// process list and the shell's history.
int setPassword(KVSStore& store, const KVSOptions& options) {
    const std::string email = KVLowercase(KVTrimmed(options.setPasswordEmail));
    if (!store.accountByEmail(email)) {
        return fail("no account " + email);
    }
    std::string password;
    std::getline(std::cin, password);
    if (!password.empty() && password.back() == '\r') {
        password.pop_back();
    }
    if (KVUtf16Length(password) < 8) {
        return fail("the password must be at least 8 characters");
    }
    KVSPasswordHasher hasher(options.testFastHash);
    const std::string hash = hasher.hash(password);
    if (hash.empty() || !store.setPassword(email, hash)) {
        return fail("the password could not be stored");
    }
    std::printf("The password of %s is set.\n", email.c_str());
    return 0;
}

bool ensureDemoAccount(KVSStore& store, const KVSOptions& options) {
    constexpr int64_t kDemoCredits = 100;
    if (!store.accountByEmail(KVSDemoSet::kDemoEmail)) {
        KVSPasswordHasher hasher(options.testFastHash);
        const std::string hash = hasher.hash(KVSDemoSet::kDemoPassword);
        if (hash.empty() ||
            !store.createAccount(KVSDemoSet::kDemoEmail, "demo", hash, kDemoCredits, nullptr)) {
            return false;
        }
    }
    std::printf("Demo account: %s, password %s\n", KVSDemoSet::kDemoEmail,
                KVSDemoSet::kDemoPassword);
    return true;
}

int serve(const KVSOptions& options, const std::shared_ptr<KVSStore>& store,
          const std::shared_ptr<KVSCardIndex>& cards) {
    // The signals are taken by one thread that waits for them; every other thread, the
    // server's workers included, inherits the blocked mask.
    sigset_t signals;
    sigemptyset(&signals);
    sigaddset(&signals, SIGINT);
    sigaddset(&signals, SIGTERM);
    sigaddset(&signals, SIGHUP);
    pthread_sigmask(SIG_BLOCK, &signals, nullptr);
    std::signal(SIGPIPE, SIG_IGN);

    KVSService service(options, store, cards);
    KVError error;
    if (!service.bind(&error)) {
        return fail(error.message);
    }
    const std::string scheme = options.tlsCert.empty() ? "http" : "https";
    const std::string host =
        options.host.find(':') != std::string::npos ? "[" + options.host + "]" : options.host;
    std::printf("korvane-service listening on %s://%s:%d\n", scheme.c_str(), host.c_str(),
                service.port());
    std::fflush(stdout);
    if (!options.onLoopback() && options.publicURL.empty()) {
        std::fprintf(stderr, "korvane-service: links in answers name the listen address; give "
                             "--public-url with the address clients use\n");
    }

    std::thread watcher([&service, &signals] {
        int received = 0;
        sigwait(&signals, &received);
        service.stop();
    });
    service.run();
    // Whatever ended the serving, the watcher must wake to be joined.
    kill(getpid(), SIGTERM);
    watcher.join();
    return 0;
}

} // namespace

int KVSServiceMain(KVSOptions options) {
    if (!options.writeDemoLog.empty()) {
        KVError error;
        if (!KVSWriteDemoLog(options.writeDemoLog, &error)) {
            return fail("cannot write " + options.writeDemoLog + ": " + error.message);
        }
        std::printf("Wrote a demo draft to %s\n", options.writeDemoLog.c_str());
        return 0;
    }
    if (options.databasePath.empty()) {
        options.databasePath = defaultDatabasePath();
    }
    if (sodium_init() < 0) {
        return fail("libsodium could not start");
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
    if (!options.setPasswordEmail.empty()) {
        return setPassword(*store, options);
    }
    if (options.demo && !ensureDemoAccount(*store, options)) {
        return fail("the demo account could not be created");
    }
    auto cards = std::make_shared<KVSCardIndex>();
    if (!KVSLoadCards(options, *store, *cards, &error)) {
        return fail(error.message);
    }
    return serve(options, store, cards);
}
