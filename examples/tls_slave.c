/*
 * A minimal Modbus/TCP Security slave: unit 1 with 100 holding registers;
 * masters with role "operator" may read and write, "monitor" may only read,
 * others nothing. Certificates from tools/make-test-pki.sh.
 *
 *   tls_slave PKI_DIR [port]      (default 8020; stop with Ctrl-C)
 */
#include <signal.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include <mbslave_tls.h>

enum { REGISTER_COUNT = 100 };
static uint16_t holding[REGISTER_COUNT];
static volatile sig_atomic_t running = 1;

static void stop(int signalNumber) { (void)signalNumber; running = 0; }

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
    const char *role = mbusSlave_getTlsRole(info);
    printf("%s (role %s) wrote %d register(s) from address %d\n", info->peerName, role ? role : "none", count,
           startRef - 1);
    return 1;
}

/* The device's rules: function codes 1..4 read. */
static int authorize(const char *role, int functionCode, const uint8_t pdu[], int pduLength,
                     const RequestInfo *info) {
    (void)pdu;
    (void)pduLength;
    (void)info;
    if (role == NULL) return 0;
    if (strcmp(role, "operator") == 0) return 1;
    return strcmp(role, "monitor") == 0 && functionCode >= 1 && functionCode <= 4;
}

static int fail(MbusSlaveHandle *slave, const char *what, int result) {
    char text[128];
    const MbWideChar *wide = mbusSlave_getErrorText(result);
    size_t i = 0;
    for (; i + 1 < sizeof text && wide[i] != 0; ++i) text[i] = (char)wide[i];  /* the texts are ASCII */
    text[i] = '\0';
    fprintf(stderr, "%s: %s (0x%X)\n", what, text, (unsigned)result);
    mbusSlave_destroyProtocol(slave);
    return 1;
}

int main(int argc, char **argv) {
    if (argc < 2) {
        fprintf(stderr, "usage: %s PKI_DIR [port]\n", argv[0]);
        return 2;
    }
    const uint16_t port = (uint16_t)(argc > 2 ? atoi(argv[2]) : 8020);
    char certificate[4096], key[4096], ca[4096];
    snprintf(certificate, sizeof certificate, "%s/server.pem", argv[1]);
    snprintf(key, sizeof key, "%s/server.key", argv[1]);
    snprintf(ca, sizeof ca, "%s/ca.pem", argv[1]);

    MbusSlaveHandle *slave = mbusSlave_createTlsProtocol();
    if (slave == NULL) return 1;
    int result = mbusSlave_setTlsCertificate(slave, certificate, key);
    if (result != MB_OK) return fail(slave, certificate, result);
    result = mbusSlave_setTlsCaFile(slave, ca);
    if (result != MB_OK) return fail(slave, ca, result);
    mbusSlave_configureCallbacks(slave, 1, readHolding, writeHolding, NULL, NULL, NULL, NULL, NULL, NULL,
                                 NULL, NULL, NULL, NULL, NULL, NULL, NULL);
    mbusSlave_configureTlsAuthorization(slave, authorize);
    mbusSlave_setPort(slave, port);
    result = mbusSlave_startupIpServer(slave, "127.0.0.1");
    if (result != MB_OK) return fail(slave, "start-up", result);
    signal(SIGINT, stop);
    signal(SIGTERM, stop);
    printf("Modbus/TCP Security slave on 127.0.0.1:%u, unit 1, holding registers 0..%d\n", (unsigned)port,
           REGISTER_COUNT - 1);
    fflush(stdout);

    while (running && mbusSlave_serverLoop(slave) == MB_OK) fflush(stdout);

    printf("served %u requests\n", (unsigned)mbusSlave_getSuccessCounter(slave));
    mbusSlave_destroyProtocol(slave);
    return 0;
}
