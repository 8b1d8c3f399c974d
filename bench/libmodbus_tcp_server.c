/*
 * Baseline server: libmodbus's Modbus/TCP server in its usual single-thread
 * form (select over the listening socket and up to 32 connections),
 * answering holding register reads from a register mapping.
 * Usage: libmodbus_tcp_server <port>. Serves until SIGTERM or SIGINT.
 */
#define _POSIX_C_SOURCE 200809L
#include <errno.h>
#include <modbus.h>
#include <signal.h>
#include <stdio.h>
#include <stdlib.h>
#include <sys/select.h>
#include <sys/socket.h>
#include <unistd.h>

enum { MAX_CONNECTIONS = 32, REGISTERS = 1000 };

static volatile sig_atomic_t stopRequested = 0;

static void requestStop(int signalNumber) {
    (void)signalNumber;
    stopRequested = 1;
}

int main(int argc, char **argv) {
    uint8_t query[MODBUS_TCP_MAX_ADU_LENGTH];
    modbus_t *ctx;
    modbus_mapping_t *mapping;
    fd_set watched;
    int listener;
    int highest;
    int connections = 0;
    int i;
    struct sigaction action;

    if (argc != 2) {
        fprintf(stderr, "usage: %s <port>\n", argv[0]);
        return 2;
    }
    action.sa_handler = requestStop;
    sigemptyset(&action.sa_mask);
    action.sa_flags = 0;
    sigaction(SIGTERM, &action, NULL);
    sigaction(SIGINT, &action, NULL);

    ctx = modbus_new_tcp("127.0.0.1", atoi(argv[1]));
    mapping = modbus_mapping_new(0, 0, REGISTERS, 0);
    if (ctx == NULL || mapping == NULL) return 1;
    for (i = 0; i < REGISTERS; ++i) mapping->tab_registers[i] = (uint16_t)(i + 1);
    listener = modbus_tcp_listen(ctx, MAX_CONNECTIONS);
    if (listener < 0) {
        fprintf(stderr, "listen failed: %s\n", modbus_strerror(errno));
        return 1;
    }
    printf("READY\n");
    fflush(stdout);

    FD_ZERO(&watched);
    FD_SET(listener, &watched);
    highest = listener;
    while (!stopRequested) {
        fd_set readable = watched;
        int fd;
        if (select(highest + 1, &readable, NULL, NULL, NULL) < 0) {
            if (errno == EINTR) continue;
            perror("select");
            break;
        }
        for (fd = 0; fd <= highest; ++fd) {
            if (!FD_ISSET(fd, &readable)) continue;
            if (fd == listener) {
                int connection = accept(listener, NULL, NULL);
                if (connection < 0) continue;
                if (connections == MAX_CONNECTIONS) {
                    close(connection);
                    continue;
                }
                ++connections;
                FD_SET(connection, &watched);
                if (connection > highest) highest = connection;
            } else {
                int length;
                modbus_set_socket(ctx, fd);
                length = modbus_receive(ctx, query);
                if (length > 0) {
                    modbus_reply(ctx, query, length, mapping);
                } else if (length == -1) {
                    close(fd);
                    FD_CLR(fd, &watched);
                    --connections;
                }
            }
        }
    }
    close(listener);
    modbus_mapping_free(mapping);
    modbus_free(ctx);
    return 0;
}
