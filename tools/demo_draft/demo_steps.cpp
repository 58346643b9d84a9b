#include "demo_draft/demo_steps.hpp"

#include "arenalog/log_parser.hpp"
#include "arenalog/log_values.hpp"

#include <algorithm>
#include <string_view>

size_t KVDemoStep::lines() const {
    const auto breaks = static_cast<size_t>(std::count(text.begin(), text.end(), '\n'));
    return breaks + (!text.empty() && text.back() != '\n' ? 1 : 0);
}

std::vector<KVDemoStep> KVDemoSteps(const std::string& log) {
    std::vector<std::string> entries;
    size_t start = 0;
    while (start < log.size()) {
        size_t end = log.find('\n', start);
        end = end == std::string::npos ? log.size() : end + 1;
        const std::string_view line(log.data() + start, end - start);
        if (entries.empty() || line.starts_with(KVLogParser::kMarker)) {
            entries.emplace_back();
        }
        entries.back().append(line);
        start = end;
    }
    std::vector<KVDemoStep> steps(1);
    KVLogParser parser;
    for (const auto& entry : entries) {
        steps.back().text += entry;
        for (const auto& event : parser.parseEntry(entry)) {
            if (event.kind == "pack") {
                steps.back().name = "P" + std::to_string(KVInt(KVJsonAt(event.payload, "pack"))) +
                                    "p" + std::to_string(KVInt(KVJsonAt(event.payload, "pick")));
                for (const auto& id : KVJsonAt(event.payload, "arena_ids")) {
                    steps.back().pack.push_back(KVInt(id));
                }
            }
        }
        if (!steps.back().pack.empty()) {
            steps.emplace_back();
        }
    }
    if (steps.back().text.empty()) {
        steps.pop_back();
    } else {
        steps.back().name = "complete";
    }
    return steps;
}
