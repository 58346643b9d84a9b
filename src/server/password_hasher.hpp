#pragma once

#include <condition_variable>
#include <mutex>
#include <string>

// Argon2id password hashes. Each hash takes a large block of memory and a share of a core, so
// at most kMaxConcurrent run at once; the rest wait their turn.
class KVSPasswordHasher {
public:
    static constexpr int kMaxConcurrent = 4;

    // `fast` lowers the cost to the minimum, for the test suite only.
    explicit KVSPasswordHasher(bool fast);

    // The encoded hash (algorithm, cost and salt included), or "" when out of memory.
    std::string hash(const std::string& password);
    bool verify(const std::string& encoded, const std::string& password);

private:
    class Slot;

    unsigned long long opsLimit_;
    size_t memLimit_;
    std::mutex mutex_;
    std::condition_variable freed_;
    int running_ = 0;
};
