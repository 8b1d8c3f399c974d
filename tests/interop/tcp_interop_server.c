/*
 * A Modbus/TCP server for the interoperability suites, built on the public
 * C interface only. Unit 1 holds an in-memory data model; every other unit
 * has no data table. Picks a free loopback port, prints "PORT <n>" and
 * serves until SIGTERM or SIGINT (at most 300 s).
 * Usage: tcp_interop_server [tcp|rtutcp|udp]; the kind of server, Modbus/TCP
 * by default, RTU frames over TCP, or MBAP-framed requests over UDP.
 *
 * Data model (wire addresses 0..9999; anything beyond is refused):
 *   holding register a = a, input register a = 3a (mod 2^16),
 *   coil a = (a % 3 == 0), discrete input a = (a % 2 == 1),
 *   exception status 0x5A, slave id "mbslave" with run indicator ON,
 *   device identification objects 0..2, files 1..4 of 100 records each.
 */
#define _POSIX_C_SOURCE 200809L
#ifdef _WIN32
#include <winsock2.h>
typedef int socklen_t;
typedef SOCKET ProbeSocket;
static void closeProbe(ProbeSocket probe) { closesocket(probe); }
#else
#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>
typedef int ProbeSocket;
static void closeProbe(ProbeSocket probe) { close(probe); }
#endif
#include <signal.h>
#include <stdio.h>
#include <string.h>
#include <time.h>

#include "mbslave.h"

enum { MODEL_POINTS = 10000, FILES = 4, RECORDS = 100, LIFETIME_S = 300 };

static uint16_t holdingRegisters[MODEL_POINTS];
static char coils[MODEL_POINTS];
static uint16_t fileRecords[FILES][RECORDS];
static volatile sig_atomic_t stopRequested = 0;

static void requestStop(int signalNumber) {
    (void)signalNumber;
    stopRequested = 1;
}

/* First index of a 1-based range inside the model, or -1. */
static int firstIndex(int startRef, int count) {
    if (startRef < 1 || count < 1 || startRef - 1 + count > MODEL_POINTS) return -1;
    return startRef - 1;
}

static int readHolding(int startRef, uint16_t regArr[], int refCnt, const RequestInfo *info) {
    int first = firstIndex(startRef, refCnt);
    (void)info;
    if (first < 0) return 0;
    memcpy(regArr, &holdingRegisters[first], (size_t)refCnt * sizeof regArr[0]);
    return 1;
}

static int writeHolding(int startRef, const uint16_t regArr[], int refCnt, const RequestInfo *info) {
    int first = firstIndex(startRef, refCnt);
    (void)info;
    if (first < 0) return 0;
    memcpy(&holdingRegisters[first], regArr, (size_t)refCnt * sizeof regArr[0]);
    return 1;
}

static int readInput(int startRef, uint16_t regArr[], int refCnt, const RequestInfo *info) {
    int first = firstIndex(startRef, refCnt);
    int i;
    (void)info;
    if (first < 0) return 0;
    for (i = 0; i < refCnt; ++i) regArr[i] = (uint16_t)(3 * (first + i));
    return 1;
}

static int readCoils(int startRef, char bitArr[], int refCnt, const RequestInfo *info) {
    int first = firstIndex(startRef, refCnt);
    (void)info;
    if (first < 0) return 0;
    memcpy(bitArr, &coils[first], (size_t)refCnt);
    return 1;
}

static int writeCoils(int startRef, const char bitArr[], int refCnt, const RequestInfo *info) {
    int first = firstIndex(startRef, refCnt);
    (void)info;
    if (first < 0) return 0;
    memcpy(&coils[first], bitArr, (size_t)refCnt);
    return 1;
}

static int readDiscretes(int startRef, char bitArr[], int refCnt, const RequestInfo *info) {
    int first = firstIndex(startRef, refCnt);
    int i;
    (void)info;
    if (first < 0) return 0;
    for (i = 0; i < refCnt; ++i) bitArr[i] = (char)((first + i) % 2);
    return 1;
}

static int readExceptionStatus(const RequestInfo *info) {
    (void)info;
    return 0x5A;
}

static uint16_t *fileRange(int fileNo, int recordNo, int recordLen) {
    if (fileNo < 1 || fileNo > FILES || recordNo < 0 || recordNo + recordLen > RECORDS) return NULL;
    return &fileRecords[fileNo - 1][recordNo];
}

static int readFile(int refType, int fileNo, int recordNo, uint16_t regArr[], int recordLen,
                    const RequestInfo *info) {
    uint16_t *records = fileRange(fileNo, recordNo, recordLen);
    (void)info;
    if (refType != 6 || records == NULL) return 0;
    memcpy(regArr, records, (size_t)recordLen * sizeof regArr[0]);
    return 1;
}

static int writeFile(int refType, int fileNo, int recordNo, const uint16_t regArr[], int recordLen,
                     const RequestInfo *info) {
    uint16_t *records = fileRange(fileNo, recordNo, recordLen);
    (void)info;
    if (refType != 6 || records == NULL) return 0;
    memcpy(records, regArr, (size_t)recordLen * sizeof regArr[0]);
    return 1;
}

static int reportSlaveId(char buffer[], int capacity, const RequestInfo *info) {
    static const char id[] = "mbslave";
    (void)info;
    if (capacity < (int)sizeof id - 1) return 0;
    memcpy(buffer, id, sizeof id - 1);
    return (int)sizeof id - 1;
}

static int runIndicator(const RequestInfo *info) {
    (void)info;
    return 1;
}

static int readDeviceIdObject(int objectId, char buffer[], int capacity, const RequestInfo *info) {
    static const char *const objects[] = {"mbslave", "interop-server", "2.11.0.0"};
    size_t length;
    (void)info;
    if (objectId < 0 || objectId > 2) return 0;
    length = strlen(objects[objectId]);
    if (buffer == NULL) return (int)length;
    if ((int)length > capacity) return 0;
    memcpy(buffer, objects[objectId], length);
    return (int)length;
}

/* A port that was free a moment ago; 0 if none could be found. */
static uint16_t freeLoopbackPort(void) {
    struct sockaddr_in address;
    socklen_t length = sizeof address;
    uint16_t port = 0;
#ifdef _WIN32
    WSADATA data;
    ProbeSocket probe;
    if (WSAStartup(MAKEWORD(2, 2), &data) != 0) return 0;
    probe = socket(AF_INET, SOCK_STREAM, 0);
    if (probe == INVALID_SOCKET) return 0;
#else
    ProbeSocket probe = socket(AF_INET, SOCK_STREAM, 0);
    if (probe < 0) return 0;
#endif
    memset(&address, 0, sizeof address);
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (bind(probe, (struct sockaddr *)&address, sizeof address) == 0 &&
        getsockname(probe, (struct sockaddr *)&address, &length) == 0) {
        port = ntohs(address.sin_port);
    }
    closeProbe(probe);
    return port;
}

static void initialiseModel(void) {
    int i;
    for (i = 0; i < MODEL_POINTS; ++i) {
        holdingRegisters[i] = (uint16_t)i;
        coils[i] = (char)(i % 3 == 0);
    }
}

/* The server of the kind named on the command line; null for an unknown kind. */
static MbusSlaveHandle *createServer(int argc, char **argv) {
    const char *kind = argc > 1 ? argv[1] : "tcp";
    if (strcmp(kind, "tcp") == 0) return mbusSlave_createTcpProtocol();
    if (strcmp(kind, "rtutcp") == 0) return mbusSlave_createRtuOverTcpProtocol();
    if (strcmp(kind, "udp") == 0) return mbusSlave_createUdpProtocol();
    fprintf(stderr, "unknown server kind %s\n", kind);
    return NULL;
}

int main(int argc, char **argv) {
    MbusSlaveHandle *handle = createServer(argc, argv);
    uint16_t port = 0;
    int attempt;
    int result = MB_ERR_TCP_PORT_BOUND;
    time_t deadline = time(NULL) + LIFETIME_S;

    if (handle == NULL) return 1;
    initialiseModel();
    signal(SIGTERM, requestStop);
    signal(SIGINT, requestStop);
    mbusSlave_configureCallbacks(handle, 1, readHolding, writeHolding, readInput, readCoils,
                                 writeCoils, readDiscretes, NULL, NULL, readExceptionStatus, NULL,
                                 readFile, writeFile, reportSlaveId, runIndicator,
                                 readDeviceIdObject);
    mbusSlave_setTimeout(handle, 100);
    for (attempt = 0; attempt < 20 && result == MB_ERR_TCP_PORT_BOUND; ++attempt) {
        port = freeLoopbackPort();
        mbusSlave_setPort(handle, port);
        result = mbusSlave_startupIpServer(handle, "127.0.0.1");
    }
    if (result != MB_OK) {
        fprintf(stderr, "start-up failed: %d\n", result);
        mbusSlave_destroyProtocol(handle);
        return 1;
    }
    printf("PORT %u\n", (unsigned)port);
    fflush(stdout);

    while (!stopRequested && time(NULL) < deadline) {
        result = mbusSlave_serverLoop(handle);
        if (result != MB_OK) {
            fprintf(stderr, "server loop failed: %d\n", result);
            break;
        }
    }
    mbusSlave_destroyProtocol(handle);
    return result == MB_OK ? 0 : 1;
}
