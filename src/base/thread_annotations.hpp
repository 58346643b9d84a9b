#pragma once

#include <mutex>

// Lock annotations that clang's -Wthread-safety checks at compile time; other compilers see
// nothing. std::mutex carries no annotations in libstdc++, so guarded state uses KVMutex.
#if defined(__clang__)
#define KV_THREAD_ANNOTATION(x) __attribute__((x))
#else
#define KV_THREAD_ANNOTATION(x)
#endif

#define CAPABILITY(x) KV_THREAD_ANNOTATION(capability(x))
#define SCOPED_CAPABILITY KV_THREAD_ANNOTATION(scoped_lockable)
#define GUARDED_BY(x) KV_THREAD_ANNOTATION(guarded_by(x))
#define REQUIRES(...) KV_THREAD_ANNOTATION(requires_capability(__VA_ARGS__))
#define ACQUIRE(...) KV_THREAD_ANNOTATION(acquire_capability(__VA_ARGS__))
#define RELEASE(...) KV_THREAD_ANNOTATION(release_capability(__VA_ARGS__))
#define EXCLUDES(...) KV_THREAD_ANNOTATION(locks_excluded(__VA_ARGS__))

// A std::mutex that clang can follow.
class CAPABILITY("mutex") KVMutex {
public:
    void lock() ACQUIRE() { mutex_.lock(); }
    void unlock() RELEASE() { mutex_.unlock(); }

private:
    std::mutex mutex_;
};

// Holds a KVMutex for its scope.
class SCOPED_CAPABILITY KVMutexLock {
public:
    explicit KVMutexLock(KVMutex& mutex) ACQUIRE(mutex) : mutex_(mutex) { mutex_.lock(); }
    ~KVMutexLock() RELEASE() { mutex_.unlock(); }
    KVMutexLock(const KVMutexLock&) = delete;
    KVMutexLock& operator=(const KVMutexLock&) = delete;

private:
    KVMutex& mutex_;
};
