// The map file: initial values of the simulated units, in JSON.
//
// {
//   "demo": false,                       optional: start from the demo device
//   "units": {
//     "default": { ... },                every served unit
//     "1":       { ... },                one unit
//     "10-20":   { ... }                 a range of units
//   }
// }
//
// A unit block (every key optional; addresses are wire addresses 0..65535,
// decimal or 0x hexadecimal; a value or an array of consecutive values):
//   "holding":  { "0": 1234, "100": [1, 2, 3] }      registers 0..65535 or -32768..-1
//   "input":    { "0": [10, 20] }
//   "coils":    { "0": [true, false, 1] }            bits: true/false or 1/0
//   "discrete": { "5": true }
//   "files":    { "1": { "0": [1, 2, 3] } }           file 1..65535 -> record 0..9999 -> registers
//                                                    (a file without records is not made)
//   "deviceId": { "0": "Acme", "3": "https://acme.example", "128": "x" }   "" removes an object
//   "slaveId":  "Acme pump controller"
//   "exceptionStatus": 5
//   "runIndicator": true
#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include <nlohmann/json.hpp>

#include "device_model.hpp"

namespace sim {

// Largest map file read, and deepest nesting of arrays and objects in it.
constexpr std::size_t kMaxMapFileBytes = std::size_t{16} << 20;
constexpr std::size_t kMaxNesting = 32;

struct MapFile {
    std::string name;  // file name, for messages
    bool demo = false;
    nlohmann::ordered_json units = nlohmann::ordered_json::object();  // file order kept
};

// Reads and checks the file's JSON syntax and top level: a regular file of
// at most kMaxMapFileBytes, nested at most kMaxNesting deep, no key twice in
// one object. Errors name the file and, for syntax errors, the line and
// column.
std::optional<MapFile> readMapFile(const std::string& path, std::string& error);
std::optional<MapFile> parseMapText(std::string_view text, const std::string& name, std::string& error);

// Applies the unit blocks to the model ("default" first, then the named
// units in file order). Every block is checked, also those of units that are
// not served, which only earn a warning.
bool applyMap(const MapFile& map, DeviceModel& model, std::string& error, std::vector<std::string>& warnings);

}  // namespace sim
