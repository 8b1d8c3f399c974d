// File record requests: Read File Record (20) and Write File Record (21).
// Both carry a byte count at offset 2 followed by sub-requests of reference
// type (1), file number (2), record number (2) and record length (2, in
// registers); write sub-requests are followed by their record data.
#include <cstring>

#include "engine/data_access.hpp"
#include "engine/slave_protocol.hpp"
#include "engine/wire_format.hpp"

namespace mbslave {

namespace {
using namespace pdu::fileRecord;
constexpr int kSubRequestHeaderLength = 7;
// Read: B between 7 and 245 and a multiple of 7. Write: B between 9 and 251.
constexpr int kReadMinByteCount = 7;
constexpr int kReadMaxByteCount = 245;
constexpr int kWriteMinByteCount = 9;
constexpr int kWriteMaxByteCount = 251;
// Sub-responses of a read reply; with the byte count, function code and
// slave address this keeps the reply within 254 bytes.
constexpr int kMaxReadReplyData = 251;
constexpr int kReadReplyAreaSize = 256;

// One sub-request header, decoded.
struct SubRequest {
    int referenceType;  // signed 8-bit, widened
    int fileNumber;
    int recordNumber;
    int recordLength;  // signed 16-bit, in registers
};

SubRequest decodeSubRequest(const std::uint8_t* at) {
    return SubRequest{static_cast<std::int8_t>(at[0]), wire::readU16(at + 1), wire::readU16(at + 3),
                      wire::readQuantity(at + 5)};
}

bool validRecordLength(int recordLength) { return recordLength >= 1 && recordLength <= kMaxRegisters; }
}  // namespace

int SlaveProtocol::serveReadFileRecord(std::uint8_t* frame, int length, DataTable& table) {
    const int byteCount = length > kByteCountOffset ? frame[kByteCountOffset] : -1;
    if (length != byteCount + kSubRequestsOffset || byteCount < kReadMinByteCount ||
        byteCount > kReadMaxByteCount || byteCount % kSubRequestHeaderLength != 0) {
        return exceptionReply(frame, ExceptionCode::kIllegalDataValue);
    }

    // Sub-responses are gathered aside: written straight into the frame they
    // would overwrite sub-requests not yet read.
    std::uint8_t replyArea[kReadReplyAreaSize];
    int gathered = 0;
    int offset = 0;
    for (; offset <= byteCount - kSubRequestHeaderLength; offset += kSubRequestHeaderLength) {
        const std::uint8_t* subRequest = frame + kSubRequestsOffset + offset;
        const SubRequest request = decodeSubRequest(subRequest);
        if (!validRecordLength(request.recordLength)) break;
        const int refused = refusedAccess(frame, table, &requestInfo, [&](DataTable& t) {
            return t.readFileRecord(request.referenceType, request.fileNumber, request.recordNumber,
                                    registerBuffer, request.recordLength);
        });
        if (refused != 0) return refused;
        const int dataLength = 2 * request.recordLength;
        if (gathered + 2 + dataLength > kMaxReadReplyData) break;
        replyArea[gathered] = static_cast<std::uint8_t>(dataLength + 1);
        replyArea[gathered + 1] = subRequest[0];
        wire::writeRegisters(replyArea + gathered + 2, registerBuffer, request.recordLength);
        gathered += 2 + dataLength;
    }
    if (offset != byteCount) return exceptionReply(frame, ExceptionCode::kSlaveDeviceFailure);

    std::memcpy(frame + kSubRequestsOffset, replyArea, static_cast<std::size_t>(gathered));
    frame[kByteCountOffset] = static_cast<std::uint8_t>(gathered);
    return gathered + 3;
}

int SlaveProtocol::serveWriteFileRecord(std::uint8_t* frame, int length, DataTable& table) {
    const int byteCount = length > kByteCountOffset ? frame[kByteCountOffset] : -1;
    if (length != byteCount + kSubRequestsOffset || byteCount < kWriteMinByteCount ||
        byteCount > kWriteMaxByteCount) {
        return exceptionReply(frame, ExceptionCode::kIllegalDataValue);
    }

    int offset = 0;
    while (offset <= byteCount - kSubRequestHeaderLength) {
        const std::uint8_t* subRequest = frame + kSubRequestsOffset + offset;
        const SubRequest request = decodeSubRequest(subRequest);
        if (!validRecordLength(request.recordLength)) break;
        const int dataLength = 2 * request.recordLength;
        if (offset + dataLength > byteCount - kSubRequestHeaderLength) break;  // data runs past B
        wire::readRegisters(subRequest + kSubRequestHeaderLength, registerBuffer, request.recordLength);
        // Records written before a refusal stay written.
        const int refused = refusedAccess(frame, table, &requestInfo, [&](DataTable& t) {
            return t.writeFileRecord(request.referenceType, request.fileNumber, request.recordNumber,
                                     registerBuffer, request.recordLength);
        });
        if (refused != 0) return refused;
        offset += kSubRequestHeaderLength + dataLength;
    }
    // Every byte of the request must belong to a served sub-request.
    if (offset != byteCount) return exceptionReply(frame, ExceptionCode::kSlaveDeviceFailure);
    return length;
}

}  // namespace mbslave
