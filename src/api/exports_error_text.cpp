// mbusSlave_getErrorText of libmbslave; libmbslave-tls has its own, which
// adds the texts of its set-up errors.
#include "api/error_texts.hpp"

extern "C" {

MBSLAVE_API const MbWideChar* mbusSlave_getErrorText(int errorCode) {
    const char16_t* text = mbslave::errorTextOf(errorCode);
    return mbslave::asWideText(text != nullptr ? text : mbslave::kUnknownErrorText);
}

}  // extern "C"
