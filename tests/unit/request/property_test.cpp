// Random requests of every function code and every length: the reply length
// is always 0 or 3..254, exception replies are 3 bytes, brackets balance,
// nothing beyond the request influences the reply and nothing beyond the
// largest reply is written. The sanitizer build checks every access to the
// exactly sized buffer.
#include <gtest/gtest.h>

#include <cstring>
#include <random>
#include <vector>

#include "engine/slave_protocol.hpp"
#include "support/test_protocol.hpp"

namespace mbslave::test {
namespace {

// A table whose every answer comes from a seeded generator: success or
// refusal, random data, and lengths that may exceed the capacity it was given
// (it writes at most the capacity).
class RandomTable : public DataTable {
public:
    void reseed(std::uint32_t seed) {
        random.seed(seed);
        lockDepth = 0;
        unbalanced = false;
    }
    int readHoldingRegisters(int, std::uint16_t* r, int n) override { return fill(r, n); }
    int writeHoldingRegisters(int, const std::uint16_t*, int n) override { return answer(n); }
    int readRegisters32(int, std::int32_t* r, int n) override { return fill(r, n); }
    int writeRegisters32(int, const std::int32_t*, int n) override { return answer(n); }
    int readInputRegisters(int, std::uint16_t* r, int n) override { return fill(r, n); }
    int readCoils(int, char* b, int n) override { return fill(b, n); }
    int writeCoils(int, const char* b, int n) override {
        for (int i = 0; i < n; ++i) {
            if (b[i] != 0 && b[i] != 1) badBits = true;
        }
        return answer(n);
    }
    int readInputDiscretes(int, char* b, int n) override { return fill(b, n); }
    int readFileRecord(int, int, int, std::uint16_t* r, int n) override { return fill(r, n); }
    int writeFileRecord(int, int, int, const std::uint16_t*, int n) override { return answer(n); }
    int readExceptionStatus() override { return static_cast<int>(random()); }
    int reportSlaveId(char* buffer, int capacity) override { return randomLength(buffer, capacity); }
    int runIndicatorStatus() override { return static_cast<int>(random() % 2); }
    int readDeviceIdObject(int, char* buffer, int capacity) override {
        return randomLength(buffer, capacity);
    }
    void lock() override {
        if (++lockDepth != 1) unbalanced = true;
    }
    void unlock() override {
        if (--lockDepth != 0) unbalanced = true;
    }

    int lockDepth = 0;
    bool unbalanced = false;
    bool badBits = false;

private:
    int answer(int count) {
        if (count < 1 || count > kMaxBits) badCount = true;
        return random() % 4 == 0 ? 0 : 1;
    }
    template <typename T>
    int fill(T* values, int count) {
        for (int i = 0; i < count; ++i) values[i] = static_cast<T>(random());
        return answer(count);
    }
    // Lengths around every limit: negative, 0, within and beyond the capacity.
    int randomLength(char* buffer, int capacity) {
        const int length = static_cast<int>(random() % 300) - 20;
        if (buffer != nullptr) {
            for (int i = 0; i < std::min(std::max(length, 0), capacity); ++i) buffer[i] = static_cast<char>(random());
        }
        return length;
    }

    std::mt19937 random;
    bool badCount = false;
};

// Makes the count fields of the length-checked codes agree with the length
// for half of the requests, so that they get past the first check.
void shape(std::vector<std::uint8_t>& frame, int length, std::mt19937& random) {
    if (length < 2 || random() % 2 == 0) return;
    const std::uint8_t code = frame[1];
    auto set = [&](int offset, int value) {
        if (offset < length && value >= 0) frame[static_cast<std::size_t>(offset)] = static_cast<std::uint8_t>(value);
    };
    switch (code) {
        case 15:
            set(6, length - 7);
            set(4, 0);
            set(5, 8 * (length - 7) - static_cast<int>(random() % 8));
            break;
        case 16:
            set(6, length - 7);
            set(4, 0);
            set(5, (length - 7) / (random() % 2 == 0 ? 2 : 4));
            break;
        case 23:
            set(10, length - 11);
            set(8, 0);
            set(9, (length - 11) / 2);
            set(4, 0);
            set(5, static_cast<int>(random() % 127));
            break;
        case 20:
        case 21:
            set(2, length - 3);
            for (int at = 3 + 5; at + 1 < length; at += 7) {
                set(at, 0);
                set(at + 1, static_cast<int>(random() % 8));
            }
            break;
        case 8:
            set(2, 0);
            set(3, 0);
            break;
        case 43:
            set(2, 14);
            set(3, static_cast<int>(random() % 6));
            break;
        case 1:
        case 2:
            set(4, static_cast<int>(random() % 9));
            break;
        case 3:
        case 4:
            set(4, 0);
            set(5, static_cast<int>(random() % 130));
            break;
        case 5:
            set(4, random() % 2 == 0 ? 0xFF : 0x00);
            set(5, 0);
            break;
        default:
            break;
    }
}

TEST(RequestProperties, EveryFunctionCodeAndLengthStaysWithinBounds) {
    TestProtocol protocol;
    RandomTable table;
    protocol.setDataTable(1, &table);
    std::mt19937 random(20240611);
    constexpr std::size_t kBufferSize = 256;  // the transports' frame buffer
    constexpr std::uint8_t kMarker = 0x5A;

    int normalReplies[256] = {};
    for (int code = 0; code < 256; ++code) {
        for (int length = 0; length <= kMaxFrameLength; ++length) {
          // Short requests get more samples: the fixed-length codes live there.
          for (int sample = 0; sample < (length < 12 ? 16 : 1); ++sample) {
            std::vector<std::uint8_t> request(static_cast<std::size_t>(length));
            for (auto& byte : request) byte = static_cast<std::uint8_t>(random());
            if (length >= 1) request[0] = 1;
            if (length >= 2) request[1] = static_cast<std::uint8_t>(code);
            shape(request, length, random);
            const std::uint32_t tableSeed = static_cast<std::uint32_t>(random());
            const bool disabled = random() % 8 == 0;
            disabled ? protocol.disableExceptionReplies() : protocol.enableExceptionReplies();

            // Twice, with different bytes beyond the request: the reply may
            // not depend on them.
            std::vector<std::uint8_t> replies[2];
            int results[2];
            for (int pass = 0; pass < 2; ++pass) {
                std::vector<std::uint8_t> frame(kBufferSize, pass == 0 ? 0x00 : 0xFF);
                std::copy(request.begin(), request.end(), frame.begin());
                frame[0] = 1;
                frame[254] = frame[255] = kMarker;
                table.reseed(tableSeed);
                const int result = protocol.processRequest(frame.data(), length);
                results[pass] = result;
                replies[pass].assign(frame.begin(), frame.begin() + std::max(result, 0));

                SCOPED_TRACE(testing::Message() << "code " << code << " length " << length);
                ASSERT_TRUE(result == 0 || (result >= 3 && result <= kMaxFrameLength)) << result;
                const bool exception = (frame[1] & 0x80) != 0;
                if (exception) {
                    ASSERT_EQ(result, disabled ? 0 : 3);
                } else {
                    ASSERT_GE(result, 3);
                }
                ASSERT_EQ(frame[254], kMarker);
                ASSERT_EQ(frame[255], kMarker);
                ASSERT_FALSE(table.unbalanced);
                ASSERT_EQ(table.lockDepth, 0);
                ASSERT_FALSE(table.badBits);
            }
            ASSERT_EQ(results[0], results[1]) << "code " << code << " length " << length;
            ASSERT_EQ(replies[0], replies[1]) << "code " << code << " length " << length;
            if (results[0] > 0 && (replies[0][1] & 0x80) == 0) ++normalReplies[code];
          }
        }
    }
    // The sample reaches past the checks of every served code.
    for (int code : {1, 2, 3, 4, 5, 6, 7, 8, 15, 16, 17, 20, 21, 22, 23, 43}) {
        EXPECT_GT(normalReplies[code], 0) << "code " << code;
    }
}

}  // namespace
}  // namespace mbslave::test
