// Status and diagnostic requests: Read Exception Status (7), Diagnostics (8)
// and Report Slave ID (17).
#include <cstring>

#include "engine/data_access.hpp"
#include "engine/slave_protocol.hpp"
#include "engine/wire_format.hpp"

namespace mbslave {

namespace {
constexpr int kBareRequestLength = 2;  // slave address and function code only
using namespace pdu::diagnostics;
// Diagnostics.
constexpr int kDiagnosticsMinLength = 4;
constexpr std::uint16_t kReturnQueryData = 0;
// Report Slave ID.
constexpr int kSlaveIdCapacity = 250;
constexpr int kSlaveIdMaxLength = 249;
constexpr std::uint8_t kRunIndicatorOn = 0xFF;
constexpr std::uint8_t kRunIndicatorOff = 0x00;
}  // namespace

int SlaveProtocol::serveReadExceptionStatus(std::uint8_t* frame, int length, DataTable& table) {
    if (length != kBareRequestLength) return exceptionReply(frame, ExceptionCode::kIllegalDataValue);
    const int status = bracketed(table, &requestInfo, [](DataTable& t) { return t.readExceptionStatus(); });
    frame[kDataOffset] = static_cast<std::uint8_t>(status);
    return 3;
}

int SlaveProtocol::serveDiagnostics(std::uint8_t* frame, int length) {
    // Without a complete sub-function there is nothing to echo.
    if (length < kDiagnosticsMinLength) return exceptionReply(frame, ExceptionCode::kIllegalDataValue);
    if (wire::readU16(frame + kSubFunctionOffset) != kReturnQueryData) {
        return exceptionReply(frame, ExceptionCode::kIllegalFunction);
    }
    // An echo longer than the largest reply fits no transport's frame.
    if (length > kMaxFrameLength) return exceptionReply(frame, ExceptionCode::kIllegalDataValue);
    return length;
}

int SlaveProtocol::serveReportSlaveId(std::uint8_t* frame, int length, DataTable& table) {
    if (length != kBareRequestLength) return exceptionReply(frame, ExceptionCode::kIllegalDataValue);
    char* idBytes = reinterpret_cast<char*>(frame + kSlaveIdOffset);
    // A callback that claims more bytes than it wrote sends zeros, never what
    // an earlier frame (on TCP perhaps another master's) left in the buffer.
    std::memset(idBytes, 0, kSlaveIdCapacity);
    const int idLength = bracketed(
        table, &requestInfo, [&](DataTable& t) { return t.reportSlaveId(idBytes, kSlaveIdCapacity); });
    if (idLength < 1 || idLength > kSlaveIdMaxLength) {
        return exceptionReply(frame, ExceptionCode::kSlaveDeviceFailure);
    }
    // The run indicator is a status query outside the data bracket.
    frame[kSlaveIdOffset + idLength] = table.runIndicatorStatus() != 0 ? kRunIndicatorOn : kRunIndicatorOff;
    frame[kDataOffset] = static_cast<std::uint8_t>(idLength + 1);
    return idLength + 4;
}

}  // namespace mbslave
