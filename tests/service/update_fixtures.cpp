#include "service/update_fixtures.hpp"

#include "base/files.hpp"
#include "support/test_environment.hpp"

#include <archive.h>
#include <archive_entry.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <sys/stat.h>

namespace {

std::string script(const std::string& version) {
    return "#!/bin/sh\n# " + version + "\n";
}

// Sets the Unix mode of `name` in the central directory, which is what a seekable reader
// trusts.
void forceMode(std::string& zip, const std::string& name, mode_t mode) {
    for (size_t at = zip.find("PK\x01\x02"); at != std::string::npos;
         at = zip.find("PK\x01\x02", at + 4)) {
        const auto length = static_cast<size_t>(static_cast<unsigned char>(zip[at + 28]) |
                                                static_cast<unsigned char>(zip[at + 29]) << 8);
        if (zip.compare(at + 46, length, name) == 0) {
            zip[at + 40] = static_cast<char>(mode & 0xFF);
            zip[at + 41] = static_cast<char>((mode >> 8) & 0xFF);
            return;
        }
    }
    ADD_FAILURE() << name << " is not in the central directory";
}

} // namespace

KVZipEntry KVZipFile(std::string path, std::string data, mode_t perm) {
    KVZipEntry entry;
    entry.path = std::move(path);
    entry.data = std::move(data);
    entry.perm = perm;
    return entry;
}

KVZipEntry KVZipLink(std::string path, std::string target) {
    KVZipEntry entry = KVZipFile(std::move(path), "", 0777);
    entry.type = S_IFLNK;
    entry.symlink = std::move(target);
    return entry;
}

std::vector<KVZipEntry> KVAppEntries(const std::string& name, const std::string& version) {
    return {
        {.path = name + "/", .type = S_IFDIR, .perm = 0755},
        KVZipFile(name + "/.korvane-bundle", version + "\n"),
        KVZipFile(name + "/bin/korvane", script(version), 0755),
        KVZipFile(name + "/lib/libkv.so.1", "library"),
        KVZipLink(name + "/lib/libkv.so", "libkv.so.1"),
        KVZipLink(name + "/bin/libkv.so", "../lib/libkv.so"),
    };
}

void KVWriteZip(const std::string& path, const std::vector<KVZipEntry>& entries) {
    archive* zip = archive_write_new();
    ASSERT_EQ(archive_write_set_format_zip(zip), ARCHIVE_OK);
    ASSERT_EQ(archive_write_open_filename(zip, path.c_str()), ARCHIVE_OK);
    for (const auto& item : entries) {
        archive_entry* entry = archive_entry_new();
        archive_entry_set_pathname(entry, item.path.c_str());
        archive_entry_set_filetype(entry, item.type);
        archive_entry_set_perm(entry, item.perm);
        archive_entry_set_size(entry, static_cast<la_int64_t>(item.data.size()));
        if (!item.symlink.empty()) {
            archive_entry_set_symlink(entry, item.symlink.c_str());
        }
        EXPECT_EQ(archive_write_header(zip, entry), ARCHIVE_OK) << archive_error_string(zip);
        if (!item.data.empty()) {
            EXPECT_EQ(archive_write_data(zip, item.data.data(), item.data.size()),
                      static_cast<la_ssize_t>(item.data.size()));
        }
        archive_entry_free(entry);
    }
    EXPECT_EQ(archive_write_close(zip), ARCHIVE_OK);
    archive_write_free(zip);
    if (std::none_of(entries.begin(), entries.end(), [](auto& e) { return e.forcedMode != 0; })) {
        return;
    }
    auto bytes = KVReadFile(path);
    ASSERT_TRUE(bytes.has_value());
    for (const auto& item : entries) {
        if (item.forcedMode != 0) {
            forceMode(*bytes, item.path, item.forcedMode);
        }
    }
    KVWriteTestFile(path, *bytes);
}

void KVMakeBundle(const std::string& directory, const std::string& version) {
    KVWriteTestFile(directory + "/.korvane-bundle", version + "\n");
    KVWriteTestFile(directory + "/bin/korvane", script(version));
    ASSERT_EQ(::chmod((directory + "/bin/korvane").c_str(), 0755), 0);
}

std::string KVBundleVersion(const std::string& directory) {
    const auto text = KVReadFile(directory + "/bin/korvane");
    if (!text || text->size() < 13) {
        return "";
    }
    return text->substr(12, text->size() - 13); // between "#!/bin/sh\n# " and "\n"
}

std::vector<std::string> KVListDirectory(const std::string& directory) {
    std::vector<std::string> names;
    std::error_code error; // a directory that is not there lists nothing
    for (const auto& entry : std::filesystem::directory_iterator(directory, error)) {
        names.push_back(entry.path().filename());
    }
    std::sort(names.begin(), names.end());
    return names;
}
