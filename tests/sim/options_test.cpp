#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "library_limits.hpp"
#include "options.hpp"

namespace sim {
namespace {

const std::vector<Transport> kAll{Transport::Tcp, Transport::RtuOverTcp, Transport::Udp, Transport::Rtu,
                                  Transport::Ascii};

ParseOutcome parse(std::vector<std::string> words, const std::vector<Transport>& available = kAll) {
    words.insert(words.begin(), "mbslave-sim");
    std::vector<const char*> argv;
    for (const auto& word : words) argv.push_back(word.c_str());
    return parseArguments(static_cast<int>(argv.size()), argv.data(), available, "2.11.0.0");
}

TEST(SimOptions, DefaultsPerTransport) {
    auto outcome = parse({"tcp"});
    ASSERT_TRUE(outcome.options) << outcome.err;
    EXPECT_EQ(outcome.options->transport, Transport::Tcp);
    EXPECT_EQ(outcome.options->host, "127.0.0.1");
    EXPECT_EQ(outcome.options->port, 5020);
    EXPECT_EQ(formatRanges(outcome.options->units), "1");
    EXPECT_EQ(outcome.options->timeOutMs, 1000u);
    EXPECT_EQ(outcome.options->connectionTimeOutMs, 60000u);
    EXPECT_FALSE(outcome.options->noExceptions);
    EXPECT_FALSE(outcome.options->quiet);
    EXPECT_EQ(outcome.options->durationS, 0);

    outcome = parse({"rtutcp"});
    ASSERT_TRUE(outcome.options) << outcome.err;
    EXPECT_EQ(outcome.options->port, 1100);
    EXPECT_EQ(outcome.options->connectionTimeOutMs, 60000u);
    outcome = parse({"udp"});
    ASSERT_TRUE(outcome.options) << outcome.err;
    EXPECT_EQ(outcome.options->port, 5020);
    EXPECT_FALSE(outcome.options->connectionTimeOutMs);

    outcome = parse({"rtu", "--device", "/dev/ttyUSB0"});
    ASSERT_TRUE(outcome.options) << outcome.err;
    EXPECT_EQ(outcome.options->device, "/dev/ttyUSB0");
    EXPECT_EQ(outcome.options->baud, 19200);
    EXPECT_EQ(outcome.options->dataBits, 8);
    EXPECT_EQ(outcome.options->stopBits, 1);
    EXPECT_EQ(outcome.options->parity, 2);
    EXPECT_EQ(outcome.options->rs485DelayMs, 0u);

    outcome = parse({"ascii", "--device", "COM1"});
    ASSERT_TRUE(outcome.options) << outcome.err;
    EXPECT_EQ(outcome.options->dataBits, 7);
}

TEST(SimOptions, EveryOptionReachesTheResultBeforeOrAfterTheSubcommand) {
    auto outcome = parse({"--units", "all", "tcp", "--host", "0.0.0.0", "--port", "1502", "--timeout", "0",
                          "--conn-timeout", "3600000", "--no-exceptions", "--map", "m.json", "--quiet",
                          "--duration", "2.5", "--web", "0.0.0.0:8080"});
    ASSERT_TRUE(outcome.options) << outcome.err;
    const SimOptions& o = *outcome.options;
    EXPECT_EQ(formatRanges(o.units), "0-255");
    EXPECT_EQ(o.host, "0.0.0.0");
    EXPECT_EQ(o.port, 1502);
    EXPECT_EQ(o.timeOutMs, 0u);
    EXPECT_EQ(o.connectionTimeOutMs, 3600000u);
    EXPECT_TRUE(o.noExceptions);
    EXPECT_EQ(o.mapFile, "m.json");
    EXPECT_TRUE(o.quiet);
    EXPECT_DOUBLE_EQ(o.durationS, 2.5);
    EXPECT_EQ(o.webHost, "0.0.0.0");
    EXPECT_EQ(o.webPort, 8080);

    outcome = parse({"rtu", "--device", "COM3", "--baud", "9600", "--parity", "NONE", "--stopbits", "2",
                     "--rs485", "5", "--tolerance", "20", "--units", "all"});
    ASSERT_TRUE(outcome.options) << outcome.err;
    EXPECT_EQ(outcome.options->baud, 9600);
    EXPECT_EQ(outcome.options->parity, 0);
    EXPECT_EQ(outcome.options->stopBits, 2);
    EXPECT_EQ(outcome.options->rs485DelayMs, 5u);
    EXPECT_EQ(outcome.options->frameToleranceMs, std::optional<std::uint32_t>(20));
    EXPECT_EQ(formatRanges(outcome.options->units), "1-255");

    EXPECT_EQ(outcome.options->webPort, 0);  // no web page unless asked for

    outcome = parse({"ascii", "--device", "COM3", "--parity", "odd", "--databits", "8", "--web", "8081"});
    ASSERT_TRUE(outcome.options) << outcome.err;
    EXPECT_EQ(outcome.options->webHost, "127.0.0.1");  // loopback unless told otherwise
    EXPECT_EQ(outcome.options->webPort, 8081);
    EXPECT_EQ(outcome.options->parity, 1);
    EXPECT_EQ(outcome.options->dataBits, 8);

    outcome = parse({"tcp", "--web", "[::1]:8082"});
    ASSERT_TRUE(outcome.options) << outcome.err;
    EXPECT_EQ(outcome.options->webHost, "::1");
    EXPECT_EQ(outcome.options->webPort, 8082);
}

TEST(SimOptions, BadArgumentsAreUsageErrorsWithAHint) {
    struct Case {
        std::vector<std::string> words;
        const char* message;
    };
    const std::vector<Case> cases = {
        {{}, "name the transport first"},
        {{"serial"}, "name the transport first"},
        {{"tcp", "--port", "0"}, "--port"},
        {{"tcp", "--port", "65536"}, "--port"},
        {{"tcp", "--port", "x"}, "--port"},
        {{"tcp", "--units", "0-300"}, "--units"},
        {{"rtu", "--device", "COM1", "--units", "0"}, "broadcast"},
        {{"tcp", "--timeout", "100001"}, "--timeout"},
        {{"tcp", "--conn-timeout", "3600001"}, "--conn-timeout"},
        {{"udp", "--conn-timeout", "5"}, "--conn-timeout applies to tcp and rtutcp only"},
        {{"rtu"}, "--device"},
        {{"rtu", "--device", "COM1", "--parity", "mark"}, "error: --parity: 'mark' is not none, odd or even\n"},
        {{"ascii", "--device", "COM1", "--tolerance", "5"}, "error: not expected: --tolerance 5\n"},
        {{"tcp", "one", "two"}, "error: not expected: one two\n"},
        {{"tcp", "--host", ""}, "--host: empty"},
        {{"tcp", "--web", "::1:8080"}, "(an IPv6 HOST in brackets: [::1]:8080)"},
        {{"tcp", "--web", "[::1:8080"}, "--web"},
        {{"tcp", "--web", "[]:8080"}, "--web"},
        {{"rtu", "--device", "COM1", "--databits", "7"}, "RTU framing needs 8 data bits"},
        {{"rtu", "--device", "COM1", "--databits", "9"}, "--databits"},
        {{"rtu", "--device", "COM1", "--stopbits", "3"}, "--stopbits"},
        {{"rtu", "--device", "COM1", "--rs485", "100001"}, "--rs485"},
        {{"rtu", "--device", "COM1", "--tolerance", "21"}, "--tolerance"},
        {{"ascii", "--device", "COM1", "--tolerance", "1"}, "--tolerance"},
        {{"tcp", "--device", "COM1"}, "--device"},
        {{"tcp", "--duration", "-1"}, "--duration"},
        {{"tcp", "udp"}, "udp"},
        {{"tcp", "--web", "0"}, "--web: '0' is not [HOST:]PORT"},
        {{"tcp", "--web", "65536"}, "--web"},
        {{"tcp", "--web", ":8080"}, "--web"},
        {{"tcp", "--web", "localhost:"}, "--web"},
        {{"tcp", "--web", "localhost:80x"}, "--web"},
    };
    for (const auto& c : cases) {
        std::string joined;
        for (const auto& word : c.words) joined += word + " ";
        SCOPED_TRACE(joined);
        const auto outcome = parse(c.words);
        EXPECT_FALSE(outcome.options);
        EXPECT_EQ(outcome.exitCode, kExitUsage);
        EXPECT_EQ(outcome.err.rfind("mbslave-sim: error: ", 0), 0u) << outcome.err;
        EXPECT_NE(outcome.err.find(c.message), std::string::npos) << outcome.err;
        EXPECT_NE(outcome.err.find("--help"), std::string::npos) << outcome.err;
    }
}

// The command line takes what the library takes: the largest value of each
// range is one the library's setter accepts, the next one both refuse; the
// defaults are a new handle's.
TEST(SimOptions, RangesAndDefaultsAreTheLibrarys) {
    struct Case {
        std::vector<std::string> words;  // the option comes last
        std::uint32_t largest;
        MbusSlaveHandle* (*create)();
        int (*set)(MbusSlaveHandle*, std::uint32_t);
    };
    const Case cases[] = {
        {{"tcp", "--timeout"}, library::kMaxTimeOutMs, &mbusSlave_createTcpProtocol, &mbusSlave_setTimeout},
        {{"tcp", "--conn-timeout"}, library::kMaxConnectionTimeOutMs, &mbusSlave_createTcpProtocol,
         &mbusSlave_setConnectionTimeOut},
        {{"rtu", "--device", "COM1", "--tolerance"}, library::kMaxFrameToleranceMs, &mbusSlave_createRtuProtocol,
         &mbusSlave_setFrameTolerance},
        {{"ascii", "--device", "COM1", "--rs485"}, library::kMaxRs485DelayMs, &mbusSlave_createAsciiProtocol,
         &mbusSlave_enableRs485Mode},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.words.back());
        MbusSlaveHandle* handle = c.create();
        ASSERT_NE(handle, nullptr);
        EXPECT_EQ(c.set(handle, c.largest), MB_OK);
        EXPECT_EQ(c.set(handle, c.largest + 1), MB_ERR_ILLEGAL_ARGUMENT);
        mbusSlave_destroyProtocol(handle);
        for (const std::uint32_t value : {c.largest, c.largest + 1}) {
            std::vector<std::string> words = c.words;
            words.push_back(std::to_string(value));
            EXPECT_EQ(parse(words).options.has_value(), value == c.largest) << value;
        }
    }
    MbusSlaveHandle* handle = mbusSlave_createTcpProtocol();
    EXPECT_EQ(mbusSlave_getTimeout(handle), SimOptions{}.timeOutMs);
    mbusSlave_destroyProtocol(handle);
}

// tls: the options of tcp, its default port 8020, and its files.
TEST(SimOptions, TlsTakesTheTcpOptionsAndItsFiles) {
    const std::vector<Transport> withTls{Transport::Tcp, Transport::RtuOverTcp, Transport::Udp, Transport::Tls};
    const std::vector<std::string> files{"tls", "--cert", "s.pem", "--key", "s.key", "--ca", "ca.pem"};
    auto outcome = parse(files, withTls);
    ASSERT_TRUE(outcome.options) << outcome.err;
    EXPECT_EQ(outcome.options->transport, Transport::Tls);
    EXPECT_EQ(outcome.options->port, 8020);
    EXPECT_EQ(outcome.options->connectionTimeOutMs, 60000u);
    EXPECT_EQ(outcome.options->certificateFile, "s.pem");
    EXPECT_EQ(outcome.options->keyFile, "s.key");
    EXPECT_EQ(outcome.options->caFile, "ca.pem");
    EXPECT_EQ(outcome.options->rolesFile, "");

    std::vector<std::string> words = files;
    words.insert(words.end(), {"--roles", "r.txt", "--host", "0.0.0.0", "--port", "802", "--conn-timeout", "0"});
    outcome = parse(words, withTls);
    ASSERT_TRUE(outcome.options) << outcome.err;
    EXPECT_EQ(outcome.options->rolesFile, "r.txt");
    EXPECT_EQ(outcome.options->host, "0.0.0.0");
    EXPECT_EQ(outcome.options->port, 802);
    EXPECT_EQ(outcome.options->connectionTimeOutMs, 0u);

    struct Case {
        std::vector<std::string> words;
        std::vector<Transport> available;
        const char* message;
    };
    const Case cases[] = {
        {{"tls", "--cert", "s.pem", "--key", "s.key"}, withTls, "--ca is required"},
        {{"tls", "--key", "s.key", "--ca", "ca.pem"}, withTls, "--cert is required"},
        {{"udp", "--conn-timeout", "5"}, withTls, "--conn-timeout applies to tcp, rtutcp and tls only"},
        {{"tcp", "--roles", "r.txt"}, withTls, "not expected: --roles r.txt"},
        {files, kAll, "name the transport first"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.message);
        outcome = parse(c.words, c.available);
        EXPECT_FALSE(outcome.options);
        EXPECT_NE(outcome.err.find(c.message), std::string::npos) << outcome.err;
    }
}

TEST(SimOptions, HelpListsOnlyAvailableTransportsWithExamples) {
    auto outcome = parse({"--help"}, {Transport::Tcp});
    EXPECT_FALSE(outcome.options);
    EXPECT_EQ(outcome.exitCode, kExitOk);
    EXPECT_NE(outcome.out.find("tcp"), std::string::npos);
    EXPECT_NE(outcome.out.find("Examples:"), std::string::npos);
    EXPECT_NE(outcome.out.find("mbpoll"), std::string::npos);
    EXPECT_NE(outcome.out.find("Exit codes"), std::string::npos);
    EXPECT_NE(outcome.out.find("(0: never; default 60000)"), std::string::npos);
    EXPECT_EQ(outcome.out.find("RTU frames over TCP"), std::string::npos);
    EXPECT_EQ(outcome.out.find("mbslave-sim ascii"), std::string::npos);

    outcome = parse({"rtu", "--help"});
    EXPECT_EQ(outcome.exitCode, kExitOk);
    EXPECT_NE(outcome.out.find("--tolerance"), std::string::npos);

    outcome = parse({"udp"}, {Transport::Tcp});
    EXPECT_EQ(outcome.exitCode, kExitUsage);

    outcome = parse({"--version"});
    EXPECT_EQ(outcome.exitCode, kExitOk);
    EXPECT_EQ(outcome.out, "mbslave-sim 2.11.0.0\n");
}

}  // namespace
}  // namespace sim
