/*
 * A minimal Modbus/TCP slave: unit 1 with 100 holding registers that any
 * master can read and write.
 *
 *   tcp_slave [port]          (default 5020; stop with Ctrl-C)
 *   mbpoll -m tcp -p 5020 -a 1 -t 4 -r 1 -c 10 127.0.0.1
 */
#include <signal.h>
#include <stdio.h>
#include <stdlib.h>

#include <mbslave.h>

enum { REGISTER_COUNT = 100 };
static uint16_t holding[REGISTER_COUNT];
static volatile sig_atomic_t running = 1;

static void stop(int signalNumber) { (void)signalNumber; running = 0; }

/* References are 1-based: wire address 0 is reference 1. Returning 0 makes
 * the library answer with exception 2 (illegal data address). */
static int inRange(int startRef, int count) { return startRef >= 1 && startRef - 1 + count <= REGISTER_COUNT; }

static int readHolding(int startRef, uint16_t regs[], int count, const RequestInfo *info) {
    (void)info;
    if (!inRange(startRef, count)) return 0;
    for (int i = 0; i < count; ++i) regs[i] = holding[startRef - 1 + i];
    return 1;
}

static int writeHolding(int startRef, const uint16_t regs[], int count, const RequestInfo *info) {
    if (!inRange(startRef, count)) return 0;
    for (int i = 0; i < count; ++i) holding[startRef - 1 + i] = regs[i];
    printf("%s wrote %d register(s) from address %d\n", info->peerName, count, startRef - 1);
    return 1;
}

int main(int argc, char **argv) {
    const uint16_t port = (uint16_t)(argc > 1 ? atoi(argv[1]) : 5020);
    MbusSlaveHandle *slave = mbusSlave_createTcpProtocol();
    if (slave == NULL) return 1;

    mbusSlave_configureCallbacks(slave, 1, readHolding, writeHolding, NULL, NULL, NULL, NULL, NULL, NULL,
                                 NULL, NULL, NULL, NULL, NULL, NULL, NULL);
    mbusSlave_setPort(slave, port);
    const int result = mbusSlave_startupIpServer(slave, "127.0.0.1");
    if (result != MB_OK) {
        fprintf(stderr, "cannot start on port %u: error 0x%X\n", (unsigned)port, (unsigned)result);
        mbusSlave_destroyProtocol(slave);
        return 1;
    }
    signal(SIGINT, stop);
    signal(SIGTERM, stop);
    printf("Modbus/TCP slave on 127.0.0.1:%u, unit 1, holding registers 0..%d\n", (unsigned)port,
           REGISTER_COUNT - 1);
    fflush(stdout);

    /* Each pass waits at most the protocol time-out (1 s) for requests. */
    while (running && mbusSlave_serverLoop(slave) == MB_OK) fflush(stdout);

    printf("served %u requests\n", (unsigned)mbusSlave_getSuccessCounter(slave));
    mbusSlave_destroyProtocol(slave);
    return 0;
}
