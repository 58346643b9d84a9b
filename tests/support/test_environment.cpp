#include "support/test_environment.hpp"

#include "base/files.hpp"

#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <ftw.h>
#include <thread>
#include <unistd.h>

KVTempDir::KVTempDir() {
    const char* tmp = std::getenv("TMPDIR");
    std::string pattern =
        std::string(tmp != nullptr && *tmp != '\0' ? tmp : "/tmp") + "/korvane-test-XXXXXX";
    if (::mkdtemp(pattern.data()) == nullptr) {
        ADD_FAILURE() << "mkdtemp failed for " << pattern;
    }
    path_ = pattern;
}

KVTempDir::~KVTempDir() {
    ::nftw(
        path_.c_str(),
        [](const char* path, const struct stat*, int, struct FTW*) { return ::remove(path); }, 16,
        FTW_DEPTH | FTW_PHYS);
}

KVScopedEnvironment::KVScopedEnvironment(const std::function<void(KVEnvironment&)>& adjust) {
    KVEnvironment env;
    env.home = home_.path();
    env.executablePath = "/opt/korvane/bin/korvane";
    if (adjust) {
        adjust(env);
    }
    previous_ = KVEnvironment::replace(std::move(env));
}

KVScopedEnvironment::~KVScopedEnvironment() {
    KVEnvironment::restore(previous_);
}

void KVWriteTestFile(const std::string& path, const std::string& bytes) {
    const size_t slash = path.rfind('/');
    if (slash != std::string::npos && slash > 0) {
        ASSERT_TRUE(KVMakeDirectories(path.substr(0, slash)));
    }
    KVError error;
    ASSERT_TRUE(KVWriteFileAtomically(path, bytes, &error)) << error.message;
}

bool KVEventually(const std::function<bool()>& done, double seconds, double every) {
    const auto deadline = std::chrono::steady_clock::now() +
                          std::chrono::duration_cast<std::chrono::steady_clock::duration>(
                              std::chrono::duration<double>(seconds));
    while (!done()) {
        if (std::chrono::steady_clock::now() > deadline) {
            return false;
        }
        std::this_thread::sleep_for(std::chrono::duration<double>(every));
    }
    return true;
}
