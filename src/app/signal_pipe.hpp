#pragma once

#include <functional>
#include <memory>

class QSocketNotifier;

// Turns SIGTERM, SIGINT and SIGHUP into a call on the Qt event loop's thread: the handler only
// writes a byte to a pipe, whose reading end the loop watches. So a desktop logout or a Ctrl+C
// runs the program's ordinary termination instead of killing it mid-write.
class KVSignalPipe {
public:
    explicit KVSignalPipe(std::function<void(int signal)> onSignal);
    ~KVSignalPipe(); // puts the default handlers back
    KVSignalPipe(const KVSignalPipe&) = delete;
    KVSignalPipe& operator=(const KVSignalPipe&) = delete;

private:
    void readable();

    std::function<void(int)> onSignal_;
    std::unique_ptr<QSocketNotifier> notifier_;
};
