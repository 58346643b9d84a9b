#pragma once

#include <string>

// The one error value of the program. Fallible operations return false, an empty optional
// or a null pointer and describe the failure through an optional `KVError*` out-parameter.
struct KVError {
    std::string domain;
    long code = 0;
    std::string message;
};

// Fills `out` when the caller asked for the error; a null `out` means "not interested".
inline void KVSetError(KVError* out, std::string domain, long code, std::string message) {
    if (out != nullptr) {
        *out = KVError{std::move(domain), code, std::move(message)};
    }
}
