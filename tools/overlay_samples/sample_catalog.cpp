#include "overlay_samples/sample_catalog.hpp"

#include "base/ascii.hpp"
#include "base/config.hpp"

#include <algorithm>
#include <stdexcept>

std::shared_ptr<KVCatalog> KVCatalogFromPrintings(const std::string& code,
                                                  const KVJson& printings) {
    KVConfig::ensureDirs();
    KVConfig::writeJSON(printings, KVCatalog::cachePath(KVCatalog::kCardCachePrefix, code));
    auto catalog = std::make_shared<KVCatalog>("http://127.0.0.1:1");
    if (!catalog->ensureSet(code, nullptr)) {
        throw std::runtime_error("the sample set " + code + " did not load from its cache");
    }
    return catalog;
}

KVJson KVPrintingsOf(const std::vector<std::pair<std::string, std::string>>& cards,
                     const std::string& code, int64_t firstId) {
    std::string set = code;
    std::transform(set.begin(), set.end(), set.begin(), KVAsciiLower);
    KVJson printings = KVJson::array();
    int number = 1;
    for (const auto& [name, cost] : cards) {
        printings.push_back({{"name", name},
                             {"arena_id", firstId + number},
                             {"set", set},
                             {"collector_number", std::to_string(number++)},
                             {"mana_cost", cost},
                             {"type_line", "Creature"}});
    }
    return printings;
}
