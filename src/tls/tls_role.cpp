#include "tls/tls_role.hpp"

#include <cstring>

#include <openssl/asn1.h>
#include <openssl/crypto.h>

namespace mbslave::tls {

bool readRole(X509* certificate, const ASN1_OBJECT* roleOid, char* text) noexcept {
    if (certificate == nullptr) return false;
    const int index = X509_get_ext_by_OBJ(certificate, roleOid, -1);
    // One role per certificate: a second extension makes it ambiguous.
    if (index < 0 || X509_get_ext_by_OBJ(certificate, roleOid, index) >= 0) return false;
    const ASN1_OCTET_STRING* value = X509_EXTENSION_get_data(X509_get_ext(certificate, index));
    const unsigned char* der = ASN1_STRING_get0_data(value);
    const long derLength = ASN1_STRING_length(value);
    const unsigned char* cursor = der;
    ASN1_UTF8STRING* role = d2i_ASN1_UTF8STRING(nullptr, &cursor, derLength);
    if (role == nullptr) return false;
    // The extension holds the string and nothing after it; the conversion
    // checks that the text is valid UTF-8.
    unsigned char* utf8 = nullptr;
    const int length = cursor == der + derLength ? ASN1_STRING_to_UTF8(&utf8, role) : -1;
    ASN1_UTF8STRING_free(role);
    const bool taken = length >= 0 && static_cast<std::size_t>(length) <= kMaxRoleLength &&
                       std::memchr(utf8, 0, static_cast<std::size_t>(length)) == nullptr;
    if (taken) {
        std::memcpy(text, utf8, static_cast<std::size_t>(length));
        text[length] = '\0';
    }
    OPENSSL_free(utf8);
    return taken;
}

}  // namespace mbslave::tls
