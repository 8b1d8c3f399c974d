#include "web_api.hpp"

#include <array>
#include <optional>
#include <utility>
#include <vector>

#include <nlohmann/json.hpp>

#include "library_limits.hpp"
#include "map_export.hpp"
#include "number_text.hpp"
#include "unit_set.hpp"

namespace sim {

namespace {

using Json = nlohmann::ordered_json;

std::string dump(const Json& json) { return json.dump(-1, ' ', false, Json::error_handler_t::replace); }

WebReply failure(int status, const std::string& message) { return {status, dump(Json{{"error", message}})}; }

enum class Table { Coils, Discrete, Holding, Input };

struct TableInfo {
    Table table;
    const char* name;         // as in the page's requests
    const char* description;  // for messages
};

constexpr TableInfo kTables[] = {
    {Table::Coils, "coils", "coil"},
    {Table::Discrete, "discrete", "discrete input"},
    {Table::Holding, "holding", "holding register"},
    {Table::Input, "input", "input register"},
};

// The unit if it is served; otherwise a 404 with the served units.
std::optional<int> servedUnit(std::string_view text, const UnitSet& served, WebReply& reply) {
    const auto unit = parseNumberIn(text, 0, library::kMaxSlaveAddress);
    if (unit && served.test(static_cast<std::size_t>(*unit))) {
        return static_cast<int>(*unit);
    }
    reply = failure(404, "unit " + std::string(text) + " is not served here (units " + formatRanges(served) + ")");
    return std::nullopt;
}

std::optional<int> wireAddress(std::string_view text, const char* what, WebReply& reply) {
    const auto address = parseNumberIn(text, 0, SparseTable<std::uint16_t>::kSize - 1);
    if (address) return static_cast<int>(*address);
    reply = failure(404, std::string("no ") + what + " " + std::string(text) + ": addresses are 0..65535");
    return std::nullopt;
}

// The new value of a bit or register, or a 400 saying why it is refused.
std::optional<std::uint16_t> newValue(const TableInfo& table, std::string_view text, WebReply& reply) {
    const auto value = parseWholeNumber(text);
    if (table.table == Table::Coils || table.table == Table::Discrete) {
        if (value && (*value == 0 || *value == 1)) return static_cast<std::uint16_t>(*value);
        if (text == "true" || text == "false") return static_cast<std::uint16_t>(text == "true");
        reply = failure(400, "'" + std::string(text) + "' is not a " + table.description + " value: use 0 or 1");
        return std::nullopt;
    }
    if (!value) {
        reply = failure(400, "'" + std::string(text) + "' is not a number");
    } else if (*value < -32768 || *value > 65535) {
        reply = failure(400, std::string(text) + " is out of range: a " + table.description +
                                 " holds 0..65535 (or -32768..-1, taken as signed)");
    } else {
        return static_cast<std::uint16_t>(*value);
    }
    return std::nullopt;
}

// The values of one view, copied under the lock.
struct ViewValues {
    int registers = 0;  // count, plus one where the last row's pair has a second half
    std::array<char, WebApi::kMaxViewCount> coils{};
    std::array<char, WebApi::kMaxViewCount> discrete{};
    std::array<std::uint16_t, WebApi::kMaxViewCount + 1> holding{};
    std::array<std::uint16_t, WebApi::kMaxViewCount + 1> input{};
};

void readView(const UnitModel& unit, const WebView& view, std::uint64_t uptimeMs, ViewValues& out) {
    const int startRef = view.start + 1;
    out.registers = view.start + view.count < SparseTable<std::uint16_t>::kSize ? view.count + 1 : view.count;
    unit.readCoils(startRef, out.coils.data(), view.count);
    unit.readDiscretes(startRef, out.discrete.data(), view.count, uptimeMs);
    unit.readHolding(startRef, out.holding.data(), out.registers);
    unit.readInput(startRef, out.input.data(), out.registers, uptimeMs);
}

template <typename Array>
Json list(const Array& values, int count) {
    Json json = Json::array();
    for (int i = 0; i < count; ++i) json.push_back(static_cast<int>(values[static_cast<std::size_t>(i)]));
    return json;
}

Json recordJson(const TrafficRecord& record) {
    Json json{{"seq", record.sequence}, {"timeMs", record.timeMs},       {"master", record.master},
              {"unit", record.unit},    {"units", record.units},       {"function", record.function},
              {"range", record.range},  {"result", resultName(record.result)}};
    json["exception"] = record.exceptionCode != 0 ? Json(record.exceptionCode) : Json(nullptr);
    if (record.role[0] != '\0') json["role"] = record.role;  // tls only
    return json;
}

std::string event(const char* name, const std::string& data) {
    return std::string("event: ") + name + "\ndata: " + data + "\n\n";
}

}  // namespace

WebApi::WebApi(BridgeContext& context, std::string title, bool connections)
    : context_(context), title_(std::move(title)), connections_(connections) {}

WebReply WebApi::info() const {
    Json units = Json::array();
    const UnitSet& served = context_.model->served();
    for (int unit = 0; unit < 256; ++unit) {
        if (served.test(static_cast<std::size_t>(unit))) units.push_back(unit);
    }
    return {200, dump(Json{{"title", title_}, {"units", units}, {"maxCount", kMaxViewCount}})};
}

WebReply WebApi::openView(std::string_view unit, std::string_view start, std::string_view count,
                          WebView& view) const {
    WebReply reply;
    const auto served = servedUnit(unit, context_.model->served(), reply);
    if (!served) return reply;
    const auto first = wireAddress(start, "address", reply);
    if (!first) return reply;
    const auto rows = parseNumberIn(count, 1, kMaxViewCount);
    if (!rows) {
        return failure(400, "count '" + std::string(count) + "' is not 1.." + std::to_string(kMaxViewCount));
    }
    view = WebView{};
    view.unit = *served;
    view.start = *first;
    view.count = static_cast<int>(std::min<long>(*rows, SparseTable<std::uint16_t>::kSize - *first));
    return reply;
}

std::string WebApi::valuesJson(const WebView& view) const {
    ViewValues values;
    {
        const std::uint64_t uptimeMs = context_.uptimeMs ? context_.uptimeMs() : 0;
        const std::lock_guard<std::mutex> guard(context_.lock);
        readView(*context_.model->unit(view.unit), view, uptimeMs, values);
    }
    return dump(Json{{"unit", view.unit},
                     {"start", view.start},
                     {"count", view.count},
                     {"coils", list(values.coils, view.count)},
                     {"discrete", list(values.discrete, view.count)},
                     {"holding", list(values.holding, values.registers)},
                     {"input", list(values.input, values.registers)}});
}

WebReply WebApi::values(const WebView& view) const { return {200, valuesJson(view)}; }

WebReply WebApi::edit(std::string_view unit, std::string_view table, std::string_view address,
                      std::string_view value, std::optional<std::string_view> next) {
    WebReply reply;
    const auto served = servedUnit(unit, context_.model->served(), reply);
    if (!served) return reply;
    const TableInfo* info = nullptr;
    for (const auto& candidate : kTables) {
        if (table == candidate.name) info = &candidate;
    }
    if (info == nullptr) {
        return failure(404, "no table '" + std::string(table) + "': coils, discrete, holding or input");
    }
    const auto wire = wireAddress(address, info->description, reply);
    if (!wire) return reply;
    const auto newBits = newValue(*info, value, reply);
    if (!newBits) return reply;
    std::optional<std::uint16_t> nextBits;
    if (next) {
        if (info->table != Table::Holding && info->table != Table::Input) {
            return failure(400, "only registers are set in pairs");
        }
        if (*wire + 1 >= SparseTable<std::uint16_t>::kSize) {
            return failure(400, std::string(info->description) + " " + std::to_string(*wire) +
                                    " is the last: a pair needs the next register too");
        }
        nextBits = newValue(*info, *next, reply);
        if (!nextBits) return reply;
    }

    const auto at = static_cast<std::uint16_t>(*wire);
    UnitModel& model = *context_.model->unit(*served);
    // Both halves of a pair under one lock: a master reads both or neither.
    const std::lock_guard<std::mutex> guard(context_.lock);
    const bool liveValue = model.live && ((info->table == Table::Input && *wire < kLiveInputRegisters) ||
                                          (info->table == Table::Discrete && *wire == 0));
    if (liveValue) {  // a pair from input register 4 on has no live half
        return failure(409, std::string(info->description) + " " + std::to_string(*wire) +
                                " is a live value of the demo device and cannot be set");
    }
    switch (info->table) {
        case Table::Coils: model.coils.set(at, static_cast<std::uint8_t>(*newBits)); break;
        case Table::Discrete: model.discretes.set(at, static_cast<std::uint8_t>(*newBits)); break;
        case Table::Holding: model.holding.set(at, *newBits); break;
        case Table::Input: model.input.set(at, *newBits); break;
    }
    Json done{{"unit", *served}, {"table", info->name}, {"address", *wire}, {"value", *newBits}};
    if (nextBits) {
        (info->table == Table::Holding ? model.holding : model.input).set(static_cast<std::uint16_t>(at + 1), *nextBits);
        done["next"] = *nextBits;
    }
    return {200, dump(done)};
}

WebReply WebApi::editFromBody(std::string_view unit, std::string_view table, std::string_view address,
                              std::string_view body) {
    const Json request = Json::parse(body.begin(), body.end(), nullptr, false);
    const auto valid = [](const Json& value) {
        return value.is_string() || value.is_number_integer() || value.is_boolean();
    };
    const auto text = [](const Json& value) { return value.is_string() ? value.get<std::string>() : value.dump(); };
    const bool pair = request.is_object() && request.size() == 2 && request.contains("next");
    const auto value = request.is_object() && request.size() == (pair ? 2u : 1u) ? request.find("value") : request.end();
    if (value == request.end() || !valid(*value) || (pair && !valid(request.at("next")))) {
        return failure(400, "the body must be {\"value\": V} or {\"value\": V, \"next\": W}, each a number, a "
                            "text or true/false");
    }
    const std::string nextText = pair ? text(request.at("next")) : std::string();
    return edit(unit, table, address, text(*value),
                pair ? std::optional<std::string_view>(nextText) : std::nullopt);
}

WebReply WebApi::mapFile() const {
    Json units = Json::object();
    const UnitSet& served = context_.model->served();
    for (int unit = 0; unit < 256; ++unit) {
        if (!served.test(static_cast<std::size_t>(unit))) continue;
        // One unit at a time, so that the Modbus side waits at most for one.
        const std::lock_guard<std::mutex> guard(context_.lock);
        units[std::to_string(unit)] = unitBlock(*context_.model->unit(unit));
    }
    return {200, Json{{"demo", false}, {"units", std::move(units)}}.dump(2, ' ', false, Json::error_handler_t::replace) + "\n"};
}

std::string WebApi::update(WebView& view) const {
    std::string events;
    std::string values = valuesJson(view);
    if (values != view.lastValues) {
        events += event("values", values);
        view.lastValues = std::move(values);
    }

    std::vector<TrafficRecord> records;
    records.reserve(kMaxLogRecordsPerUpdate);
    std::array<std::uint32_t, 256> perUnit{};
    Json counters;
    {
        const std::lock_guard<std::mutex> guard(context_.lock);
        if (context_.traffic != nullptr) {
            const std::uint64_t newest = context_.traffic->newest();
            if (newest > view.logSeen + kMaxLogRecordsPerUpdate) view.logSeen = newest - kMaxLogRecordsPerUpdate;
            view.logSeen = context_.traffic->forEachAfter(
                view.logSeen, [&](const TrafficRecord& record) { records.push_back(record); });
        }
        if (context_.trace != nullptr) perUnit = context_.trace->finishedPerUnit();
        counters = Json{{"received", context_.received},
                        {"served", context_.served},
                        {"connections", connections_ ? Json(context_.connectionsOpen) : Json(nullptr)},
                        {"timeOuts", context_.timeOutNotices}};
    }
    Json units = Json::object();
    for (int unit = 0; unit < 256; ++unit) {
        if (perUnit[static_cast<std::size_t>(unit)] != 0) units[std::to_string(unit)] = perUnit[static_cast<std::size_t>(unit)];
    }
    counters["perUnit"] = units;
    std::string countersText = dump(counters);
    if (countersText != view.lastCounters) {
        events += event("counters", countersText);
        view.lastCounters = std::move(countersText);
    }

    if (!records.empty()) {
        Json log = Json::array();
        for (const auto& record : records) log.push_back(recordJson(record));
        events += event("log", dump(log));
    }
    return events;
}

}  // namespace sim
