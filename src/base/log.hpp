#pragma once

#include <cstdint>
#include <string>

// The diagnostic log. Each call writes one line, "yyyy-MM-dd HH:mm:ss  message\n", to standard
// error at once and appends it to korvane.log in the data directory on the log's own queue.
// Callable from any thread; never fails its caller.
void KVLog(const char* format, ...) __attribute__((format(printf, 1, 2)));

// Waits until every line logged so far has reached the file (termination, tests).
void KVLogFlush();

// Where the lines go: the data directory's korvane.log.
std::string KVLogPath();

// A log file larger than this is emptied before the next line is written.
inline constexpr int64_t kKVLogMaxBytes = 4194304;

// Appends `line` to the file at `path` under the size rule above. Exposed for tests.
void KVLogAppendToFile(const std::string& path, const std::string& line);
