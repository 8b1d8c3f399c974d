/*
 * mbslave - Modbus slave (server) protocol library.
 *
 * The application creates one protocol handle per communication channel,
 * registers callbacks that serve the process data of each slave address,
 * starts the server and then calls mbusSlave_serverLoop() repeatedly from
 * one thread. The library starts no threads, takes no locks and keeps no
 * global state of its own: every handle is independent of every other (on
 * Windows the address of WSARecvMsg, the same for every socket, is looked
 * up once and kept for the process).
 *
 * This header is valid C99 and C++. The manual: mbslave(7) and a page per
 * function (man mbusSlave_serverLoop).
 */
#ifndef MBSLAVE_H
#define MBSLAVE_H

#include <stdint.h>

#if !defined(__cplusplus) && defined(_WIN32)
#include <stddef.h> /* wchar_t, which C declares there and not in <stdint.h> */
#elif !defined(__cplusplus) && defined(__STDC_VERSION__) && __STDC_VERSION__ >= 201112L
#include <uchar.h>
#endif

#ifdef __cplusplus
extern "C" {
#endif

/* ------------------------------------------------------------------------
 * Linkage
 * ------------------------------------------------------------------------ */

#if defined(_WIN32)
#  if defined(MBSLAVE_BUILDING_LIBRARY)
#    define MBSLAVE_API __declspec(dllexport)
#  else
#    define MBSLAVE_API __declspec(dllimport)
#  endif
#else
#  define MBSLAVE_API __attribute__((visibility("default")))
#endif

/* ------------------------------------------------------------------------
 * Constants
 * ------------------------------------------------------------------------ */

#if defined(_WIN32)
/* <windows.h> defines MB_OK (a MessageBox flag of the same value, 0) and
 * PARITY_NONE, PARITY_ODD and PARITY_EVEN (COMMPROP bits 0x100, 0x200,
 * 0x400). Included before this header, its macros are replaced by this
 * header's constants; included after, its macros hide them, and
 * mbusSlave_startupSerialServer() takes those three values as the same
 * parities. Either order gives the parity asked for. */
#  undef MB_OK
#  undef PARITY_NONE
#  undef PARITY_ODD
#  undef PARITY_EVEN
#endif

/** Error codes returned by the library's functions. 0 is success. */
enum {
    MB_OK = 0,
    MB_ERR_ILLEGAL_ARGUMENT = 1,
    MB_ERR_ILLEGAL_STATE = 2,
    MB_ERR_NO_DATA_TABLE = 4,
    MB_ERR_SLAVE_ADDRESS_ZERO = 5,

    MB_ERR_IO_CLASS = 0x40,
    MB_ERR_IO = 0x41,
    MB_ERR_PORT_OPEN = 0x42,
    MB_ERR_SERIAL_PORT_ALREADY_OPEN = 0x43,
    MB_ERR_TCPIP_CONNECTION = 0x44,
    MB_ERR_CLOSED_BY_PEER = 0x45,
    MB_ERR_SOCKET_LIBRARY = 0x46,
    MB_ERR_TCP_PORT_BOUND = 0x47,
    MB_ERR_LISTEN_FAILED = 0x48,
    MB_ERR_DESCRIPTORS_EXCEEDED = 0x49,
    MB_ERR_NO_PERMISSION = 0x4A,
    MB_ERR_TCP_PORT_NOT_AVAILABLE = 0x4B,

    MB_ERR_PROTOCOL_CLASS = 0x80,
    MB_ERR_CHECKSUM = 0x81,
    MB_ERR_INVALID_FRAME = 0x82,
    MB_ERR_INVALID_REPLY = 0x83,
    MB_ERR_REPLY_TIMEOUT = 0x84,
    MB_ERR_SEND_TIMEOUT = 0x85,
    MB_ERR_INVALID_MPAB_ID = 0x86,
    MB_ERR_SERIAL_LINE = 0x87,

    MB_ERR_EXCEPTION_CLASS = 0xA0,
    MB_ERR_EXC_ILLEGAL_FUNCTION = 0xA1,
    MB_ERR_EXC_ILLEGAL_DATA_ADDRESS = 0xA2,
    MB_ERR_EXC_ILLEGAL_DATA_VALUE = 0xA3,
    MB_ERR_EXC_SLAVE_DEVICE_FAILURE = 0xA4,
    MB_ERR_EXC_GATEWAY_PATH_UNAVAILABLE = 0xAA,
    MB_ERR_EXC_GATEWAY_TARGET_FAILED = 0xAB
};

/** Parity argument of mbusSlave_startupSerialServer(). */
enum {
    PARITY_NONE = 0,
    PARITY_ODD = 1,
    PARITY_EVEN = 2
};

/** Transport of a protocol object, as reported in RequestInfo.protocolType. */
enum {
    MB_PROTOCOL_RTU = 0,
    MB_PROTOCOL_ASCII = 1,
    MB_PROTOCOL_TCP = 2,
    MB_PROTOCOL_RTU_OVER_TCP = 3,
    MB_PROTOCOL_UDP = 4
};

/* ------------------------------------------------------------------------
 * Types
 * ------------------------------------------------------------------------ */

/** One UTF-16 code unit: the library's wide texts (error texts, version,
 *  serial port names). */
#if defined(_WIN32)
typedef wchar_t MbWideChar;
#elif defined(__cplusplus) || (defined(__STDC_VERSION__) && __STDC_VERSION__ >= 201112L)
typedef char16_t MbWideChar;
#else
typedef uint_least16_t MbWideChar;
#endif

/** Opaque protocol handle made by one of the mbusSlave_create...Protocol()
 *  functions and ended by mbusSlave_destroyProtocol(). */
typedef struct MbusSlaveHandle MbusSlaveHandle;

/**
 * Context of the request being processed. Every data callback receives a
 * pointer to the handle's record as its last argument; it is valid for the
 * duration of the callback.
 */
typedef struct RequestInfo {
    int32_t protocolType;    /**< MB_PROTOCOL_RTU .. MB_PROTOCOL_UDP */
    int32_t slaveAddress;    /**< slave address (unit identifier), 0..255 */
    const char *peerName;    /**< IP: master's dotted IPv4 address; serial: port name */
    uint16_t transactionId;  /**< MBAP transaction identifier (TCP, UDP), else 0 */
} RequestInfo;

/*
 * Data callbacks, registered per slave address with
 * mbusSlave_configureCallbacks() in the order below; nonzero serves the
 * request, 0 refuses it. Manual: mbusSlave_configureCallbacks(3).
 */
typedef int (*MbReadHoldingRegistersCallback)(int startRef, uint16_t regArr[], int refCnt, const RequestInfo *info);
typedef int (*MbWriteHoldingRegistersCallback)(int startRef, const uint16_t regArr[], int refCnt, const RequestInfo *info);
typedef int (*MbReadInputRegistersCallback)(int startRef, uint16_t regArr[], int refCnt, const RequestInfo *info);
typedef int (*MbReadCoilsCallback)(int startRef, char bitArr[], int refCnt, const RequestInfo *info);
typedef int (*MbWriteCoilsCallback)(int startRef, const char bitArr[], int refCnt, const RequestInfo *info);
typedef int (*MbReadInputDiscretesCallback)(int startRef, char bitArr[], int refCnt, const RequestInfo *info);
/** 32-bit registers (FC3/FC4 up to 62, FC16 with 4 bytes per register). */
typedef int (*MbReadRegisters32Callback)(int startRef, int32_t regArr[], int refCnt, const RequestInfo *info);
typedef int (*MbWriteRegisters32Callback)(int startRef, const int32_t regArr[], int refCnt, const RequestInfo *info);
/** Returns the exception status; its low 8 bits are sent (FC7). */
typedef int (*MbReadExceptionStatusCallback)(const RequestInfo *info);
/** Called by the server loop when the master has not polled this address
 *  for one protocol time-out period. */
typedef void (*MbSignalTimeOutCallback)(void);
typedef int (*MbReadFileRecordCallback)(int refType, int fileNo, int recordNo, uint16_t regArr[], int recordLen, const RequestInfo *info);
typedef int (*MbWriteFileRecordCallback)(int refType, int fileNo, int recordNo, const uint16_t regArr[], int recordLen, const RequestInfo *info);
/** Writes the slave id bytes into buffer (capacity 250); returns their
 *  number, 1..249 (FC17). */
typedef int (*MbReportSlaveIdCallback)(char buffer[], int capacity, const RequestInfo *info);
/** Nonzero: run indicator ON (FC17). */
typedef int (*MbRunIndicatorStatusCallback)(const RequestInfo *info);
/** Device identification object (FC43/14): with a null buffer only reports
 *  whether the object exists (positive result); otherwise copies its value
 *  and returns its length. 0 or negative: no such object. */
typedef int (*MbReadDeviceIdObjectCallback)(int objectId, char buffer[], int capacity, const RequestInfo *info);

/*
 * Notification callbacks of the IP servers; each receives the master's IPv4
 * address as dotted-decimal text, valid only during the call.
 */
/** A master connected: return nonzero to keep the connection, 0 to refuse it. */
typedef int (*MbAcceptCallback)(const char *address);
/** A connection was closed. */
typedef void (*MbCloseCallback)(const char *address);
/** A request was processed. */
typedef void (*MbRequestCallback)(const char *address);

/* ------------------------------------------------------------------------
 * Functions: error texts and version
 * ------------------------------------------------------------------------ */

/** Constant English text of an error code (UTF-16, static, never null).
 *  Manual: mbusSlave_getErrorText(3). */
MBSLAVE_API const MbWideChar *mbusSlave_getErrorText(int errorCode);

/** The package version text "2.11.0.0" (UTF-16, static). Manual: mbusSlave_getPackageVersion(3). */
MBSLAVE_API const MbWideChar *mbusSlave_getPackageVersion(void);

/* ------------------------------------------------------------------------
 * Functions: every kind of handle
 *
 * Each function first checks its handle: a null handle returns
 * MB_ERR_ILLEGAL_STATE (error-code functions), 0 (value functions) or
 * nothing, and does nothing else. A handle must be used by one thread at a
 * time.
 * ------------------------------------------------------------------------ */

/** Stops a running server, closes its port or sockets and frees the handle.
 *  Manual: mbusSlave_destroyProtocol(3). */
MBSLAVE_API void mbusSlave_destroyProtocol(MbusSlaveHandle *handle);

/** Installs the fifteen data callbacks of one slave address (0..255), or of every address with -1.
 *  Manual: mbusSlave_configureCallbacks(3). */
MBSLAVE_API int mbusSlave_configureCallbacks(MbusSlaveHandle *handle, int slaveAddress,
                                             MbReadHoldingRegistersCallback readHoldingRegisters,
                                             MbWriteHoldingRegistersCallback writeHoldingRegisters,
                                             MbReadInputRegistersCallback readInputRegisters,
                                             MbReadCoilsCallback readCoils,
                                             MbWriteCoilsCallback writeCoils,
                                             MbReadInputDiscretesCallback readInputDiscretes,
                                             MbReadRegisters32Callback readRegisters32,
                                             MbWriteRegisters32Callback writeRegisters32,
                                             MbReadExceptionStatusCallback readExceptionStatus,
                                             MbSignalTimeOutCallback signalTimeOut,
                                             MbReadFileRecordCallback readFileRecord,
                                             MbWriteFileRecordCallback writeFileRecord,
                                             MbReportSlaveIdCallback reportSlaveId,
                                             MbRunIndicatorStatusCallback runIndicatorStatus,
                                             MbReadDeviceIdObjectCallback readDeviceIdObject);

/** One pass of the server: waits at most the protocol time-out and serves what arrived.
 *  Manual: mbusSlave_serverLoop(3). */
MBSLAVE_API int mbusSlave_serverLoop(MbusSlaveHandle *handle);

/** Stops the server; it may be started again. Manual: mbusSlave_shutdownServer(3). */
MBSLAVE_API void mbusSlave_shutdownServer(MbusSlaveHandle *handle);

/** 1 while the server is started, else 0. Manual: mbusSlave_shutdownServer(3). */
MBSLAVE_API int mbusSlave_isStarted(MbusSlaveHandle *handle);

/** 1 if a request was served within the last protocol time-out period, else 0.
 *  Manual: mbusSlave_getConnectionStatus(3). */
MBSLAVE_API int mbusSlave_getConnectionStatus(MbusSlaveHandle *handle);

/** Sets the protocol time-out in ms, 0..100000 (default 1000). Manual: mbusSlave_setTimeout(3). */
MBSLAVE_API int mbusSlave_setTimeout(MbusSlaveHandle *handle, uint32_t timeOut);

/** The protocol time-out in ms. Manual: mbusSlave_setTimeout(3). */
MBSLAVE_API uint32_t mbusSlave_getTimeout(MbusSlaveHandle *handle);

/** Sends Modbus exception responses (the default). Manual: mbusSlave_enableExceptionReplies(3). */
MBSLAVE_API void mbusSlave_enableExceptionReplies(MbusSlaveHandle *handle);

/** Sends nothing for a request whose reply would be an exception response.
 *  Manual: mbusSlave_enableExceptionReplies(3). */
MBSLAVE_API void mbusSlave_disableExceptionReplies(MbusSlaveHandle *handle);

/** Requests served since creation or the last reset. Manual: mbusSlave_getSuccessCounter(3). */
MBSLAVE_API uint32_t mbusSlave_getSuccessCounter(MbusSlaveHandle *handle);
MBSLAVE_API void mbusSlave_resetSuccessCounter(MbusSlaveHandle *handle);

/** Requests received since creation or the last reset. Manual: mbusSlave_getSuccessCounter(3). */
MBSLAVE_API uint32_t mbusSlave_getTotalCounter(MbusSlaveHandle *handle);
MBSLAVE_API void mbusSlave_resetTotalCounter(MbusSlaveHandle *handle);

/* ------------------------------------------------------------------------
 * Functions: serial handles (RTU, ASCII)
 * ------------------------------------------------------------------------ */

/** Opens the serial port and starts the server. Manual: mbusSlave_startupSerialServer(3). */
MBSLAVE_API int mbusSlave_startupSerialServer(MbusSlaveHandle *handle, const MbWideChar *portName,
                                              int baudRate, int dataBits, int stopBits, int parity);

/** RS-485 mode: RTS switches the transmitter; delay in ms after each reply, 0 off.
 *  Manual: mbusSlave_enableRs485Mode(3). */
MBSLAVE_API int mbusSlave_enableRs485Mode(MbusSlaveHandle *handle, uint32_t delay);

/** A new Modbus RTU slave handle; null when memory is exhausted.
 *  Manual: mbusSlave_createRtuProtocol(3). */
MBSLAVE_API MbusSlaveHandle *mbusSlave_createRtuProtocol(void);

/** RTU: extra silence in ms (0..20) that ends a frame. Manual: mbusSlave_setFrameTolerance(3). */
MBSLAVE_API int mbusSlave_setFrameTolerance(MbusSlaveHandle *handle, uint32_t milliseconds);

/** A new Modbus ASCII slave handle; null when memory is exhausted.
 *  Manual: mbusSlave_createRtuProtocol(3). */
MBSLAVE_API MbusSlaveHandle *mbusSlave_createAsciiProtocol(void);

/* ------------------------------------------------------------------------
 * Functions: IP handles (TCP, RTU over TCP, UDP)
 * ------------------------------------------------------------------------ */

/** A new Modbus/TCP server handle; null when memory is exhausted.
 *  Manual: mbusSlave_createTcpProtocol(3). */
MBSLAVE_API MbusSlaveHandle *mbusSlave_createTcpProtocol(void);

/** A new server handle for RTU frames over TCP; null when memory is exhausted.
 *  Manual: mbusSlave_createTcpProtocol(3). */
MBSLAVE_API MbusSlaveHandle *mbusSlave_createRtuOverTcpProtocol(void);

/** A new server handle for Modbus/TCP framing in UDP datagrams; null when memory is exhausted.
 *  Manual: mbusSlave_createTcpProtocol(3). */
MBSLAVE_API MbusSlaveHandle *mbusSlave_createUdpProtocol(void);

/** Starts the IP server on the address of hostName (null or "": every local address).
 *  Manual: mbusSlave_startupIpServer(3). */
MBSLAVE_API int mbusSlave_startupIpServer(MbusSlaveHandle *handle, const char *hostName);

/** Sets the local port for the next start-up. Manual: mbusSlave_setPort(3). */
MBSLAVE_API int mbusSlave_setPort(MbusSlaveHandle *handle, uint16_t port);

/** The configured local port. Manual: mbusSlave_setPort(3). */
MBSLAVE_API uint16_t mbusSlave_getPort(MbusSlaveHandle *handle);

/** TCP kinds: closes connections idle for longer than timeOut ms (0 never).
 *  Manual: mbusSlave_setConnectionTimeOut(3). */
MBSLAVE_API int mbusSlave_setConnectionTimeOut(MbusSlaveHandle *handle, uint32_t timeOut);

/** TCP kinds: the connection time-out in ms. Manual: mbusSlave_setConnectionTimeOut(3). */
MBSLAVE_API uint32_t mbusSlave_getConnectionTimeOut(MbusSlaveHandle *handle);

/** TCP kinds: notifications of accepted and closed connections and of processed requests.
 *  Manual: mbusSlave_configureTcpNotifications(3). */
MBSLAVE_API void mbusSlave_configureTcpNotifications(MbusSlaveHandle *handle,
                                                     MbAcceptCallback acceptCallback,
                                                     MbCloseCallback closeCallback,
                                                     MbRequestCallback requestCallback);

/** IP kinds: notification of processed requests. Manual: mbusSlave_configureTcpNotifications(3). */
MBSLAVE_API void mbusSlave_configureUdpNotifications(MbusSlaveHandle *handle,
                                                     MbRequestCallback requestCallback);

#ifdef __cplusplus
}
#endif

#endif /* MBSLAVE_H */
