#include "server/password_hasher.hpp"

#include <sodium.h>

// Holds one of the limited hashing places for its lifetime.
class KVSPasswordHasher::Slot {
public:
    explicit Slot(KVSPasswordHasher& owner) : owner_(owner) {
        std::unique_lock lock(owner_.mutex_);
        owner_.freed_.wait(lock, [this] { return owner_.running_ < kMaxConcurrent; });
        ++owner_.running_;
    }
    ~Slot() {
        {
            std::lock_guard lock(owner_.mutex_);
            --owner_.running_;
        }
        owner_.freed_.notify_one();
    }
    Slot(const Slot&) = delete;
    Slot& operator=(const Slot&) = delete;

private:
    KVSPasswordHasher& owner_;
};

KVSPasswordHasher::KVSPasswordHasher(bool fast)
    : opsLimit_(fast ? crypto_pwhash_OPSLIMIT_MIN : crypto_pwhash_OPSLIMIT_INTERACTIVE),
      memLimit_(fast ? crypto_pwhash_MEMLIMIT_MIN : crypto_pwhash_MEMLIMIT_INTERACTIVE) {}

std::string KVSPasswordHasher::hash(const std::string& password) {
    Slot slot(*this);
    char encoded[crypto_pwhash_STRBYTES];
    if (crypto_pwhash_str_alg(encoded, password.data(), password.size(), opsLimit_, memLimit_,
                              crypto_pwhash_ALG_ARGON2ID13) != 0) {
        return {};
    }
    return encoded;
}

bool KVSPasswordHasher::verify(const std::string& encoded, const std::string& password) {
    if (encoded.empty() || encoded.size() >= crypto_pwhash_STRBYTES) {
        return false;
    }
    Slot slot(*this);
    return crypto_pwhash_str_verify(encoded.c_str(), password.data(), password.size()) == 0;
}
