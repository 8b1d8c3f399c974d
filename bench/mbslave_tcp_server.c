/*
 * Benchmark server: mbslave's Modbus/TCP server through the public C
 * interface, unit 1 answering holding register reads from memory.
 * Usage: mbslave_tcp_server <port> [tcp|rtutcp|udp]: Modbus/TCP by default,
 * RTU frames over TCP, or Modbus over UDP. Serves until SIGTERM or SIGINT.
 * Built against libmbslave-tls as mbslave_tls_server, it also serves
 * Modbus/TCP Security: mbslave_tls_server <port> tls <PKI dir> (server
 * certificate and CA of tools/make-test-pki.sh).
 */
#define _POSIX_C_SOURCE 200809L
#include <signal.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#ifdef MBSLAVE_BENCH_TLS
#include "mbslave_tls.h"
#else
#include "mbslave.h"
#endif

static volatile sig_atomic_t stopRequested = 0;

static void requestStop(int signalNumber) {
    (void)signalNumber;
    stopRequested = 1;
}

static int readHolding(int startRef, uint16_t regArr[], int refCnt, const RequestInfo *info) {
    int i;
    (void)info;
    for (i = 0; i < refCnt; ++i) regArr[i] = (uint16_t)(startRef + i);
    return 1;
}

/* The server of the kind named by the argument; null for an unknown kind. */
static MbusSlaveHandle *createServer(const char *kind, const char *pki) {
#ifdef MBSLAVE_BENCH_TLS
    if (strcmp(kind, "tls") == 0 && pki != NULL) {
        char certificate[4096], key[4096], ca[4096];
        MbusSlaveHandle *handle = mbusSlave_createTlsProtocol();
        snprintf(certificate, sizeof certificate, "%s/server.pem", pki);
        snprintf(key, sizeof key, "%s/server.key", pki);
        snprintf(ca, sizeof ca, "%s/ca.pem", pki);
        if (handle != NULL && (mbusSlave_setTlsCertificate(handle, certificate, key) != MB_OK ||
                               mbusSlave_setTlsCaFile(handle, ca) != MB_OK)) {
            mbusSlave_destroyProtocol(handle);
            return NULL;
        }
        return handle;
    }
#else
    (void)pki;
#endif
    if (strcmp(kind, "tcp") == 0) return mbusSlave_createTcpProtocol();
    if (strcmp(kind, "rtutcp") == 0) return mbusSlave_createRtuOverTcpProtocol();
    if (strcmp(kind, "udp") == 0) return mbusSlave_createUdpProtocol();
    return NULL;
}

int main(int argc, char **argv) {
    MbusSlaveHandle *handle;
    int result;

    if (argc < 2 || argc > 4) {
        fprintf(stderr, "usage: %s <port> [tcp|rtutcp|udp|tls <PKI dir>]\n", argv[0]);
        return 2;
    }
    handle = createServer(argc >= 3 ? argv[2] : "tcp", argc == 4 ? argv[3] : NULL);
    if (handle == NULL) return 1;
    signal(SIGTERM, requestStop);
    signal(SIGINT, requestStop);
    mbusSlave_configureCallbacks(handle, 1, readHolding, NULL, NULL, NULL, NULL, NULL, NULL, NULL,
                                 NULL, NULL, NULL, NULL, NULL, NULL, NULL);
    mbusSlave_setPort(handle, (uint16_t)atoi(argv[1]));
    result = mbusSlave_startupIpServer(handle, "127.0.0.1");
    if (result != MB_OK) {
        fprintf(stderr, "start-up failed: %d\n", result);
        mbusSlave_destroyProtocol(handle);
        return 1;
    }
    printf("READY\n");
    fflush(stdout);
    while (!stopRequested && result == MB_OK) result = mbusSlave_serverLoop(handle);
    mbusSlave_destroyProtocol(handle);
    return result == MB_OK ? 0 : 1;
}
