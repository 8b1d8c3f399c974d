// Encapsulated Interface Transport (43) with Read Device Identification
// (MEI type 14): lists the device identification objects that fit one reply.
#include <cstring>

#include "engine/data_access.hpp"
#include "engine/slave_protocol.hpp"

namespace mbslave {

namespace {
using namespace pdu::deviceId;
constexpr int kMinRequestLength = 3;
constexpr int kRequestLength = 5;
constexpr std::uint8_t kMeiReadDeviceId = 14;
// Read device ID codes.
constexpr std::uint8_t kBasicStream = 1;
constexpr std::uint8_t kRegularStream = 2;
constexpr std::uint8_t kExtendedStream = 3;
constexpr std::uint8_t kIndividualAccess = 4;
constexpr int kLastBasicId = 2;
constexpr int kLastRegularId = 127;
constexpr int kLastExtendedId = 255;
constexpr int kFirstExtendedId = 128;
constexpr int kReplyHeaderLength = 8;
constexpr std::uint8_t kConformityBasic = 0x81;
constexpr std::uint8_t kConformityRegular = 0x82;
constexpr std::uint8_t kConformityExtended = 0x83;
constexpr std::uint8_t kMoreFollows = 0xFF;
// Objects are appended while the reply stays within 253 bytes.
constexpr int kMaxReplyLength = 253;
constexpr int kObjectAreaSize = 248;
constexpr int kObjectCapacity = 245;
}  // namespace

int SlaveProtocol::serveEncapsulatedInterface(std::uint8_t* frame, int length) {
    if (length < kMinRequestLength) return exceptionReply(frame, ExceptionCode::kIllegalDataValue);
    if (frame[kMeiTypeOffset] != kMeiReadDeviceId) {
        return exceptionReply(frame, ExceptionCode::kIllegalFunction);
    }
    if (length != kRequestLength) return exceptionReply(frame, ExceptionCode::kIllegalDataValue);

    const int firstId = frame[kObjectIdOffset];
    int lastId;
    switch (frame[kReadDeviceIdCodeOffset]) {
        case kBasicStream: lastId = kLastBasicId; break;
        case kRegularStream: lastId = kLastRegularId; break;
        case kExtendedStream: lastId = kLastExtendedId; break;
        case kIndividualAccess: lastId = firstId; break;
        default: return exceptionReply(frame, ExceptionCode::kIllegalDataValue);
    }
    const int replyLength = readDeviceIdentification(frame, firstId, lastId);
    if (replyLength == kReplyHeaderLength) {
        return exceptionReply(frame, ExceptionCode::kIllegalDataAddress);
    }
    return replyLength;
}

int SlaveProtocol::readDeviceIdentification(std::uint8_t* frame, int firstId, int lastId) {
    DataTable& table = *dataTables[frame[0]];
    frame[kConformityOffset] = kConformityBasic;
    frame[kMoreFollowsOffset] = 0;
    frame[kNextObjectIdOffset] = 0;
    frame[kObjectCountOffset] = 0;
    int replyLength = kReplyHeaderLength;

    // Conformity level: which objects exist at all, asked without a buffer
    // and outside the data bracket.
    table.requestInfo = &requestInfo;
    for (int id = 0; id <= kLastExtendedId; ++id) {
        if (table.readDeviceIdObject(id, nullptr, 0) <= 0) continue;
        if (id >= kFirstExtendedId) {
            frame[kConformityOffset] = kConformityExtended;
            break;
        }
        if (id > kLastBasicId) frame[kConformityOffset] = kConformityRegular;
    }

    // Cleared once: a callback that claims more than it wrote sends zeros
    // (or an earlier object's bytes), never what the stack held.
    char value[kObjectAreaSize] = {};
    int id = firstId;
    while (id <= lastId) {
        const int valueLength = bracketed(
            table, &requestInfo, [&](DataTable& t) { return t.readDeviceIdObject(id, value, kObjectCapacity); });
        if (valueLength <= 0) {
            // A gap among the basic and regular objects skips to the extended
            // ones; a gap among the extended objects ends the listing.
            if (id >= kLastRegularId) break;
            id = kFirstExtendedId;
            continue;
        }
        // A length beyond the buffer does not fit either; checked first, so
        // that no sum can overflow.
        if (valueLength > kObjectCapacity || replyLength + 2 + valueLength > kMaxReplyLength) {
            // Never truncated: the master asks again from this object.
            frame[kMoreFollowsOffset] = kMoreFollows;
            frame[kNextObjectIdOffset] = static_cast<std::uint8_t>(id);
            break;
        }
        frame[replyLength] = static_cast<std::uint8_t>(id);
        frame[replyLength + 1] = static_cast<std::uint8_t>(valueLength);
        std::memcpy(frame + replyLength + 2, value, static_cast<std::size_t>(valueLength));
        frame[kObjectCountOffset] = static_cast<std::uint8_t>(frame[kObjectCountOffset] + 1);
        replyLength += 2 + valueLength;
        ++id;
    }
    return replyLength;
}

}  // namespace mbslave
