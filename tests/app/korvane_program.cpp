#include "korvane_program.hpp"

#include "base/files.hpp"
#include "base/platform_texts.hpp"
#include "support/test_environment.hpp"
#include "x11_harness/xvfb.hpp"

#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <regex>

KVProgramRun KVRunKorvane(const std::vector<std::string>& args,
                          const std::vector<std::string>& environment, double seconds) {
    // env -i gives the program exactly `environment`; the shell sends its two streams to files.
    KVTempDir streams;
    std::vector<std::string> argv{"/usr/bin/env", "-i"};
    argv.insert(argv.end(), environment.begin(), environment.end());
    for (const char* name : {"ASAN_OPTIONS", "UBSAN_OPTIONS", "TSAN_OPTIONS", "LSAN_OPTIONS"}) {
        if (const char* value = std::getenv(name)) {
            argv.push_back(std::string(name) + "=" + value);
        }
    }
    argv.insert(argv.end(), {"/bin/sh", "-c",
                             "exec \"$0\" \"$@\" </dev/null >\"" + streams.file("out") + "\" 2>\"" +
                                 streams.file("err") + "\"",
                             KV_KORVANE_PROGRAM});
    argv.insert(argv.end(), args.begin(), args.end());
    KVChildProcess korvane(argv, {});
    KVProgramRun run;
    run.status = korvane.stop(0, seconds);
    if (run.status < 0) {
        ADD_FAILURE() << "korvane still running after " << seconds << " s; killed";
    }
    run.out = KVReadFile(streams.file("out")).value_or("");
    run.err = KVReadFile(streams.file("err")).value_or("");
    return run;
}

std::vector<std::string> KVFreshHome::environment(const std::vector<std::string>& extra) const {
    const char* path = std::getenv("PATH");
    std::vector<std::string> all{"HOME=" + dir.path(), "XDG_DATA_HOME=" + dir.file("data"),
                                 std::string("PATH=") + (path ? path : "/usr/bin:/bin")};
    all.insert(all.end(), extra.begin(), extra.end());
    return all;
}

std::string KVMaskReport(std::string text, const std::string& tempDir) {
    const std::string os = KVPlatformTexts::operatingSystemName();
    for (const auto& [from, to] : {std::pair{&tempDir, "$TMP"}, std::pair{&os, "<OS>"}}) {
        for (size_t at = from->empty() ? std::string::npos : text.find(*from);
             at != std::string::npos; at = text.find(*from, at + std::strlen(to))) {
            text.replace(at, from->size(), to);
        }
    }
    static const std::vector<std::pair<std::regex, std::string>> masks = {
        {std::regex(R"(\d{4}-\d\d-\d\d \d\d:\d\d:\d\d)"), "<TIME>"},
        {std::regex(R"(pid \d+)"), "pid <N>"},
        {std::regex(R"((id|size)=\d+)"), "$1=<N>"},
        {std::regex(R"(written \d+s ago)"), "written <N>s ago"},
        {std::regex(R"(in \d+\.\d\ds via)"), "in <N>s via"},
    };
    for (const auto& [pattern, replacement] : masks) {
        text = std::regex_replace(text, pattern, replacement);
    }
    return text;
}

void KVExpectGolden(const std::string& text, const std::string& name) {
    const std::string path = std::string(KV_FIXTURES_DIR) + "/run_modes/" + name;
    if (std::getenv("KV_UPDATE_GOLDEN")) {
        KVMakeDirectories(std::string(KV_FIXTURES_DIR) + "/run_modes");
        ASSERT_TRUE(KVWriteFileAtomically(path, text)) << path;
        return;
    }
    const auto golden = KVReadFile(path);
    ASSERT_TRUE(golden) << "no golden file " << path;
    EXPECT_EQ(text, *golden) << "differs from " << path;
}
