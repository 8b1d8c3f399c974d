// Every saved input of every fuzz target, replayed through the target's entry
// function: seeds and past findings stay fixed in the normal test suite.
#include <gtest/gtest.h>

#include <cstdint>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "fuzz_entries.hpp"

namespace mbslave::fuzz {
namespace {

using Entry = const char* (*)(const std::uint8_t*, std::size_t);

struct Target {
    const char* corpus;  // folder under fuzz/corpus/
    Entry entry;
};

const Target kTargets[] = {
    {"process_request", &processRequestEntry},
    {"tcp_stream", &tcpStreamEntry},
    {"rtu_over_tcp_stream", &rtuOverTcpStreamEntry},
    {"udp_datagram", &udpDatagramEntry},
    {"rtu_line", &rtuLineEntry},
    {"ascii_line", &asciiLineEntry},
#if MBSLAVE_FUZZ_TLS
    {"tls_stream", &tlsStreamEntry},
    {"tls_handshake", &tlsHandshakeEntry},
#endif
};

class CorpusReplay : public ::testing::TestWithParam<Target> {};

TEST_P(CorpusReplay, EverySavedInputKeepsItsInvariants) {
    const std::filesystem::path folder = std::filesystem::path(MBSLAVE_FUZZ_CORPUS_DIR) / GetParam().corpus;
    ASSERT_TRUE(std::filesystem::is_directory(folder)) << folder;
    int replayed = 0;
    for (const auto& file : std::filesystem::recursive_directory_iterator(folder)) {
        if (!file.is_regular_file()) continue;
        std::ifstream in(file.path(), std::ios::binary);
        const std::vector<std::uint8_t> input((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
        const char* problem = GetParam().entry(input.data(), input.size());
        EXPECT_EQ(problem, nullptr) << file.path() << ": " << problem;
        ++replayed;
    }
    EXPECT_GT(replayed, 0) << "empty corpus " << folder;
}

INSTANTIATE_TEST_SUITE_P(Targets, CorpusReplay, ::testing::ValuesIn(kTargets),
                         [](const ::testing::TestParamInfo<Target>& info) { return std::string(info.param.corpus); });

}  // namespace
}  // namespace mbslave::fuzz
