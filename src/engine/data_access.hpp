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

// A data access that the table serves (nonzero) or refuses (0), run in the
// bracket. The one place where a refusal becomes its exception: the table
// has no such data, exception 2. Returns the exception reply's length over
// the frame, 0 when the access was served.
template <typename Access>
inline int refusedAccess(std::uint8_t* frame, DataTable& table, RequestInfo* context, Access&& access) {
    if (bracketed(table, context, access) != 0) return 0;
    return exceptionReply(frame, ExceptionCode::kIllegalDataAddress);
}

}  // namespace mbslave
