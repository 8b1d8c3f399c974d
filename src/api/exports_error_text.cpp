// mbusSlave_getErrorText of libmbslave; libmbslave-tls has its own, which
// adds the texts of its set-up errors.
#include "api/error_texts.hpp"

extern "C" {

MBSLAVE_API const MbWideChar* mbusSlave_getErrorText(int errorCode) {
    return mbslave::exportedErrorText(mbslave::errorTextOf(errorCode));
}

}  // extern "C"
