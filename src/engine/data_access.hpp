// Building blocks shared by the request handlers: the bracket around every
// data access and the exception response.
#pragma once

#include <cstdint>

#include "engine/data_table.hpp"
#include "engine/modbus_codes.hpp"
#include "engine/pdu_layout.hpp"

namespace mbslave {

using pdu::kDataOffset;
using pdu::kExceptionReplyLength;
using pdu::kFunctionCodeOffset;

// lock, hand the table the request context, run the access, unlock. The
// access may call several operations that must appear atomic to other users
// of the table (read-modify-write, write-then-read).
template <typename Access>
inline int bracketed(DataTable& table, RequestInfo* context, Access&& access) {
    table.lock();
    table.requestInfo = context;
    const int result = access(table);
    table.unlock();
    return result;
}

// Turns the frame into an exception response: bit 7 of the function code
// set, the exception code at offset 2.
inline int exceptionReply(std::uint8_t* frame, std::uint8_t exceptionCode) noexcept {
    frame[kFunctionCodeOffset] =
        static_cast<std::uint8_t>(frame[kFunctionCodeOffset] | FunctionCode::kExceptionFlag);
    frame[kDataOffset] = exceptionCode;
    return kExceptionReplyLength;
}

}  // namespace mbslave
