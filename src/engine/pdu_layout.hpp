// Where the fields of a request and its reply sit in a frame: byte 0 is the
// slave address, the PDU follows (function code at 1, data from 2). Every
// request handler and transport takes its offsets from here.
#pragma once

namespace mbslave::pdu {

// Common to every request and reply.
constexpr int kSlaveAddressOffset = 0;
constexpr int kFunctionCodeOffset = 1;
constexpr int kDataOffset = 2;
constexpr int kExceptionReplyLength = 3;

// Bit and register reads and writes (1 to 6, 15, 16): start address,
// quantity or single value, byte count and values of multiple writes.
namespace access {
constexpr int kAddressOffset = 2;
constexpr int kQuantityOffset = 4;
constexpr int kValueOffset = 4;
constexpr int kByteCountOffset = 6;
constexpr int kValuesOffset = 7;
}  // namespace access

// Mask Write Register (22).
namespace maskWrite {
constexpr int kAndMaskOffset = 4;
constexpr int kOrMaskOffset = 6;
}  // namespace maskWrite

// Read/Write Multiple Registers (23).
namespace readWrite {
constexpr int kReadStartOffset = 2;
constexpr int kReadQuantityOffset = 4;
constexpr int kWriteStartOffset = 6;
constexpr int kWriteQuantityOffset = 8;
constexpr int kWriteByteCountOffset = 10;
constexpr int kWriteValuesOffset = 11;
}  // namespace readWrite

// Read and Write File Record (20, 21): byte count, then the sub-requests.
namespace fileRecord {
constexpr int kByteCountOffset = 2;
constexpr int kSubRequestsOffset = 3;
}  // namespace fileRecord

// Diagnostics (8) request; Report Slave ID (17) reply: byte count,
// identification bytes, run indicator.
namespace diagnostics {
constexpr int kSubFunctionOffset = 2;
constexpr int kSlaveIdOffset = 3;
}  // namespace diagnostics

// Read Device Identification (43 / 14): the request's MEI type, read device
// ID code and object id, then the reply's header after the first two.
namespace deviceId {
constexpr int kMeiTypeOffset = 2;
constexpr int kReadDeviceIdCodeOffset = 3;
constexpr int kObjectIdOffset = 4;
constexpr int kConformityOffset = 4;
constexpr int kMoreFollowsOffset = 5;
constexpr int kNextObjectIdOffset = 6;
constexpr int kObjectCountOffset = 7;
}  // namespace deviceId

}  // namespace mbslave::pdu
