// Modbus function codes served by the slave and the exception codes of its
// exception responses.
#pragma once

#include <cstdint>

namespace mbslave {

namespace FunctionCode {
constexpr std::uint8_t kReadCoils = 1;
constexpr std::uint8_t kReadDiscreteInputs = 2;
constexpr std::uint8_t kReadHoldingRegisters = 3;
constexpr std::uint8_t kReadInputRegisters = 4;
constexpr std::uint8_t kWriteSingleCoil = 5;
constexpr std::uint8_t kWriteSingleRegister = 6;
constexpr std::uint8_t kReadExceptionStatus = 7;
constexpr std::uint8_t kDiagnostics = 8;
constexpr std::uint8_t kWriteMultipleCoils = 15;
constexpr std::uint8_t kWriteMultipleRegisters = 16;
constexpr std::uint8_t kReportSlaveId = 17;
constexpr std::uint8_t kReadFileRecord = 20;
constexpr std::uint8_t kWriteFileRecord = 21;
constexpr std::uint8_t kMaskWriteRegister = 22;
constexpr std::uint8_t kReadWriteMultipleRegisters = 23;
constexpr std::uint8_t kEncapsulatedInterface = 43;
// Bit 7 of the function code marks an exception response.
constexpr std::uint8_t kExceptionFlag = 0x80;
}  // namespace FunctionCode

namespace ExceptionCode {
constexpr std::uint8_t kIllegalFunction = 1;
constexpr std::uint8_t kIllegalDataAddress = 2;
constexpr std::uint8_t kIllegalDataValue = 3;
constexpr std::uint8_t kSlaveDeviceFailure = 4;
}  // namespace ExceptionCode

}  // namespace mbslave
