// One handle of every kind, each served from its own thread at the same
// time, while further threads read the error texts and the version: every
// request is answered correctly and, under ThreadSanitizer
// (tools/run-tsan-tests.sh), no race is reported. The library has no global
// state, so nothing is shared between the handles.
#include <gtest/gtest.h>

#include <atomic>
#include <thread>
#include <vector>

#include "attack_target.hpp"
#include "mbslave.h"
#include "serial_targets.hpp"

namespace mbslave::test {
namespace {

constexpr int kRequestsPerThread = 1500;

struct ServerRun {
    TargetKind kind;
    int answered = 0;  // correct replies
    int wrong = 0;     // missing or wrong replies
};

// Requests of every read function code with changing ranges, checked
// against the table's pattern; writes in between.
void serve(ServerRun& run) {
    std::unique_ptr<AttackTarget> target = run.kind.make();
    const std::uint8_t unit = 17;
    for (int i = 0; i < kRequestsPerThread; ++i) {
        const std::uint8_t functionCode = static_cast<std::uint8_t>(1 + i % 4);
        const int start = (i * 37) % 60000;
        const int quantity = 1 + i % (functionCode <= 2 ? 300 : 120);
        const bool correct = target->exchange(readRequest(unit, functionCode, start, quantity)) ==
                             readReply(unit, functionCode, start, quantity);
        ++(correct ? run.answered : run.wrong);
        if (i % 10 == 0) target->exchange({unit, 6, 0x00, 0x01, 0x12, 0x34});
    }
}

TEST(Threads, HandlesOfEveryKindServedAtOnceWhileTextsAreRead) {
    std::vector<ServerRun> runs{
        {{"tcp", &makeTcpTarget}},  {{"rtu_over_tcp", &makeRtuOverTcpTarget}}, {{"udp", &makeUdpTarget}},
        {{"rtu", &makeRtuTarget}},  {{"ascii", &makeAsciiTarget}},             {{"tcp", &makeTcpTarget}},
    };
    std::atomic<bool> serving{true};
    std::atomic<long> textsRead{0};
    std::atomic<int> textsChanged{0};
    const MbWideChar* const firstText = mbusSlave_getErrorText(MB_ERR_IO);
    const MbWideChar* const version = mbusSlave_getPackageVersion();

    std::vector<std::thread> threads;
    for (ServerRun& run : runs) threads.emplace_back(serve, std::ref(run));
    for (int reader = 0; reader < 2; ++reader) {
        threads.emplace_back([&] {
            do {
                for (int code = -40; code <= 40; ++code) {
                    const MbWideChar* text = mbusSlave_getErrorText(code);
                    if (text == nullptr || text[0] == 0) textsChanged.fetch_add(1);
                }
                if (mbusSlave_getErrorText(MB_ERR_IO) != firstText || mbusSlave_getPackageVersion() != version) {
                    textsChanged.fetch_add(1);
                }
                textsRead.fetch_add(1);
            } while (serving.load());
        });
    }
    for (std::size_t i = 0; i < runs.size(); ++i) threads[i].join();
    serving = false;
    for (std::size_t i = runs.size(); i < threads.size(); ++i) threads[i].join();

    for (const ServerRun& run : runs) {
        EXPECT_EQ(run.answered, kRequestsPerThread) << run.kind.name;
        EXPECT_EQ(run.wrong, 0) << run.kind.name;
    }
    EXPECT_GT(textsRead.load(), 0);
    EXPECT_EQ(textsChanged.load(), 0);
}

}  // namespace
}  // namespace mbslave::test
