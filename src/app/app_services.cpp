#include "app/app_services.hpp"

#include "base/dispatch/background.hpp"
#include "base/dispatch/run_loop.hpp"

#include <chrono>
#include <ctime>

KVAppServices KVAppServices::standard() {
    KVAppServices services;
    services.now = [] {
        return std::chrono::duration<double>(std::chrono::system_clock::now().time_since_epoch())
            .count();
    };
    services.localHour = [] {
        const std::time_t now = std::time(nullptr);
        std::tm local{};
        localtime_r(&now, &local);
        return local.tm_hour;
    };
    services.main = &KVMain();
    services.userInitiated = &KVBackground(KVQoS::userInitiated);
    services.utility = &KVBackground(KVQoS::utility);
    services.updater = KVUpdaterOptions::standard();
    services.quit = [] {};
    return services;
}
