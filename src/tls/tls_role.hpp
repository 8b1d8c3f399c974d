// The role of a master: the client certificate's role extension, one
// ASN.1 UTF8String whose whole text is the role.
#pragma once

#include <cstddef>

#include <openssl/x509.h>

namespace mbslave::tls {

// Longest role text kept; a longer role counts as malformed.
constexpr std::size_t kMaxRoleLength = 255;

// Copies the role of `certificate` into `text` (kMaxRoleLength + 1 bytes)
// and returns true. False (a null role) when the certificate has no role
// extension, more than one, or one that is not a valid UTF8String, carries
// a zero byte or is too long.
bool readRole(X509* certificate, const ASN1_OBJECT* roleOid, char* text) noexcept;

}  // namespace mbslave::tls
