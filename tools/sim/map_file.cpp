#include "map_file.hpp"

#include <fstream>
#include <iterator>
#include <sstream>
#include <stdexcept>

#include "unit_set.hpp"

namespace sim {

using json = nlohmann::ordered_json;

namespace {

// A fault of the map's content at a JSON pointer path.
class MapError : public std::runtime_error {
public:
    MapError(const std::string& path, const std::string& message) : std::runtime_error(path + ": " + message) {}
};

std::string child(const std::string& path, const std::string& key) { return path + "/" + key; }

std::string describe(const json& value) { return value.dump(); }

// "12", "0x1F" -> number within [low, high].
long parseNumberKey(const std::string& path, const std::string& key, long low, long high, const char* what) {
    long value = -1;
    std::size_t used = 0;
    try {
        const bool hex = key.size() > 2 && key[0] == '0' && (key[1] == 'x' || key[1] == 'X');
        value = std::stol(hex ? key.substr(2) : key, &used, hex ? 16 : 10);
        if (hex) used += 2;
    } catch (const std::exception&) {
        used = 0;
    }
    if (used == 0 || used != key.size() || key[0] == '-' || key[0] == '+' || value < low || value > high) {
        throw MapError(child(path, key), "'" + key + "' is not " + what + " (" + std::to_string(low) + ".." +
                                             std::to_string(high) + ")");
    }
    return value;
}

std::uint16_t registerValue(const std::string& path, const json& value) {
    if (value.is_number_integer()) {
        const auto number = value.get<long long>();
        if (number >= -32768 && number <= 65535) return static_cast<std::uint16_t>(number);
    }
    throw MapError(path, describe(value) + " is not a register value (0..65535, or -32768..-1)");
}

std::uint8_t bitValue(const std::string& path, const json& value) {
    if (value.is_boolean()) return value.get<bool>() ? 1 : 0;
    if (value.is_number_integer()) {
        const auto number = value.get<long long>();
        if (number == 0 || number == 1) return static_cast<std::uint8_t>(number);
    }
    throw MapError(path, describe(value) + " is not a bit value (true, false, 1 or 0)");
}

const json& expectObject(const std::string& path, const json& value, const char* what) {
    if (!value.is_object()) throw MapError(path, std::string("expected ") + what + ", found " + describe(value));
    return value;
}

std::string expectText(const std::string& path, const json& value, std::size_t longest, bool emptyAllowed) {
    if (!value.is_string()) throw MapError(path, "expected a text, found " + describe(value));
    const auto text = value.get<std::string>();
    if ((text.empty() && !emptyAllowed) || text.size() > longest) {
        throw MapError(path, "text must have " + std::string(emptyAllowed ? "0" : "1") + " to " +
                                 std::to_string(longest) + " bytes, has " + std::to_string(text.size()));
    }
    return text;
}

// { "address": value-or-array, ... } into a table of `size` entries.
template <typename Table, typename Convert>
void applyValues(const std::string& path, const json& block, long size, Table& table, Convert convert,
                 const char* keyWhat) {
    expectObject(path, block, "an object of address: value(s)");
    for (const auto& [key, values] : block.items()) {
        const std::string entryPath = child(path, key);
        const long start = parseNumberKey(path, key, 0, size - 1, keyWhat);
        if (!values.is_array()) {
            table.set(static_cast<std::uint16_t>(start), convert(entryPath, values));
            continue;
        }
        if (values.empty() || start + static_cast<long>(values.size()) > size) {
            throw MapError(entryPath, std::to_string(values.size()) + " values from " + std::to_string(start) +
                                          " do not fit below " + std::to_string(size));
        }
        for (std::size_t i = 0; i < values.size(); ++i) {
            table.set(static_cast<std::uint16_t>(start + static_cast<long>(i)),
                      convert(child(entryPath, std::to_string(i)), values[i]));
        }
    }
}

void applyFiles(const std::string& path, const json& block, UnitModel& unit) {
    expectObject(path, block, "an object of file number: records");
    for (const auto& [key, records] : block.items()) {
        const long file = parseNumberKey(path, key, 1, 65535, "a file number");
        applyValues(child(path, key), records, kFileRecords, unit.files[static_cast<int>(file)], registerValue,
                    "a record number");
    }
}

void applyDeviceId(const std::string& path, const json& block, UnitModel& unit) {
    expectObject(path, block, "an object of object id: text");
    for (const auto& [key, value] : block.items()) {
        const long id = parseNumberKey(path, key, 0, 255, "a device identification object id");
        const std::string text = expectText(child(path, key), value, kMaxDeviceIdValue, true);
        if (text.empty()) {
            unit.deviceId.erase(static_cast<int>(id));
        } else {
            unit.deviceId[static_cast<int>(id)] = text;
        }
    }
}

void applyUnitBlock(const std::string& path, const json& block, UnitModel& unit) {
    expectObject(path, block, "a unit object");
    for (const auto& [key, value] : block.items()) {
        const std::string keyPath = child(path, key);
        if (key == "holding") {
            applyValues(keyPath, value, SparseTable<std::uint16_t>::kSize, unit.holding, registerValue, "an address");
        } else if (key == "input") {
            applyValues(keyPath, value, SparseTable<std::uint16_t>::kSize, unit.input, registerValue, "an address");
        } else if (key == "coils") {
            applyValues(keyPath, value, SparseTable<std::uint8_t>::kSize, unit.coils, bitValue, "an address");
        } else if (key == "discrete") {
            applyValues(keyPath, value, SparseTable<std::uint8_t>::kSize, unit.discretes, bitValue, "an address");
        } else if (key == "files") {
            applyFiles(keyPath, value, unit);
        } else if (key == "deviceId") {
            applyDeviceId(keyPath, value, unit);
        } else if (key == "slaveId") {
            unit.slaveId = expectText(keyPath, value, kMaxSlaveIdText, false);
        } else if (key == "exceptionStatus") {
            if (!value.is_number_integer() || value.get<long long>() < 0 || value.get<long long>() > 255) {
                throw MapError(keyPath, describe(value) + " is not a status byte (0..255)");
            }
            unit.exceptionStatus = static_cast<std::uint8_t>(value.get<int>());
        } else if (key == "runIndicator") {
            if (!value.is_boolean()) throw MapError(keyPath, "expected true or false, found " + describe(value));
            unit.runIndicator = value.get<bool>();
        } else {
            throw MapError(keyPath, "unknown key '" + key +
                                        "' (known: holding, input, coils, discrete, files, deviceId, slaveId, "
                                        "exceptionStatus, runIndicator)");
        }
    }
}

// "default" -> every served unit; "7" or "10-20" -> those units.
UnitSet unitsOfKey(const std::string& key, const UnitSet& served) {
    if (key == "default") return served;
    std::string error;
    const auto units = parseUnitList(key, false, error);
    if (!units || key.find(',') != std::string::npos) {
        throw MapError("/units/" + key, "'" + key + "' is not \"default\", a unit 0..255 or a range like 10-20");
    }
    return *units;
}

// Line and column (1-based) of a byte offset.
std::string lineAndColumn(std::string_view text, std::size_t offset) {
    std::size_t line = 1;
    std::size_t column = 1;
    for (std::size_t i = 0; i < offset && i < text.size(); ++i) {
        if (text[i] == '\n') {
            ++line;
            column = 1;
        } else {
            ++column;
        }
    }
    return std::to_string(line) + ":" + std::to_string(column);
}

// nlohmann's message without its "[json.exception...] parse error at ...: " prefix.
std::string syntaxMessage(const std::string& what) {
    const auto colon = what.find(": ");
    return colon == std::string::npos ? what : what.substr(colon + 2);
}

}  // namespace

std::optional<MapFile> parseMapText(std::string_view text, const std::string& name, std::string& error) {
    json document;
    try {
        document = json::parse(text.begin(), text.end());
    } catch (const json::parse_error& fault) {
        // The byte position points just past the offending character.
        const std::size_t offset = fault.byte > 0 ? fault.byte - 1 : 0;
        error = name + ":" + lineAndColumn(text, offset) + ": " + syntaxMessage(fault.what());
        return std::nullopt;
    }
    MapFile map;
    map.name = name;
    try {
        expectObject("", document, "a JSON object at the top");
        for (const auto& [key, value] : document.items()) {
            if (key == "demo") {
                if (!value.is_boolean()) throw MapError("/demo", "expected true or false, found " + describe(value));
                map.demo = value.get<bool>();
            } else if (key == "units") {
                map.units = expectObject("/units", value, "an object of unit: block");
            } else {
                throw MapError("/" + key, "unknown key '" + key + "' (known: demo, units)");
            }
        }
    } catch (const MapError& fault) {
        error = name + ": " + fault.what();
        return std::nullopt;
    }
    return map;
}

std::optional<MapFile> readMapFile(const std::string& path, std::string& error) {
    std::ifstream file(path, std::ios::binary);
    if (!file) {
        error = path + ": cannot open the map file";
        return std::nullopt;
    }
    std::ostringstream content;
    content << file.rdbuf();
    if (file.bad()) {
        error = path + ": cannot read the map file";
        return std::nullopt;
    }
    return parseMapText(content.str(), path, error);
}

bool applyMap(const MapFile& map, DeviceModel& model, std::string& error, std::vector<std::string>& warnings) {
    try {
        // "default" first, so that named units override it.
        std::vector<std::pair<std::string, const json*>> blocks;
        if (map.units.contains("default")) blocks.emplace_back("default", &map.units.at("default"));
        for (const auto& [key, block] : map.units.items()) {
            if (key != "default") blocks.emplace_back(key, &block);
        }
        for (const auto& [key, block] : blocks) {
            const std::string path = "/units/" + key;
            const UnitSet units = unitsOfKey(key, model.served());
            if ((units & model.served()).none()) {
                UnitModel scratch;  // still check the block
                applyUnitBlock(path, *block, scratch);
                warnings.push_back(map.name + ": " + path + ": unit " + key + " is not served (see --units); ignored");
                continue;
            }
            for (int address = 0; address < 256; ++address) {
                if (!units.test(static_cast<std::size_t>(address))) continue;
                if (UnitModel* unit = model.unit(address)) applyUnitBlock(path, *block, *unit);
            }
        }
    } catch (const MapError& fault) {
        error = map.name + ": " + fault.what();
        return false;
    }
    return true;
}

}  // namespace sim
