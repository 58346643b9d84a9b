#include "platform/linux/x11_platform.hpp"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>

extern char** environ;

namespace {

class PosixLauncher : public KVLauncher {
public:
    bool launch(const std::vector<std::string>& argv,
                const std::vector<std::pair<std::string, std::string>>& environment) override;
    bool openUrl(const std::string& url) override { return launch({"xdg-open", url}, {}); }
};

bool PosixLauncher::launch(const std::vector<std::string>& argv,
                           const std::vector<std::pair<std::string, std::string>>& environment) {
    if (argv.empty()) {
        return false;
    }
    // Everything the child needs is built before fork: after it only async-signal-safe calls.
    std::vector<std::string> variables;
    for (char** entry = environ; *entry != nullptr; ++entry) {
        const std::string text = *entry;
        const std::string name = text.substr(0, text.find('='));
        bool replaced = false;
        for (const auto& [key, value] : environment) {
            replaced = replaced || key == name;
        }
        if (!replaced) {
            variables.push_back(text);
        }
    }
    for (const auto& [key, value] : environment) {
        std::string variable = key;
        variable += '=';
        variable += value;
        variables.push_back(std::move(variable));
    }
    std::vector<char*> args;
    args.reserve(argv.size() + 1);
    for (const std::string& arg : argv) {
        args.push_back(const_cast<char*>(arg.c_str()));
    }
    args.push_back(nullptr);
    std::vector<char*> envp;
    envp.reserve(variables.size() + 1);
    for (const std::string& variable : variables) {
        envp.push_back(const_cast<char*>(variable.c_str()));
    }
    envp.push_back(nullptr);

    // The grandchild reports a failed exec through a pipe that a successful exec closes.
    int report[2];
    if (::pipe2(report, O_CLOEXEC) != 0) {
        return false;
    }
    const pid_t child = ::fork();
    if (child < 0) {
        ::close(report[0]);
        ::close(report[1]);
        return false;
    }
    if (child == 0) {
        // The intermediate child: a new session, then a grandchild that init will reap, so the
        // program lives on after us and leaves no zombie.
        ::setsid();
        const pid_t grandchild = ::fork();
        if (grandchild == 0) {
            ::execvpe(args[0], args.data(), envp.data());
            const int failure = errno;
            [[maybe_unused]] const ssize_t n = ::write(report[1], &failure, sizeof failure);
            ::_exit(127);
        }
        ::_exit(grandchild < 0 ? 1 : 0);
    }
    ::close(report[1]);
    int status = 0;
    while (::waitpid(child, &status, 0) < 0 && errno == EINTR) {
    }
    int failure = 0;
    ssize_t n = 0;
    do {
        n = ::read(report[0], &failure, sizeof failure);
    } while (n < 0 && errno == EINTR);
    ::close(report[0]);
    const bool forked = WIFEXITED(status) && WEXITSTATUS(status) == 0;
    return forked && n == 0;
}

} // namespace

std::shared_ptr<KVLauncher> KVMakePosixLauncher() {
    return std::make_shared<PosixLauncher>();
}
