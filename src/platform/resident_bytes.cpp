#include "platform/resident_bytes.hpp"

#include <cstdio>
#include <unistd.h>

uint64_t KVResidentBytes(const std::string& statmPath) {
    // statm: total program size, then resident pages, in pages.
    FILE* file = std::fopen(statmPath.c_str(), "re");
    if (file == nullptr) {
        return 0;
    }
    unsigned long long size = 0;
    unsigned long long resident = 0;
    const int fields = std::fscanf(file, "%llu %llu", &size, &resident);
    std::fclose(file);
    const long page = ::sysconf(_SC_PAGESIZE);
    if (fields != 2 || page <= 0) {
        return 0;
    }
    return static_cast<uint64_t>(resident) * static_cast<uint64_t>(page);
}
