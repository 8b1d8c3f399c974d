#include "map_export.hpp"

#include <string>

namespace sim {

namespace {

using Json = nlohmann::ordered_json;

// {"start": [values...], ...} for the runs of non-zero values below size.
template <typename Table>
Json runs(const Table& table, int size) {
    Json block = Json::object();
    Json* run = nullptr;
    for (int address = 0; address < size; ++address) {
        const int value = table.get(static_cast<std::uint16_t>(address));
        if (value == 0) {
            run = nullptr;
            continue;
        }
        if (run == nullptr) run = &(block[std::to_string(address)] = Json::array());
        run->push_back(value);
    }
    return block;
}

}  // namespace

Json unitBlock(const UnitModel& unit) {
    Json block = Json::object();
    const auto put = [&block](const char* key, Json values) {
        if (!values.empty()) block[key] = std::move(values);
    };
    put("holding", runs(unit.holding, SparseTable<std::uint16_t>::kSize));
    put("input", runs(unit.input, SparseTable<std::uint16_t>::kSize));
    put("coils", runs(unit.coils, SparseTable<std::uint8_t>::kSize));
    put("discrete", runs(unit.discretes, SparseTable<std::uint8_t>::kSize));
    Json files = Json::object();
    for (const auto& [number, records] : unit.files) {
        Json values = runs(records, kFileRecords);
        files[std::to_string(number)] = values.empty() ? Json{{"0", 0}} : std::move(values);
    }
    put("files", std::move(files));
    Json objects = Json::object();
    for (int id = 0; id <= 2; ++id) {
        if (unit.deviceId.count(id) == 0) objects[std::to_string(id)] = "";
    }
    for (const auto& [id, text] : unit.deviceId) objects[std::to_string(id)] = text;
    put("deviceId", std::move(objects));
    if (!unit.slaveId.empty()) block["slaveId"] = unit.slaveId;
    block["exceptionStatus"] = unit.exceptionStatus;
    block["runIndicator"] = unit.runIndicator;
    return block;
}

}  // namespace sim
