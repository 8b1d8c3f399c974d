# The library's source files, listed one by one. The platform services have
# one file per operating system; only the files of the target system are
# compiled, so no platform file is ever picked up by accident.

set(MBSLAVE_SOURCES
  src/api/error_texts.cpp
  src/api/exports_common.cpp
  src/api/exports_ip.cpp
  src/api/exports_serial.cpp
  src/api/protocol_handle.cpp
  src/engine/bit_requests.cpp
  src/engine/callback_data_table.cpp
  src/engine/data_table.cpp
  src/engine/device_identification.cpp
  src/engine/diagnostic_requests.cpp
  src/engine/file_record_requests.cpp
  src/engine/register_requests.cpp
  src/engine/rtu_frame_bytes.cpp
  src/engine/slave_protocol.cpp
  src/ip/ip_protocol.cpp
  src/ip/rtu_over_tcp_protocol.cpp
  src/ip/tcp_protocol.cpp
  src/ip/udp_protocol.cpp
  src/platform/serial_port_name.cpp
  src/serial/ascii_protocol.cpp
  src/serial/rtu_frame.cpp
  src/serial/rtu_protocol.cpp
  src/serial/serial_port.cpp
  src/serial/serial_protocol.cpp
  src/serial/wide_text.cpp)

set(MBSLAVE_POSIX_SOURCES
  src/platform/clock_posix.cpp
  src/platform/serial_device_posix.cpp
  src/platform/serial_port_name_posix.cpp
  src/platform/socket_posix.cpp)

set(MBSLAVE_WINDOWS_SOURCES
  src/platform/clock_windows.cpp
  src/platform/serial_device_windows.cpp
  src/platform/serial_port_name_windows.cpp
  src/platform/socket_windows.cpp)

if(WIN32)
  list(APPEND MBSLAVE_SOURCES ${MBSLAVE_WINDOWS_SOURCES})
else()
  list(APPEND MBSLAVE_SOURCES ${MBSLAVE_POSIX_SOURCES})
endif()
list(TRANSFORM MBSLAVE_SOURCES PREPEND ${PROJECT_SOURCE_DIR}/)

# mbusSlave_getErrorText of libmbslave; libmbslave-tls has its own.
set(MBSLAVE_ERROR_TEXT_SOURCES ${PROJECT_SOURCE_DIR}/src/api/exports_error_text.cpp)

# What libmbslave-tls adds to the library's sources (POSIX only, OpenSSL 3).
set(MBSLAVE_TLS_SOURCES
  src/api/error_texts_tls.cpp
  src/api/exports_tls.cpp
  src/tls/socket_bio.cpp
  src/tls/tls_context.cpp
  src/tls/tls_protocol.cpp
  src/tls/tls_role.cpp)
list(TRANSFORM MBSLAVE_TLS_SOURCES PREPEND ${PROJECT_SOURCE_DIR}/)
