#include "service/update_zip.hpp"

#include "base/log.hpp"
#include "service/api.hpp"

#include <archive.h>
#include <archive_entry.h>

#include <memory>
#include <sched.h>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>
#include <vector>

namespace {

std::vector<std::string_view> components(std::string_view path) {
    std::vector<std::string_view> parts;
    size_t start = 0;
    while (start <= path.size()) {
        const size_t end = std::min(path.find('/', start), path.size());
        const std::string_view part = path.substr(start, end - start);
        if (!part.empty() && part != ".") {
            parts.push_back(part);
        }
        start = end + 1;
    }
    return parts;
}

// A link may climb out of its own directory with leading ".." only, and never above the app
// (the top-level directory it is in); after the first name it only descends. Checked by the
// text alone, this holds however links lead through each other, since every link lands
// inside the app and nothing after a name climbs again.
std::string linkRefusal(std::string_view path, std::string_view target) {
    const auto at = components(path);
    if (at.size() < 2) {
        return "a link outside any app";
    }
    if (target.empty() || target.front() == '/') {
        return "a link to an absolute path";
    }
    size_t climbs = 0;
    bool named = false;
    for (const std::string_view part : components(target)) {
        if (part != "..") {
            named = true;
        } else if (named) {
            return "a link that climbs after a name";
        } else {
            ++climbs;
        }
    }
    // The link's directory is at.size() - 1 deep; the app itself is one deep.
    if (climbs + 1 >= at.size()) {
        return "a link leading out of its app";
    }
    return "";
}

struct ReadDeleter {
    void operator()(archive* a) const { archive_read_free(a); }
};
struct WriteDeleter {
    void operator()(archive* a) const { archive_write_free(a); }
};

constexpr int kDiskFlags = ARCHIVE_EXTRACT_SECURE_NODOTDOT | ARCHIVE_EXTRACT_SECURE_SYMLINKS |
                           ARCHIVE_EXTRACT_SECURE_NOABSOLUTEPATHS | ARCHIVE_EXTRACT_PERM |
                           ARCHIVE_EXTRACT_TIME;

std::string errorOf(archive* a, const char* fallback) {
    const char* text = archive_error_string(a);
    return text != nullptr ? text : fallback;
}

// Runs in the current directory, which is the destination. Returns "" or why it stopped.
std::string unpackHere(const std::string& path, const KVZipLimits& limits) {
    std::unique_ptr<archive, ReadDeleter> in(archive_read_new());
    std::unique_ptr<archive, WriteDeleter> out(archive_write_disk_new());
    if (!in || !out) {
        return "out of memory";
    }
    archive_read_support_format_zip(in.get());
    archive_write_disk_set_options(out.get(), kDiskFlags);
    if (archive_read_open_filename(in.get(), path.c_str(), 65536) != ARCHIVE_OK) {
        return errorOf(in.get(), "not a zip archive");
    }
    uint64_t total = 0;
    size_t entries = 0;
    for (;;) {
        archive_entry* entry = nullptr;
        const int next = archive_read_next_header(in.get(), &entry);
        if (next == ARCHIVE_EOF) {
            break;
        }
        if (next < ARCHIVE_WARN) {
            return errorOf(in.get(), "a damaged entry");
        }
        if (++entries > limits.maxEntries) {
            return "more than " + std::to_string(limits.maxEntries) + " entries";
        }
        const char* name = archive_entry_pathname(entry);
        const char* symlink = archive_entry_symlink(entry);
        const char* hardlink = archive_entry_hardlink(entry);
        const std::string refusal = KVUpdateEntryRefusal(
            name != nullptr ? name : "", archive_entry_filetype(entry),
            symlink != nullptr ? symlink : "", hardlink != nullptr ? hardlink : "");
        if (!refusal.empty()) {
            return refusal + ": " + (name != nullptr ? name : "");
        }
        if (archive_entry_size_is_set(entry) != 0 && archive_entry_size(entry) > 0 &&
            static_cast<uint64_t>(archive_entry_size(entry)) > limits.maxBytes - total) {
            return std::string("more than the size limit: ") + name;
        }
        // Nothing set-id or sticky, and nothing we could not later enter or remove ourselves.
        const bool directory = archive_entry_filetype(entry) == AE_IFDIR;
        archive_entry_set_perm(entry,
                               (archive_entry_perm(entry) & 0777) | (directory ? 0700 : 0600));
        if (archive_write_header(out.get(), entry) != ARCHIVE_OK) {
            return errorOf(out.get(), "an entry that could not be written");
        }
        const void* block = nullptr;
        size_t size = 0;
        la_int64_t offset = 0;
        const uint64_t before = total;
        for (;;) {
            const int read = archive_read_data_block(in.get(), &block, &size, &offset);
            if (read == ARCHIVE_EOF) {
                break;
            }
            if (read != ARCHIVE_OK) {
                return errorOf(in.get(), "damaged data");
            }
            // Offsets count too: a hole is disk space all the same.
            const auto end = static_cast<uint64_t>(offset) + size;
            if (offset < 0 || end > limits.maxBytes - before) {
                return std::string("more than the size limit: ") + name;
            }
            total = std::max(total, before + end);
            if (archive_write_data_block(out.get(), block, size, offset) != ARCHIVE_OK) {
                return errorOf(out.get(), "data that could not be written");
            }
        }
        if (archive_write_finish_entry(out.get()) != ARCHIVE_OK) {
            return errorOf(out.get(), "an entry that could not be finished");
        }
    }
    if (archive_write_close(out.get()) != ARCHIVE_OK) {
        return errorOf(out.get(), "the archive could not be finished");
    }
    return "";
}

} // namespace

std::string KVUpdateEntryRefusal(std::string_view path, mode_t type, std::string_view symlink,
                                 std::string_view hardlink) {
    if (components(path).empty()) {
        return "an entry without a name";
    }
    if (path.front() == '/') {
        return "an absolute path";
    }
    for (const std::string_view part : components(path)) {
        if (part == "..") {
            return "a path climbing with \"..\"";
        }
    }
    if (!hardlink.empty()) {
        return "a hard link";
    }
    if (type == S_IFLNK) {
        return linkRefusal(path, symlink);
    }
    if (type != S_IFREG && type != S_IFDIR) {
        return "a device, FIFO or socket";
    }
    return "";
}

bool KVUnpackUpdateZip(const std::string& archivePath, const std::string& directory,
                       const KVZipLimits& limits, KVError* error) {
    // libarchive refuses absolute names outright, so entries are written relative to the
    // destination. The working directory belongs to the whole process: a thread of our own
    // with a private one (unshare) changes it without disturbing any other.
    std::string refusal;
    std::thread worker([&] {
        if (::unshare(CLONE_FS) != 0 || ::chdir(directory.c_str()) != 0) {
            refusal = "no private working directory for unpacking";
            return;
        }
        refusal = unpackHere(archivePath, limits);
    });
    worker.join();
    if (refusal.empty()) {
        return true;
    }
    KVLog("Update: the archive was refused (%s)", refusal.c_str());
    KVSetError(error, KVAPIErrorDomain, 1, "The update could not be unpacked.");
    return false;
}
