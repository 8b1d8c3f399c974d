// Base of the serial-line slaves (RTU, ASCII): the owned serial port,
// start-up with its checks, shutdown, RS-485 mode with its RTS discipline,
// and the procedure that puts a reply frame on the line. The framings and
// their server loops are the derived classes' work.
#pragma once

#include <cstdint>
#include <memory>

#include "engine/slave_protocol.hpp"
#include "mbslave.h"
#include "platform/serial_device.hpp"
#include "serial/serial_port.hpp"

namespace mbslave {

namespace kind {
constexpr ProtocolKinds kSerial = 1, kRtu = 2, kAscii = 4;
constexpr ProtocolKinds kSerialFamily = kSerial | kRtu | kAscii;
}  // namespace kind

constexpr std::uint32_t kMaxRs485Delay = 100000;

class SerialProtocol : public SlaveProtocol {
public:
    static constexpr ProtocolKinds kKinds = kind::kSerial;
    SerialProtocol() noexcept = default;
    // Closes the port (the device gets its own settings back).
    ~SerialProtocol() override;

    // Closes the port; the connection status drops to 0 at once.
    void shutdownServer() override;
    // The started port's driver switches RTS itself (kernel RS-485 mode):
    // the server then leaves RTS alone, also in RS-485 mode.
    bool rtsSwitchedByDriver() const noexcept { return port.driverSwitchesRts(); }

    // Start-up with a UTF-16 port name; its UTF-8 copy stays with the object
    // as the request context's peerName. An error code.
    virtual int startupSerialServer(const MbWideChar* portName, int baudRate, int dataBits,
                                    int stopBits, int parity);
    // RS-485 turnaround delay in ms (0..100000); 0 switches RS-485 mode off.
    // Applies from the next start-up. Range checked before the started state.
    virtual int enableRs485Mode(std::uint32_t delay) noexcept;

    // Puts another serial device behind the port (tests, fuzzers); null goes
    // back to the system's device. Meant for a stopped server: a started one
    // loses its port.
    void attachSerialDevice(platform::SerialDevice* device) noexcept {
        port.attachDevice(device);
        markStarted(false);
    }

protected:
    // Start-up with an 8-bit port name that outlives the server (peerName
    // points to it); does the checks, opens and configures the port.
    virtual int startupSerial(const char* portName, int baudRate, int dataBits, int stopBits,
                              int parity);

    // Puts a complete frame (checksum included) on the line: purge, the
    // framing's wait for silence, RTS on in RS-485 mode, write within the
    // protocol time-out, drain, turnaround delay, RTS off (also after a
    // failed write). MB_OK, MB_ERR_SEND_TIMEOUT or MB_ERR_IO.
    int transmitReply(const std::uint8_t* frame, int length);

    // Runs between the purge and the transmission of a reply; RTU framing
    // waits here until the line has been silent for one silent interval.
    // False when the line did not fall silent in time: the reply is not sent.
    virtual bool waitForLineSilence();

    // How long, in ms from its first character, one frame may keep arriving
    // before the pass gives it up like an overlong frame: the protocol
    // time-out, or twice the time the longest frame of longestCharacters
    // 11-bit characters takes at the line's rate where that is longer; 0
    // (no limit) with a protocol time-out of 0. Bounds a pass on a line that
    // never falls silent (noise, a babbling device) to about twice the
    // protocol time-out.
    std::uint32_t frameTimeLimit(int longestCharacters) const noexcept;
    // Whether a frame whose first character came at startedAt has run past
    // limit (a value of frameTimeLimit).
    bool frameTimeExceeded(std::uint32_t startedAt, std::uint32_t limit) const noexcept;

    // A broadcast (slave address 0) received in frame[0..length), length at
    // most kMaxRequestLength: every configured address 1..254 carries it out as received,
    // with its own address in byte 0; nothing is sent. Each address's master
    // time-out timer restarts after its turn, with or without a table; then
    // the activity timer and the success counter. requestInfo.slaveAddress
    // stays 0.
    void serveBroadcast(std::uint8_t* frame, int length);

    // A request that passed its framing check, in frame[0..length) without
    // the check bytes: a broadcast is carried out without reply, any other
    // request is served like on every transport, its reply put on the line
    // by sendReply.
    void serveFrame(std::uint8_t* frame, int length);

    // Puts the reply in the framing's frame, length bytes, on the line with
    // its check bytes. MB_OK, MB_ERR_SEND_TIMEOUT or MB_ERR_IO.
    virtual int sendReply(int length) = 0;

    SerialPort port;
    bool rs485Mode = false;
    std::uint32_t rs485Delay = 0;

private:
    HeapText portName_;
};

}  // namespace mbslave
