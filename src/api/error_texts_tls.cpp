// mbusSlave_getErrorText of libmbslave-tls: the texts of libmbslave and
// those of the TLS set-up errors.
#include "api/error_texts.hpp"
#include "mbslave_tls.h"

namespace {

constexpr mbslave::ErrorTextEntry kTlsErrorTexts[] = {
    {MB_ERR_TLS_LIBRARY, u"TLS library error"},
    {MB_ERR_TLS_NO_CERTIFICATE, u"No TLS server certificate and key configured"},
    {MB_ERR_TLS_CERTIFICATE_FILE, u"TLS certificate file unreadable or invalid"},
    {MB_ERR_TLS_KEY_FILE, u"TLS private key file unreadable, invalid or encrypted"},
    {MB_ERR_TLS_KEY_MISMATCH, u"TLS private key does not match the certificate"},
    {MB_ERR_TLS_NO_CA, u"No trusted TLS CA file configured"},
    {MB_ERR_TLS_CA_FILE, u"TLS CA file unreadable or without certificate"},
    {-1, nullptr},
};

}  // namespace

extern "C" {

MBSLAVE_API const MbWideChar* mbusSlave_getErrorText(int errorCode) {
    const char16_t* text = mbslave::findErrorText(kTlsErrorTexts, errorCode);
    return mbslave::exportedErrorText(text != nullptr ? text : mbslave::errorTextOf(errorCode));
}

}  // extern "C"
