/*
 * A Modbus RTU or ASCII slave for the serial interoperability suites, built
 * on the public C interface only.
 * Usage: serial_interop_server rtu|ascii <device path> <baud rate> [frame tolerance ms]
 * Prints "READY" once started and serves until SIGTERM or SIGINT (at most
 * 300 s); exits 0 if no server-loop pass failed.
 *
 * Slave 1 holds 1000 holding registers (register a starts as 0x1000 + a),
 * 1000 coils (coil a starts ON when a is odd), input registers (2a) and
 * discrete inputs (ON when a % 3 == 0), references 1..1000; anything beyond
 * is refused. Other addresses have no data table.
 */
#define _POSIX_C_SOURCE 200809L
#include <signal.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <time.h>

#include "mbslave.h"

enum { POINTS = 1000, LIFETIME_S = 300 };

static uint16_t registers[POINTS + 1];
static char coils[POINTS + 1];
static volatile sig_atomic_t stopRequested = 0;

static void requestStop(int signalNumber) {
    (void)signalNumber;
    stopRequested = 1;
}

static int inModel(int startRef, int count) {
    return startRef >= 1 && count >= 1 && startRef + count - 1 <= POINTS;
}

static int readHolding(int startRef, uint16_t regArr[], int refCnt, const RequestInfo *info) {
    (void)info;
    if (!inModel(startRef, refCnt)) return 0;
    memcpy(regArr, &registers[startRef], (size_t)refCnt * sizeof regArr[0]);
    return 1;
}

static int writeHolding(int startRef, const uint16_t regArr[], int refCnt, const RequestInfo *info) {
    (void)info;
    if (!inModel(startRef, refCnt)) return 0;
    memcpy(&registers[startRef], regArr, (size_t)refCnt * sizeof regArr[0]);
    return 1;
}

static int readInput(int startRef, uint16_t regArr[], int refCnt, const RequestInfo *info) {
    int i;
    (void)info;
    if (!inModel(startRef, refCnt)) return 0;
    for (i = 0; i < refCnt; ++i) regArr[i] = (uint16_t)(2 * (startRef + i));
    return 1;
}

static int readCoils(int startRef, char bitArr[], int refCnt, const RequestInfo *info) {
    (void)info;
    if (!inModel(startRef, refCnt)) return 0;
    memcpy(bitArr, &coils[startRef], (size_t)refCnt);
    return 1;
}

static int writeCoils(int startRef, const char bitArr[], int refCnt, const RequestInfo *info) {
    (void)info;
    if (!inModel(startRef, refCnt)) return 0;
    memcpy(&coils[startRef], bitArr, (size_t)refCnt);
    return 1;
}

static int readDiscretes(int startRef, char bitArr[], int refCnt, const RequestInfo *info) {
    int i;
    (void)info;
    if (!inModel(startRef, refCnt)) return 0;
    for (i = 0; i < refCnt; ++i) bitArr[i] = (char)((startRef + i) % 3 == 0);
    return 1;
}

/* The UTF-16 form of an ASCII path. */
static MbWideChar *widen(const char *text) {
    size_t length = strlen(text), i;
    MbWideChar *wide = malloc((length + 1) * sizeof *wide);
    if (wide == NULL) return NULL;
    for (i = 0; i <= length; ++i) wide[i] = (MbWideChar)(unsigned char)text[i];
    return wide;
}

int main(int argc, char **argv) {
    MbusSlaveHandle *handle;
    MbWideChar *port;
    int baudRate, result, i, failed = 0;
    time_t deadline = time(NULL) + LIFETIME_S;

    if (argc < 4 || (strcmp(argv[1], "rtu") != 0 && strcmp(argv[1], "ascii") != 0)) {
        fprintf(stderr, "usage: %s rtu|ascii <device> <baud rate> [frame tolerance ms]\n", argv[0]);
        return 2;
    }
    baudRate = atoi(argv[3]);
    handle = strcmp(argv[1], "rtu") == 0 ? mbusSlave_createRtuProtocol() : mbusSlave_createAsciiProtocol();
    port = widen(argv[2]);
    if (handle == NULL || port == NULL) return 1;
    for (i = 1; i <= POINTS; ++i) {
        registers[i] = (uint16_t)(0x1000 + i);
        coils[i] = (char)(i % 2);
    }
    signal(SIGTERM, requestStop);
    signal(SIGINT, requestStop);
    mbusSlave_configureCallbacks(handle, 1, readHolding, writeHolding, readInput, readCoils,
                                 writeCoils, readDiscretes, NULL, NULL, NULL, NULL, NULL, NULL,
                                 NULL, NULL, NULL);
    mbusSlave_setTimeout(handle, 100);
    if (argc > 4) mbusSlave_setFrameTolerance(handle, (uint32_t)atoi(argv[4]));
    result = mbusSlave_startupSerialServer(handle, port, baudRate, 8, 1, PARITY_NONE);
    free(port);
    if (result != MB_OK) {
        fprintf(stderr, "start-up failed: %d\n", result);
        mbusSlave_destroyProtocol(handle);
        return 1;
    }
    printf("READY\n");
    fflush(stdout);

    while (!stopRequested && time(NULL) < deadline) {
        result = mbusSlave_serverLoop(handle);
        if (result != MB_OK) {
            fprintf(stderr, "server loop failed: %d\n", result);
            failed = 1;
            break;
        }
    }
    fprintf(stderr, "served %u of %u requests\n", (unsigned)mbusSlave_getSuccessCounter(handle),
            (unsigned)mbusSlave_getTotalCounter(handle));
    mbusSlave_destroyProtocol(handle);
    return failed;
}
