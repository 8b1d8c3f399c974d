// RTU and ASCII slaves on a scripted serial line, seen from their master.
#pragma once

#include <memory>
#include <optional>
#include <string>

#include "attack_target.hpp"
#include "support/scripted_serial_device.hpp"

#include "serial/serial_protocol.hpp"

namespace mbslave::test {

class SerialTarget : public AttackTarget {
public:
    std::uint32_t totalCounter() override { return protocol->getTotalCounter(); }
    std::uint32_t successCounter() override { return protocol->getSuccessCounter(); }

protected:
    // Starts the protocol on the scripted device with the table for every
    // address but 0 (a serial line broadcasts to 0).
    explicit SerialTarget(std::unique_ptr<SerialProtocol> serialProtocol);
    // Plays text back to the protocol, then silence, in one pass; what it wrote.
    std::string runPass(const std::string& text);

    ScriptedSerialDevice device;  // outlives the protocol, which refers to it
    std::unique_ptr<SerialProtocol> protocol;
};

class AsciiTarget : public SerialTarget {
public:
    AsciiTarget();
    std::optional<Bytes> exchange(const Bytes& request) override;
    // Sends text as it stands; the decoded reply, if a valid one came.
    std::optional<Bytes> exchangeText(const std::string& text);

    static std::string frameText(const Bytes& message);
};

std::unique_ptr<AttackTarget> makeRtuTarget();
std::unique_ptr<AttackTarget> makeAsciiTarget();

}  // namespace mbslave::test
