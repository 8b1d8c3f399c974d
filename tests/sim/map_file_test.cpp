#include <gtest/gtest.h>

#include <cstdio>
#include <fstream>

#include "map_export.hpp"
#include "map_file.hpp"

namespace sim {
namespace {

UnitSet unitsOf(std::initializer_list<int> addresses) {
    UnitSet units;
    for (int address : addresses) units.set(static_cast<std::size_t>(address));
    return units;
}

// Parses and applies a map to a model serving the given units.
struct Loaded {
    bool ok = false;
    std::string error;
    std::vector<std::string> warnings;
    std::unique_ptr<DeviceModel> model;
};

Loaded load(const std::string& text, UnitSet served = unitsOf({1, 2})) {
    Loaded result;
    const auto map = parseMapText(text, "plant.json", result.error);
    if (!map) return result;
    result.model = std::make_unique<DeviceModel>(served, "2.11.0.0", map->demo);
    result.ok = applyMap(*map, *result.model, result.error, result.warnings);
    return result;
}

TEST(SimMapFile, AppliesEveryKindOfData) {
    const auto loaded = load(R"({
      "units": {
        "1": {
          "holding":  { "0": 1234, "0x10": [1, -1, 65535] },
          "input":    { "65535": 9 },
          "coils":    { "3": [true, false, 1] },
          "discrete": { "0": true },
          "files":    { "4": { "9999": 77, "0": [5, 6] }, "5": {} },
          "deviceId": { "0": "Acme", "1": "", "128": "private" },
          "slaveId":  "Acme pump",
          "exceptionStatus": 165,
          "runIndicator": false
        }
      }
    })");
    ASSERT_TRUE(loaded.ok) << loaded.error;
    const UnitModel& unit = *loaded.model->unit(1);
    EXPECT_EQ(unit.holding.get(0), 1234);
    EXPECT_EQ(unit.holding.get(16), 1);
    EXPECT_EQ(unit.holding.get(17), 65535);
    EXPECT_EQ(unit.holding.get(18), 65535);
    EXPECT_EQ(unit.input.get(65535), 9);
    EXPECT_EQ(unit.coils.get(3), 1);
    EXPECT_EQ(unit.coils.get(4), 0);
    EXPECT_EQ(unit.coils.get(5), 1);
    EXPECT_EQ(unit.discretes.get(0), 1);
    EXPECT_EQ(unit.files.at(4).get(9999), 77);
    EXPECT_EQ(unit.files.at(4).get(1), 6);
    EXPECT_EQ(unit.files.count(5), 0u);  // no records: no table
    EXPECT_EQ(unit.deviceId.at(0), "Acme");
    EXPECT_EQ(unit.deviceId.count(1), 0u);
    EXPECT_EQ(unit.deviceId.at(2), "2.11.0.0");
    EXPECT_EQ(unit.deviceId.at(128), "private");
    EXPECT_EQ(unit.slaveId, "Acme pump");
    EXPECT_EQ(unit.exceptionStatus, 165);
    EXPECT_FALSE(unit.runIndicator);
    EXPECT_FALSE(unit.live);
    EXPECT_EQ(loaded.model->unit(2)->holding.get(0), 0);
}

TEST(SimMapFile, DefaultFirstThenUnitsInFileOrder) {
    const auto loaded = load(R"({
      "demo": true,
      "units": {
        "2":       { "holding": { "0": 2 } },
        "1-2":     { "holding": { "0": 12, "1": 12 } },
        "default": { "holding": { "0": 99, "1": 99, "2": 99 } }
      }
    })");
    ASSERT_TRUE(loaded.ok) << loaded.error;
    EXPECT_TRUE(loaded.model->unit(1)->live);
    EXPECT_EQ(loaded.model->unit(1)->holding.get(0), 12);
    EXPECT_EQ(loaded.model->unit(2)->holding.get(0), 12);  // "1-2" comes after "2"
    EXPECT_EQ(loaded.model->unit(2)->holding.get(2), 99);
    EXPECT_EQ(loaded.model->unit(2)->holding.get(3), 40);  // demo value kept
}

TEST(SimMapFile, UnservedUnitsAreCheckedAndWarnedAbout) {
    auto loaded = load(R"({"units": {"7": {"holding": {"0": 1}}}})");
    ASSERT_TRUE(loaded.ok) << loaded.error;
    ASSERT_EQ(loaded.warnings.size(), 1u);
    EXPECT_NE(loaded.warnings[0].find("unit 7 is not served"), std::string::npos) << loaded.warnings[0];

    loaded = load(R"({"units": {"7": {"holding": {"0": 70000}}}})");
    EXPECT_FALSE(loaded.ok);
    EXPECT_NE(loaded.error.find("/units/7/holding/0"), std::string::npos) << loaded.error;
}

TEST(SimMapFile, SyntaxErrorsNameLineAndColumn) {
    struct Case {
        const char* text;
        const char* location;
    };
    const Case cases[] = {
        {"{\n  \"units\": {\n    \"1\": { \"holding\": { \"0\": 1, } }\n  }\n}\n", "plant.json:3:33: "},
        {"{ \"units\": }", "plant.json:1:12: "},
        {"", "plant.json:1:1: "},
        {"{\"units\": {}}\n\n  x", "plant.json:3:3: "},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.text);
        std::string error;
        EXPECT_FALSE(parseMapText(c.text, "plant.json", error));
        EXPECT_EQ(error.rfind(c.location, 0), 0u) << error;
        EXPECT_EQ(error.find("[json.exception"), std::string::npos) << error;
    }
}

TEST(SimMapFile, ContentErrorsNameThePathAndTheFault) {
    struct Case {
        const char* text;
        const char* expected;
    };
    const Case cases[] = {
        {R"([1, 2])", "plant.json: : expected a JSON object at the top"},
        {R"({"unit": {}})", "/unit: unknown key 'unit'"},
        {R"({"demo": 1})", "/demo: expected true or false"},
        {R"({"units": []})", "/units: expected an object"},
        {R"({"units": {"x": {}}})", "/units/x: 'x' is not \"default\""},
        {R"({"units": {"1,2": {}}})", "/units/1,2: '1,2' is not"},
        {R"({"units": {"300": {}}})", "/units/300: '300' is not"},
        {R"({"units": {"1": []}})", "/units/1: expected a unit object"},
        {R"({"units": {"1": {"holdings": {}}}})", "/units/1/holdings: unknown key 'holdings'"},
        {R"({"units": {"1": {"holding": {"65536": 1}}}})", "/units/1/holding/65536: '65536' is not an address"},
        {R"({"units": {"1": {"holding": {"-1": 1}}}})", "/units/1/holding/-1: '-1' is not an address"},
        {R"({"units": {"1": {"holding": {"1x": 1}}}})", "/units/1/holding/1x: '1x' is not an address"},
        {R"({"units": {"1": {"holding": {" 1": 1}}}})", "/units/1/holding/ 1: ' 1' is not an address"},
        {R"({"units": {"1": {"holding": {"+1": 1}}}})", "/units/1/holding/+1: '+1' is not an address"},
        {R"({"units": {"1": {"holding": {"0x-5": 1}}}})", "/units/1/holding/0x-5: '0x-5' is not an address"},
        {R"({"units": {"1": {"holding": {"0": 65536}}}})", "/units/1/holding/0: 65536 is not a register value"},
        {R"({"units": {"1": {"holding": {"0": -32769}}}})", "/units/1/holding/0: -32769 is not a register value"},
        {R"({"units": {"1": {"holding": {"0": 1.5}}}})", "/units/1/holding/0: 1.5 is not a register value"},
        {R"({"units": {"1": {"holding": {"0": [1, "2"]}}}})", "/units/1/holding/0/1: text \"2\" is not a register value"},
        {R"({"units": {"1": {"holding": {"65535": [1, 2]}}}})", "/units/1/holding/65535: 2 values from 65535 do not fit"},
        {R"({"units": {"1": {"holding": {"0": []}}}})", "/units/1/holding/0: 0 values"},
        {R"({"units": {"1": {"coils": {"0": 2}}}})", "/units/1/coils/0: 2 is not a bit value"},
        {R"({"units": {"1": {"files": {"0": {}}}}})", "/units/1/files/0: '0' is not a file number"},
        {R"({"units": {"1": {"files": {"1": {"10000": 1}}}}})", "/units/1/files/1/10000: '10000' is not a record number"},
        {R"({"units": {"1": {"files": {"1": {"9999": [1, 2]}}}}})", "/units/1/files/1/9999: 2 values from 9999 do not fit below 10000"},
        {R"({"units": {"1": {"deviceId": {"256": "x"}}}})", "/units/1/deviceId/256: '256' is not a device identification object id"},
        {R"({"units": {"1": {"deviceId": {"3": 5}}}})", "/units/1/deviceId/3: expected a text"},
        {R"({"units": {"1": {"slaveId": ""}}})", "/units/1/slaveId: text must have 1 to 249 bytes, has 0"},
        {R"({"units": {"1": {"exceptionStatus": 256}}})", "/units/1/exceptionStatus: 256 is not a status byte"},
        {R"({"units": {"1": {"runIndicator": "yes"}}})", "/units/1/runIndicator: expected true or false"},
        {R"({"units": {"1": {"holding": {"0": {"a": 1}}}}})", "/units/1/holding/0: object of 1 members {\"a\":1} is not"},
        {R"({"units": {"1": {}, "1": {}}})", "/units/1: key given twice in one object"},
        {R"({"units": {"1": {"holding": {"0": 5, "0": 6}}}})", "/units/1/holding/0: key given twice"},
        {R"({"units": {"1": {"holding": {"0": [{"a": 1}, {"b": 1, "b": 2}]}}}})", "/units/1/holding/0/1/b: key given twice"},
        {R"({"units": {"1": {"holding": {"0": 5, "6": [1], "0x0": 7}}}})", "/units/1/holding/0x0: '0x0' names 0 again (as '0')"},
        {R"({"units": {"1": {"coils": {"0x1F": 1, "31": 0}}}})", "/units/1/coils/31: '31' names 31 again (as '0x1F')"},
        {R"({"units": {"1": {"files": {"1": {"0": 1}, "0x1": {"1": 1}}}}})", "/units/1/files/0x1: '0x1' names 1 again"},
        {R"({"units": {"1": {"deviceId": {"5": "a", "0x05": "b"}}}})", "/units/1/deviceId/0x05: '0x05' names 5 again"},
        {R"({"units": {"1": {"files": {"2": []}}}})", "/units/1/files/2: expected an object of address: value(s)"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.text);
        const auto loaded = load(c.text);
        EXPECT_FALSE(loaded.ok);
        EXPECT_NE(loaded.error.find(c.expected), std::string::npos) << loaded.error;
        EXPECT_EQ(loaded.error.rfind("plant.json: ", 0), 0u) << loaded.error;
    }
}

// Documents built to exhaust the loader: each is refused with a message of a
// line, never a crash.
TEST(SimMapFile, DeepAndHugeDocumentsGetShortMessages) {
    const auto repeat = [](const std::string& part, std::size_t times) {
        std::string text;
        for (std::size_t i = 0; i < times; ++i) text += part;
        return text;
    };
    const std::string ones = repeat("1,", 250000) + "1";
    const std::string longKey(100000, 'k');
    struct Case {
        std::string text;
        const char* expected;
    };
    const Case cases[] = {
        {repeat("[", 200000) + repeat("]", 200000), "plant.json:1:33: nested deeper than 32 levels"},
        {"{\"units\": {\"1\": " + repeat("{\"a\": ", 40) + "1" + repeat("}", 40) + "}}", "plant.json:1:197: nested deeper"},
        {"{\"units\": [" + ones + "]}", "/units: expected an object of unit: block, found array of 250001 values [1,1,1,"},
        {"{\"units\": {\"1\": {\"holding\": {\"" + longKey + "\": 1}}}}", "/units/1/holding/kkkkkkk"},
        {"{\"units\": {\"1\": {\"holding\": {\"0\": \"" + longKey + "\"}}}}", "/units/1/holding/0: text \"kkkk"},
        {"{\"units\": {\"1\": {\"a\": 1, \"" + longKey + "\": 1, \"" + longKey + "\": 2}}}", "/units/1/kkkk"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.text.substr(0, 60));
        const auto loaded = load(c.text);
        EXPECT_FALSE(loaded.ok);
        EXPECT_NE(loaded.error.find(c.expected), std::string::npos) << loaded.error;
        EXPECT_LT(loaded.error.size(), 200u) << loaded.error;
    }
    // 32 levels are read (here the content is then refused for what it is).
    const auto loaded = load("{\"units\": {\"1\": {\"holding\": {\"0\": " + repeat("[", 28) + "1" + repeat("]", 28) + "}}}}");
    EXPECT_NE(loaded.error.find("/units/1/holding/0/0: array of 1 values"), std::string::npos) << loaded.error;
}

// The page's "Save as map file": read back, every value is as it was.
TEST(SimMapFile, SavedUnitsReadBackTheSame) {
    auto original = load(R"({
      "demo": true,
      "units": {
        "1": { "holding": { "0": [0, 7, 0, 0], "100": [-1, 65535], "65535": 3 },
               "coils": { "8": [false, true, true] }, "discrete": { "65535": 1 },
               "files": { "2": { "9999": 5 }, "3": { "0": 0 } },
               "deviceId": { "1": "", "128": "x" }, "slaveId": "pump", "exceptionStatus": 9, "runIndicator": false },
        "2": { "input": { "0x10": [1, 2] } }
      }
    })");
    ASSERT_TRUE(original.ok) << original.error;
    nlohmann::ordered_json saved{{"demo", false}, {"units", nlohmann::ordered_json::object()}};
    for (int unit : {1, 2}) saved["units"][std::to_string(unit)] = unitBlock(*original.model->unit(unit));
    const auto copy = load(saved.dump());
    ASSERT_TRUE(copy.ok) << copy.error << "\n" << saved.dump();
    for (int address : {1, 2}) {
        SCOPED_TRACE(address);
        const UnitModel& a = *original.model->unit(address);
        const UnitModel& b = *copy.model->unit(address);
        for (int at = 0; at < SparseTable<std::uint16_t>::kSize; ++at) {
            const auto wire = static_cast<std::uint16_t>(at);
            ASSERT_EQ(a.holding.get(wire), b.holding.get(wire)) << "holding " << at;
            ASSERT_EQ(a.input.get(wire), b.input.get(wire)) << "input " << at;
            ASSERT_EQ(a.coils.get(wire), b.coils.get(wire)) << "coil " << at;
            ASSERT_EQ(a.discretes.get(wire), b.discretes.get(wire)) << "discrete " << at;
        }
        ASSERT_EQ(a.files.size(), b.files.size());
        for (const auto& [number, records] : a.files) {
            for (int record = 0; record < kFileRecords; ++record) {
                const auto at = static_cast<std::uint16_t>(record);
                ASSERT_EQ(records.get(at), b.files.at(number).get(at)) << "file " << number << " record " << record;
            }
        }
        EXPECT_EQ(a.deviceId, b.deviceId);
        EXPECT_EQ(a.slaveId, b.slaveId);
        EXPECT_EQ(a.exceptionStatus, b.exceptionStatus);
        EXPECT_EQ(a.runIndicator, b.runIndicator);
    }
    EXPECT_EQ(copy.model->unit(1)->holding.get(1), 7);
    EXPECT_EQ(copy.model->unit(1)->files.count(3), 1u);  // a file of zeros stays a file
}

TEST(SimMapFile, LongTextsAreRefusedAtTheLimitOfTheReply) {
    const std::string fits(243, 'v');
    auto loaded = load(R"({"units": {"1": {"deviceId": {"5": ")" + fits + R"("}}}})");
    EXPECT_TRUE(loaded.ok) << loaded.error;
    loaded = load(R"({"units": {"1": {"deviceId": {"5": ")" + fits + R"(v"}}}})");
    EXPECT_FALSE(loaded.ok);
    EXPECT_NE(loaded.error.find("0 to 243 bytes"), std::string::npos) << loaded.error;
}

TEST(SimMapFile, UnreadableFileIsReportedWithItsName) {
    const std::string big = testing::TempDir() + "sim_map_big.json";
    std::ofstream(big) << std::string(kMaxMapFileBytes - 2, ' ') << "{}";
    struct Case {
        std::string path;
        std::string expected;
    };
    const Case cases[] = {
        {"/nonexistent/plant.json", "/nonexistent/plant.json: cannot open the map file"},
        {"/dev/zero", "/dev/zero: not a regular file (a map file is a JSON text file)"},
        {testing::TempDir(), testing::TempDir() + ": not a regular file (a map file is a JSON text file)"},
        {big, ""},
    };
    for (const auto& c : cases) {
        std::string error;
        EXPECT_EQ(readMapFile(c.path, error).has_value(), c.expected.empty()) << c.path;
        EXPECT_EQ(error, c.expected);
    }
    std::ofstream(big, std::ios::app) << " ";
    std::string error;
    EXPECT_FALSE(readMapFile(big, error));
    EXPECT_EQ(error, big + ": larger than 16 MiB, the most a map file may have");
    std::remove(big.c_str());

    const std::string path = testing::TempDir() + "sim_map_test.json";
    std::ofstream(path) << "{\"units\": {\"1\": {\"holding\": {\"0\": 5}}}}";
    const auto map = readMapFile(path, error);
    std::remove(path.c_str());
    ASSERT_TRUE(map.has_value()) << error;
    EXPECT_EQ(map->name, path);
    EXPECT_FALSE(map->demo);
}

}  // namespace
}  // namespace sim
