// Reading outside JSON: simdjson checks the whole text and stops at the depth cap, then only
// the members wanted are built as nlohmann values.
#include "base/json.hpp"

#include <simdjson.h>

#include <cstdlib>
#include <mutex>

namespace {

using simdjson::dom::element;
using simdjson::dom::element_type;

constexpr char kDomain[] = "KorvaneJSON";

// A parser's buffers grow to about fifteen times the largest text it read: each thread keeps
// one for ordinary texts (answers, settings) and lets one for a larger text go with it.
constexpr size_t kKeptParserBytes = size_t{256} << 10;

void refuseTooDeep(KVError* error, int maxDepth) {
    KVSetError(error, kDomain, 2,
               "JSON nested deeper than " + std::to_string(maxDepth) + " levels");
}

void refuseTooMany(KVError* error) {
    KVSetError(error, kDomain, 3,
               "JSON holds more than " + std::to_string(kKVJsonMaxValues) + " values");
}

void refuseInvalid(KVError* error) {
    KVSetError(error, kDomain, 1, "The text is not valid JSON");
}

// Builds nlohmann values from a parsed document, asking `keep` about every object member it
// meets; a refused member's value is never visited. Stops when the value budget runs out.
class ValueBuilder {
public:
    explicit ValueBuilder(const KVJsonMemberFilter* keep) : keep_(keep) {}

    bool build(element source, int depth, KVJson& out) {
        if (budget_ == 0) {
            return false;
        }
        --budget_;
        switch (source.type()) {
        case element_type::ARRAY: {
            out = KVJson::array();
            auto& array = out.get_ref<KVJson::array_t&>();
            const simdjson::dom::array children = source.get_array().value_unsafe();
            for (const element child : children) {
                if (!build(child, depth + 1, array.emplace_back())) {
                    return false;
                }
            }
            return true;
        }
        case element_type::OBJECT: {
            out = KVJson::object();
            auto& object = out.get_ref<KVJson::object_t&>();
            const simdjson::dom::object fields = source.get_object().value_unsafe();
            for (const auto field : fields) {
                std::string key(field.key);
                if (keep_ != nullptr && !(*keep_)(depth + 1, key)) {
                    continue;
                }
                // A repeated key keeps its last value.
                if (!build(field.value, depth + 1, object[std::move(key)])) {
                    return false;
                }
            }
            return true;
        }
        case element_type::INT64: {
            // Whole numbers without a sign are unsigned values, as nlohmann's own reader makes
            // them, so that values compare and convert the same whichever reader made them.
            const int64_t value = source.get_int64().value_unsafe();
            out = value >= 0 ? KVJson(static_cast<uint64_t>(value)) : KVJson(value);
            return true;
        }
        case element_type::UINT64:
            out = source.get_uint64().value_unsafe();
            return true;
        case element_type::DOUBLE:
            out = source.get_double().value_unsafe();
            return true;
        case element_type::STRING:
            out = std::string(source.get_string().value_unsafe());
            return true;
        case element_type::BOOL:
            out = source.get_bool().value_unsafe();
            return true;
        case element_type::NULL_VALUE:
            out = nullptr;
            return true;
        }
        return false;
    }

private:
    const KVJsonMemberFilter* keep_;
    size_t budget_ = kKVJsonMaxValues;
};

// Checks a text with nlohmann's event reader, which stops at the first event past a limit:
// nesting deeper than the cap, or more values than the budget.
class BoundsCheck final : public nlohmann::json_sax<KVJson> {
public:
    explicit BoundsCheck(int maxDepth) : maxDepth_(maxDepth) {}
    bool tooDeep = false;
    bool tooMany = false;

    bool null() override { return value(); }
    bool boolean(bool) override { return value(); }
    bool number_integer(number_integer_t) override { return value(); }
    bool number_unsigned(number_unsigned_t) override { return value(); }
    bool number_float(number_float_t, const string_t&) override { return value(); }
    bool string(string_t&) override { return value(); }
    bool binary(binary_t&) override { return value(); }
    bool start_object(std::size_t) override { return open(); }
    bool key(string_t&) override { return true; }
    bool end_object() override { return close(); }
    bool start_array(std::size_t) override { return open(); }
    bool end_array() override { return close(); }
    bool parse_error(std::size_t, const std::string&, const nlohmann::detail::exception&) override {
        return false;
    }

private:
    bool value() {
        tooMany = ++values_ > kKVJsonMaxValues;
        return !tooMany;
    }
    bool open() {
        tooDeep = depth_++ >= maxDepth_;
        return !tooDeep && value();
    }
    bool close() {
        --depth_;
        return true;
    }
    int maxDepth_;
    int depth_ = 0;
    size_t values_ = 0;
};

std::optional<KVJson> build(element root, const KVJsonMemberFilter* keep, KVError* error) {
    KVJson value;
    if (!ValueBuilder(keep).build(root, 0, value)) {
        refuseTooMany(error);
        return std::nullopt;
    }
    return value;
}

// Drops the members `keep` refuses, at every depth, as the filtered reader would have.
void prune(KVJson& value, int depth, const KVJsonMemberFilter& keep) {
    if (value.is_object()) {
        auto& object = value.get_ref<KVJson::object_t&>();
        for (auto it = object.begin(); it != object.end();) {
            if (!keep(depth + 1, it->first)) {
                it = object.erase(it);
            } else {
                prune(it->second, depth + 1, keep);
                ++it;
            }
        }
    } else if (value.is_array()) {
        for (KVJson& element : value) {
            prune(element, depth + 1, keep);
        }
    }
}

// nlohmann's reader for the numbers simdjson refuses (integers beyond 64 bits, which are
// read as floating point), after a bounded check pass so that its own pass stays bounded too.
// Here every value counts against the budget, kept or not: nlohmann builds them all.
std::optional<KVJson> parseWithNlohmann(std::string_view text, const KVJsonMemberFilter* keep,
                                        KVError* error, int maxDepth) {
    // nlohmann takes a NUL byte for the end of the text and would accept what came before;
    // JSON allows none anywhere.
    if (text.find('\0') != std::string_view::npos) {
        refuseInvalid(error);
        return std::nullopt;
    }
    BoundsCheck check(maxDepth);
    if (!KVJson::sax_parse(text.begin(), text.end(), &check)) {
        if (check.tooDeep) {
            refuseTooDeep(error, maxDepth);
        } else if (check.tooMany) {
            refuseTooMany(error);
        } else {
            refuseInvalid(error);
        }
        return std::nullopt;
    }
    KVJson value = KVJson::parse(text.begin(), text.end(), nullptr, /*allow_exceptions=*/false);
    if (value.is_discarded()) {
        refuseInvalid(error);
        return std::nullopt;
    }
    if (keep != nullptr) {
        prune(value, 0, *keep);
    }
    return value;
}

// Whether a value nests deeper than `limit` levels, empty containers included.
bool nestsDeeper(element value, int limit) {
    if (value.is_array()) {
        const simdjson::dom::array children = value.get_array().value_unsafe();
        if (limit == 0) {
            return true;
        }
        for (const element child : children) {
            if (nestsDeeper(child, limit - 1)) {
                return true;
            }
        }
    } else if (value.is_object()) {
        const simdjson::dom::object fields = value.get_object().value_unsafe();
        if (limit == 0) {
            return true;
        }
        for (const auto field : fields) {
            if (nestsDeeper(field.value, limit - 1)) {
                return true;
            }
        }
    }
    return false;
}

// A parser's first working memory comes from simdjson's process-wide choice of implementation,
// an object destroyed when the program exits, while a background task may still start a read.
// From the first parser made on, an exit handler, which runs before that object goes, stops the
// making of new parsers: a late read fails instead of calling into a destroyed object. Parsers
// already made own their memory and keep working.
class ParserMaking {
public:
    static simdjson::error_code allocate(simdjson::dom::parser& parser, size_t capacity,
                                         size_t depth) {
        std::lock_guard lock(mutex());
        if (closed()) {
            return simdjson::UNINITIALIZED;
        }
        const auto failure = parser.allocate(capacity, depth);
        static const bool handlerSet = std::atexit([] {
                                           std::lock_guard closing(mutex());
                                           closed() = true;
                                       }) == 0;
        (void)handlerSet;
        return failure;
    }

private:
    // Never destroyed: the exit handler and late readers use them during static destruction.
    static std::mutex& mutex() {
        static auto* made = new std::mutex;
        return *made;
    }
    static bool& closed() {
        static bool value = false;
        return value;
    }
};

simdjson::error_code parseInto(simdjson::dom::parser& parser, std::string_view text, int maxDepth,
                               element& root) {
    const auto depth = static_cast<size_t>(maxDepth);
    const size_t capacity = std::max(text.size(), parser.capacity());
    if (parser.capacity() == 0) {
        if (const auto failure = ParserMaking::allocate(parser, capacity, depth)) {
            return failure;
        }
    } else if (parser.max_depth() != depth || parser.capacity() < text.size()) {
        if (const auto failure = parser.allocate(capacity, depth)) {
            return failure;
        }
    }
    return parser.parse(text.data(), text.size()).get(root);
}

std::optional<KVJson> parse(std::string_view text, const KVJsonMemberFilter* keep, KVError* error,
                            int maxDepth) {
    maxDepth = std::max(maxDepth, 1);
    // nlohmann skips a byte-order mark; simdjson does not.
    constexpr std::string_view kByteOrderMark = "\xEF\xBB\xBF";
    if (text.substr(0, kByteOrderMark.size()) == kByteOrderMark) {
        text.remove_prefix(kByteOrderMark.size());
    }
    thread_local simdjson::dom::parser kept;
    std::optional<simdjson::dom::parser> own;
    simdjson::dom::parser& parser = text.size() <= kKeptParserBytes ? kept : own.emplace();
    element root;
    auto failure = parseInto(parser, text, maxDepth, root);
    if (failure == simdjson::DEPTH_ERROR) {
        // simdjson's limit of n stops at n - 1 levels, but lets an empty container through at
        // level n. A document that reaches the cap is read again with one level more and
        // measured, so that exactly what nests deeper than the cap is refused.
        simdjson::dom::parser deeper;
        failure = parseInto(deeper, text, maxDepth + 1, root);
        if (failure == simdjson::SUCCESS && nestsDeeper(root, maxDepth)) {
            failure = simdjson::DEPTH_ERROR;
        }
        if (failure == simdjson::SUCCESS) {
            return build(root, keep, error);
        }
    }
    switch (failure) {
    case simdjson::SUCCESS:
        return build(root, keep, error);
    case simdjson::DEPTH_ERROR:
        refuseTooDeep(error, maxDepth);
        return std::nullopt;
    case simdjson::NUMBER_ERROR:
        return parseWithNlohmann(text, keep, error, maxDepth);
    case simdjson::MEMALLOC:
        KVSetError(error, kDomain, 1, "Out of memory reading JSON");
        return std::nullopt;
    case simdjson::UNINITIALIZED:
        KVSetError(error, kDomain, 4, "JSON is no longer read: the program is ending");
        return std::nullopt;
    default:
        refuseInvalid(error);
        return std::nullopt;
    }
}

} // namespace

std::optional<KVJson> KVJsonParse(std::string_view text, KVError* error, int maxDepth) {
    return parse(text, nullptr, error, maxDepth);
}

std::optional<KVJson> KVJsonParseFiltered(std::string_view text, const KVJsonMemberFilter& keep,
                                          KVError* error, int maxDepth) {
    return parse(text, &keep, error, maxDepth);
}
