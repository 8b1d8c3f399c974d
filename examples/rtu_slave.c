/*
 * A Modbus RTU slave on a serial line: unit 1 with 100 holding registers and
 * one input register that counts the requests served.
 *
 *   rtu_slave DEVICE [BAUD [PARITY]]     e.g. rtu_slave /dev/ttyUSB0 19200 E
 *
 * DEVICE is a path (/dev/ttyUSB0) or COMn (COM1 = /dev/ttyS0); PARITY is N,
 * O or E (default E, the Modbus default); 8 data bits, 1 stop bit. Ctrl-C stops.
 */
#include <signal.h>
#include <stdio.h>
#include <stdlib.h>

#include <mbslave.h>

enum { REGISTER_COUNT = 100, MAX_NAME = 256 };
static uint16_t holding[REGISTER_COUNT];
static MbusSlaveHandle *slave;
static volatile sig_atomic_t running = 1;

static void stop(int signalNumber) { (void)signalNumber; running = 0; }

static int inRange(int startRef, int count, int size) { return startRef >= 1 && startRef - 1 + count <= size; }

static int readHolding(int startRef, uint16_t regs[], int count, const RequestInfo *info) {
    (void)info;
    if (!inRange(startRef, count, REGISTER_COUNT)) return 0;
    for (int i = 0; i < count; ++i) regs[i] = holding[startRef - 1 + i];
    return 1;
}

static int writeHolding(int startRef, const uint16_t regs[], int count, const RequestInfo *info) {
    /* info->slaveAddress is 0 for a broadcast, which gets no reply. */
    if (!inRange(startRef, count, REGISTER_COUNT)) return 0;
    for (int i = 0; i < count; ++i) holding[startRef - 1 + i] = regs[i];
    printf("%s: unit %d wrote %d register(s) from address %d\n", info->peerName, info->slaveAddress, count,
           startRef - 1);
    return 1;
}

/* Input register 0: requests served so far. */
static int readInput(int startRef, uint16_t regs[], int count, const RequestInfo *info) {
    (void)info;
    if (!inRange(startRef, count, 1)) return 0;
    regs[0] = (uint16_t)mbusSlave_getSuccessCounter(slave);
    return 1;
}

int main(int argc, char **argv) {
    if (argc < 2) {
        fprintf(stderr, "usage: %s DEVICE [BAUD [N|O|E]]\n", argv[0]);
        return 2;
    }
    const int baud = argc > 2 ? atoi(argv[2]) : 19200;
    const char parityLetter = argc > 3 ? argv[3][0] : 'E';
    const int parity = parityLetter == 'N' ? PARITY_NONE : parityLetter == 'O' ? PARITY_ODD : PARITY_EVEN;

    /* The library takes the port name as UTF-16; device names are ASCII. */
    MbWideChar portName[MAX_NAME];
    int length = 0;
    for (; argv[1][length] != '\0' && length < MAX_NAME - 1; ++length) portName[length] = (MbWideChar)argv[1][length];
    portName[length] = 0;

    slave = mbusSlave_createRtuProtocol();
    if (slave == NULL) return 1;
    mbusSlave_configureCallbacks(slave, 1, readHolding, writeHolding, readInput, NULL, NULL, NULL, NULL, NULL,
                                 NULL, NULL, NULL, NULL, NULL, NULL, NULL);
    const int result = mbusSlave_startupSerialServer(slave, portName, baud, 8, 1, parity);
    if (result != MB_OK) {
        fprintf(stderr, "cannot start on %s: error 0x%X\n", argv[1], (unsigned)result);
        mbusSlave_destroyProtocol(slave);
        return 1;
    }
    signal(SIGINT, stop);
    signal(SIGTERM, stop);
    printf("Modbus RTU slave on %s, %d baud, unit 1\n", argv[1], baud);
    fflush(stdout);

    while (running && mbusSlave_serverLoop(slave) == MB_OK) fflush(stdout);

    printf("served %u requests\n", (unsigned)mbusSlave_getSuccessCounter(slave));
    mbusSlave_destroyProtocol(slave);
    return 0;
}
