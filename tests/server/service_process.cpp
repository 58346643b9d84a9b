#include "service_process.hpp"

#include <gtest/gtest.h>
#include <sqlite3.h>

#include <csignal>
#include <regex>
#include <unistd.h>

KVSServiceProcess::KVSServiceProcess(const std::string& database,
                                     const std::vector<std::string>& args) {
    std::vector<std::string> all{"--db", database, "--listen", "127.0.0.1:0", "--test-fast-hash"};
    all.insert(all.end(), args.begin(), args.end());
    const KVSpawnedProgram child = KVSpawnProgram(KV_SERVICE_PROGRAM, all);
    close(child.in);
    pid_ = child.pid;
    const std::regex announced("listening on [^\n]*:([0-9]+)\n");
    std::string output;
    std::smatch match;
    for (std::string more; pid_ > 0 && !std::regex_search(output, match, announced);
         output += more) {
        if ((more = KVReadSome(child.out, 30)).empty()) {
            break;
        }
    }
    close(child.out);
    if (match.empty()) {
        ADD_FAILURE() << "the service did not start: " << output;
        return;
    }
    port_ = std::stoi(match[1].str());
}

KVSServiceProcess::~KVSServiceProcess() {
    stop();
}

int KVSServiceProcess::stop() {
    if (pid_ <= 0) {
        return -1;
    }
    kill(pid_, SIGTERM);
    const int status = KVWaitForExit(pid_);
    pid_ = -1;
    port_ = 0;
    return status;
}

KVProgramResult KVSRunServiceProgram(const std::vector<std::string>& args,
                                     const std::string& input) {
    return KVRunChildProgram(KV_SERVICE_PROGRAM, args, input);
}

int64_t KVSQueryNumber(const std::string& database, const std::string& sql) {
    sqlite3* db = nullptr;
    int64_t number = -1;
    if (sqlite3_open(database.c_str(), &db) == SQLITE_OK) {
        sqlite3_exec(
            db, sql.c_str(),
            [](void* out, int, char** values, char**) {
                *static_cast<int64_t*>(out) = std::atoll(values[0]);
                return 0;
            },
            &number, nullptr);
    }
    sqlite3_close(db);
    return number;
}
