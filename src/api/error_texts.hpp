// The library's error texts, looked up by code; the exported
// mbusSlave_getErrorText of each shared library is built on them.
#pragma once

#include "mbslave.h"

namespace mbslave {

constexpr const char16_t* kUnknownErrorText = u"Unknown error";

struct ErrorTextEntry {
    int code;
    const char16_t* text;
};

// The text of errorCode in a table that ends with a null text; null when
// the table has none.
const char16_t* findErrorText(const ErrorTextEntry* table, int errorCode) noexcept;
// The text of a library error code; null when the code has none.
const char16_t* errorTextOf(int errorCode) noexcept;

// The texts are UTF-16 literals; MbWideChar is the 16-bit unit the header
// gives them (char16_t, or wchar_t on Windows), with the same representation.
static_assert(sizeof(MbWideChar) == sizeof(char16_t), "MbWideChar holds UTF-16 units");
inline const MbWideChar* asWideText(const char16_t* text) noexcept {
    return reinterpret_cast<const MbWideChar*>(text);
}
// What mbusSlave_getErrorText returns for a looked-up text (null: unknown).
inline const MbWideChar* exportedErrorText(const char16_t* text) noexcept {
    return asWideText(text != nullptr ? text : kUnknownErrorText);
}

}  // namespace mbslave
