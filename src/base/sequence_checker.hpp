#pragma once

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <thread>

// Remembers the one thread a main-thread-only object may be used from: the first checked call
// binds it, and every later call must come from that thread. `detach` lets an object built on
// one thread be handed to another before use. A copy starts unbound, so a copied object may
// live on another thread.
class KVSequenceChecker {
public:
    KVSequenceChecker() = default;
    KVSequenceChecker(const KVSequenceChecker&) {}
    KVSequenceChecker& operator=(const KVSequenceChecker&) {
        detach();
        return *this;
    }

    bool calledOnValidSequence() const {
        std::thread::id owner;
        const auto self = std::this_thread::get_id();
        // On failure `owner` receives the bound thread.
        return owner_.compare_exchange_strong(owner, self) || owner == self;
    }

    void detach() { owner_.store(std::thread::id()); }

private:
    mutable std::atomic<std::thread::id> owner_{};
};

// Aborts, naming the function, when `checker` belongs to another thread. Active in the Debug
// and sanitizer builds (KV_SEQUENCE_CHECKS), where a misuse shows in tests; elsewhere it
// compiles to nothing.
#if defined(KV_SEQUENCE_CHECKS)
#define KV_CHECK_SEQUENCE(checker)                                                                 \
    do {                                                                                           \
        if (!(checker).calledOnValidSequence()) {                                                  \
            std::fprintf(stderr, "korvane: %s called off its owning thread\n", __func__);          \
            std::abort();                                                                          \
        }                                                                                          \
    } while (false)
#else
#define KV_CHECK_SEQUENCE(checker) ((void)0)
#endif
