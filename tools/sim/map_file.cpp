#include "map_file.hpp"

#include <iterator>
#include <map>
#include <new>
#include <set>
#include <stdexcept>

#include "number_text.hpp"
#include "text_file.hpp"
#include "unit_set.hpp"

namespace sim {

using json = nlohmann::ordered_json;

namespace {

// A fault of the map's content at a JSON pointer path.
class MapError : public std::runtime_error {
public:
    MapError(const std::string& path, const std::string& message) : std::runtime_error(path + ": " + message) {}
};

constexpr const char* kNoMemory = "not enough memory for the map's values (hint: fewer units or files)";

// Longest excerpt of a key or value that a message quotes.
constexpr std::size_t kExcerpt = 40;

std::string excerpt(const std::string& text) {
    return text.size() <= kExcerpt ? text : text.substr(0, kExcerpt - 3) + "...";
}

std::string child(const std::string& path, const std::string& key) { return path + "/" + excerpt(key); }

// A value for a message: its type and the start of its JSON text.
std::string describe(const json& value) {
    const std::string text = excerpt(value.dump(-1, ' ', false, json::error_handler_t::replace));
    if (value.is_array()) return "array of " + std::to_string(value.size()) + " values " + text;
    if (value.is_object()) return "object of " + std::to_string(value.size()) + " members " + text;
    if (value.is_string()) return "text " + text;
    return text;
}

// Each number key of one object once: "0" and "0x0" name the same address.
class NumberKeys {
public:
    void add(const std::string& path, const std::string& key, long number) {
        const auto [at, added] = seen_.emplace(number, key);
        if (!added) {
            throw MapError(child(path, key), "'" + excerpt(key) + "' names " + std::to_string(number) +
                                                 " again (as '" + excerpt(at->second) + "')");
        }
    }

private:
    std::map<long, std::string> seen_;
};

// "12", "0x1F" -> number within [low, high].
long parseNumberKey(const std::string& path, const std::string& key, long low, long high, const char* what) {
    const auto value = parseNumberIn(key, low, high);
    if (!value) {
        throw MapError(child(path, key), "'" + excerpt(key) + "' is not " + what + " (" + std::to_string(low) + ".." +
                                             std::to_string(high) + ")");
    }
    return *value;
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
    NumberKeys keys;
    for (const auto& [key, values] : block.items()) {
        const std::string entryPath = child(path, key);
        const long start = parseNumberKey(path, key, 0, size - 1, keyWhat);
        keys.add(path, key, start);
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
    NumberKeys keys;
    for (const auto& [key, records] : block.items()) {
        const long file = parseNumberKey(path, key, 1, 65535, "a file number");
        keys.add(path, key, file);
        // A file without records is not made: its table would cost memory
        // for nothing (and a master's access to it is refused).
        const std::string filePath = child(path, key);
        expectObject(filePath, records, "an object of address: value(s)");
        if (records.empty()) continue;
        applyValues(filePath, records, kFileRecords, unit.files[static_cast<int>(file)], registerValue,
                    "a record number");
    }
}

void applyDeviceId(const std::string& path, const json& block, UnitModel& unit) {
    expectObject(path, block, "an object of object id: text");
    NumberKeys keys;
    for (const auto& [key, value] : block.items()) {
        const long id = parseNumberKey(path, key, 0, 255, "a device identification object id");
        keys.add(path, key, id);
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
            throw MapError(keyPath, "unknown key '" + excerpt(key) +
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
        throw MapError(child("/units", key), "'" + excerpt(key) + "' is not \"default\", a unit 0..255 or a range like 10-20");
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

// Offset of the first '[' or '{' nested deeper than kMaxNesting, or npos.
// Deeper documents are refused before they are parsed: every step that
// walks a value (messages too) would recurse that deep.
std::size_t tooDeep(std::string_view text) {
    std::size_t depth = 0;
    bool inText = false;
    for (std::size_t i = 0; i < text.size(); ++i) {
        const char c = text[i];
        if (inText) {
            if (c == '\\') {
                ++i;
            } else if (c == '"') {
                inText = false;
            }
        } else if (c == '"') {
            inText = true;
        } else if (c == '[' || c == '{') {
            if (++depth > kMaxNesting) return i;
        } else if ((c == ']' || c == '}') && depth > 0) {
            --depth;
        }
    }
    return std::string_view::npos;
}

// Follows the parser through the document to refuse a key repeated in one
// object (JSON keeps only one of them) with its JSON path.
class RepeatedKeys {
public:
    bool operator()(int, json::parse_event_t event, json& parsed) {
        switch (event) {
            case json::parse_event_t::object_start: levels_.emplace_back(false); break;
            case json::parse_event_t::array_start: levels_.emplace_back(true); break;
            case json::parse_event_t::key: {
                Level& level = levels_.back();
                level.key = parsed.get<std::string>();
                if (!level.keys.insert(level.key).second) throw MapError(path(), "key given twice in one object");
                break;
            }
            case json::parse_event_t::object_end:
            case json::parse_event_t::array_end:
                levels_.pop_back();
                next();
                break;
            case json::parse_event_t::value: next(); break;
        }
        return true;
    }

private:
    struct Level {
        explicit Level(bool isArray) : array(isArray) {}
        bool array;
        std::size_t index = 0;
        std::string key;
        std::set<std::string> keys;
    };

    void next() {
        if (!levels_.empty() && levels_.back().array) ++levels_.back().index;
    }
    std::string path() const {
        std::string text;
        for (const Level& level : levels_) text = child(text, level.array ? std::to_string(level.index) : level.key);
        return text;
    }

    std::vector<Level> levels_;
};

}  // namespace

std::optional<MapFile> parseMapText(std::string_view text, const std::string& name, std::string& error) {
    const std::size_t deep = tooDeep(text);
    if (deep != std::string_view::npos) {
        error = name + ":" + lineAndColumn(text, deep) + ": nested deeper than " + std::to_string(kMaxNesting) +
                " levels";
        return std::nullopt;
    }
    MapFile map;
    map.name = name;
    try {
        RepeatedKeys repeated;
        const json document = json::parse(text.begin(), text.end(),
                                          [&repeated](int depth, json::parse_event_t event, json& parsed) {
                                              return repeated(depth, event, parsed);
                                          });
        expectObject("", document, "a JSON object at the top");
        for (const auto& [key, value] : document.items()) {
            if (key == "demo") {
                if (!value.is_boolean()) throw MapError("/demo", "expected true or false, found " + describe(value));
                map.demo = value.get<bool>();
            } else if (key == "units") {
                map.units = expectObject("/units", value, "an object of unit: block");
            } else {
                throw MapError(child("", key), "unknown key '" + excerpt(key) + "' (known: demo, units)");
            }
        }
    } catch (const json::parse_error& fault) {
        // The byte position points just past the offending character.
        const std::size_t offset = fault.byte > 0 ? fault.byte - 1 : 0;
        error = name + ":" + lineAndColumn(text, offset) + ": " + syntaxMessage(fault.what());
        return std::nullopt;
    } catch (const MapError& fault) {
        error = name + ": " + fault.what();
        return std::nullopt;
    } catch (const std::bad_alloc&) {
        error = name + ": " + kNoMemory;
        return std::nullopt;
    }
    return map;
}

std::optional<MapFile> readMapFile(const std::string& path, std::string& error) {
    const auto content = readTextFile(path, kMaxMapFileBytes, {"map file", "a JSON text file"}, error);
    if (!content) return std::nullopt;
    return parseMapText(*content, path, error);
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
    } catch (const std::bad_alloc&) {
        error = map.name + ": " + kNoMemory;
        return false;
    }
    return true;
}

}  // namespace sim
