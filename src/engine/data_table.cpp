#include "engine/data_table.hpp"

namespace mbslave {

int DataTable::readHoldingRegisters(int, std::uint16_t*, int) { return 0; }
int DataTable::writeHoldingRegisters(int, const std::uint16_t*, int) { return 0; }
int DataTable::readRegisters32(int, std::int32_t*, int) { return 0; }
int DataTable::writeRegisters32(int, const std::int32_t*, int) { return 0; }
int DataTable::readInputRegisters(int, std::uint16_t*, int) { return 0; }
int DataTable::readCoils(int, char*, int) { return 0; }
int DataTable::writeCoils(int, const char*, int) { return 0; }
int DataTable::readInputDiscretes(int, char*, int) { return 0; }
int DataTable::readFileRecord(int, int, int, std::uint16_t*, int) { return 0; }
int DataTable::writeFileRecord(int, int, int, const std::uint16_t*, int) { return 0; }
int DataTable::readExceptionStatus() { return 0; }
int DataTable::reportSlaveId(char*, int) { return 0; }
int DataTable::runIndicatorStatus() { return 0; }
int DataTable::readDeviceIdObject(int, char*, int) { return 0; }
void DataTable::signalTimeOut() {}
void DataTable::lock() {}
void DataTable::unlock() {}

}  // namespace mbslave
