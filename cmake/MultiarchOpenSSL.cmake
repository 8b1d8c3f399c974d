# A cross build against Debian's multiarch OpenSSL of the target (for
# 32-bit ARM: libssl-dev:armhf): its libraries are in /usr/lib/<triplet>,
# its headers in /usr/include/openssl (beside the build machine's own
# headers, which the cross compiler must not see) and
# /usr/include/<triplet>/openssl. FindOpenSSL gets the libraries and one
# include folder in the build tree that links the OpenSSL headers alone.
if(NOT CMAKE_CROSSCOMPILING OR NOT CMAKE_LIBRARY_ARCHITECTURE OR OPENSSL_INCLUDE_DIR)
  return()
endif()
set(mbslave_multiarch_lib /usr/lib/${CMAKE_LIBRARY_ARCHITECTURE})
set(mbslave_multiarch_include /usr/include/${CMAKE_LIBRARY_ARCHITECTURE}/openssl)
if(NOT EXISTS ${mbslave_multiarch_lib}/libssl.so OR NOT EXISTS ${mbslave_multiarch_include}/configuration.h)
  return()
endif()
set(mbslave_openssl_headers ${PROJECT_BINARY_DIR}/multiarch-openssl/include)
file(MAKE_DIRECTORY ${mbslave_openssl_headers}/openssl)
file(GLOB mbslave_headers /usr/include/openssl/*.h ${mbslave_multiarch_include}/*.h)
foreach(header ${mbslave_headers})
  get_filename_component(name ${header} NAME)
  file(CREATE_LINK ${header} ${mbslave_openssl_headers}/openssl/${name} SYMBOLIC)
endforeach()
set(OPENSSL_INCLUDE_DIR ${mbslave_openssl_headers} CACHE PATH "OpenSSL headers of the target")
set(OPENSSL_SSL_LIBRARY ${mbslave_multiarch_lib}/libssl.so CACHE FILEPATH "libssl of the target")
set(OPENSSL_CRYPTO_LIBRARY ${mbslave_multiarch_lib}/libcrypto.so CACHE FILEPATH "libcrypto of the target")
