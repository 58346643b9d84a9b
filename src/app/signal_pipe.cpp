#include "app/signal_pipe.hpp"

#include <QSocketNotifier>

#include <csignal>
#include <fcntl.h>
#include <unistd.h>

namespace {

constexpr int kSignals[] = {SIGTERM, SIGINT, SIGHUP};

// One pipe for the process: signal handlers are process-wide too.
int gPipe[2] = {-1, -1};

void onSignal(int signal) {
    const int saved = errno;
    const char byte = char(signal);
    // Nothing more can be done inside a handler; a full pipe already holds a wake-up.
    [[maybe_unused]] const ssize_t written = ::write(gPipe[1], &byte, 1);
    errno = saved;
}

} // namespace

KVSignalPipe::KVSignalPipe(std::function<void(int)> onSignal) : onSignal_(std::move(onSignal)) {
    if (gPipe[0] < 0 && ::pipe2(gPipe, O_NONBLOCK | O_CLOEXEC) != 0) {
        return;
    }
    notifier_ = std::make_unique<QSocketNotifier>(gPipe[0], QSocketNotifier::Read);
    QObject::connect(notifier_.get(), &QSocketNotifier::activated, [this] { readable(); });
    struct sigaction action {};
    action.sa_handler = ::onSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    for (const int signal : kSignals) {
        sigaction(signal, &action, nullptr);
    }
}

KVSignalPipe::~KVSignalPipe() {
    for (const int signal : kSignals) {
        std::signal(signal, SIG_DFL);
    }
}

void KVSignalPipe::readable() {
    char bytes[16];
    ssize_t count = 0;
    while ((count = ::read(gPipe[0], bytes, sizeof bytes)) > 0) {
        for (ssize_t i = 0; i < count; ++i) {
            if (onSignal_) {
                onSignal_(int(bytes[i]));
            }
        }
    }
}
