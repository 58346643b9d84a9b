#pragma once

#include "base/environment.hpp"

#include <functional>
#include <memory>
#include <string>

// A fresh directory under the system's temporary directory, removed with everything in it.
class KVTempDir {
public:
    KVTempDir();
    ~KVTempDir();
    KVTempDir(const KVTempDir&) = delete;
    KVTempDir& operator=(const KVTempDir&) = delete;

    const std::string& path() const { return path_; }
    std::string file(const std::string& name) const { return path_ + "/" + name; }

private:
    std::string path_;
};

// Puts an environment in force for the scope of a test: home is a fresh temporary directory,
// nothing else is set unless the test sets it.
class KVScopedEnvironment {
public:
    explicit KVScopedEnvironment(const std::function<void(KVEnvironment&)>& adjust = {});
    ~KVScopedEnvironment();

    const std::string& home() const { return home_.path(); }

private:
    KVTempDir home_;
    std::shared_ptr<const KVEnvironment> previous_;
};

// Writes `bytes` to `path` (replacing it), creating parent directories; fails the test on error.
void KVWriteTestFile(const std::string& path, const std::string& bytes);

// Whether `done` comes to hold within `seconds`, asked again every few milliseconds (or every
// `every` seconds, for a question that costs a screenshot): for what another thread or process
// brings about in its own time.
bool KVEventually(const std::function<bool()>& done, double seconds = 10, double every = 0.005);
