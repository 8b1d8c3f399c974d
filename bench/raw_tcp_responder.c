/*
 * Benchmark baseline: the least a Modbus/TCP server can be. A poll loop on
 * raw sockets that answers Read Holding Registers (FC3) from memory and
 * nothing else; no library. It shows the floor of memory and CPU time that
 * the library servers are compared with.
 * Usage: raw_tcp_responder <port>. Serves until SIGTERM or SIGINT.
 */
#define _POSIX_C_SOURCE 200809L
#include <arpa/inet.h>
#include <errno.h>
#include <netinet/in.h>
#include <poll.h>
#include <signal.h>
#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/socket.h>
#include <unistd.h>

enum { MAX_CONNECTIONS = 32, MBAP_LENGTH = 7, MAX_ADU = 260, MAX_REGISTERS = 125 };

struct Connection {
    int fd;
    size_t filled;
    uint8_t request[MAX_ADU];
};

static volatile sig_atomic_t stopRequested = 0;

static void requestStop(int signalNumber) {
    (void)signalNumber;
    stopRequested = 1;
}

static int openListener(int port) {
    struct sockaddr_in address;
    int yes = 1;
    int fd = socket(AF_INET, SOCK_STREAM, 0);
    if (fd < 0) return -1;
    setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &yes, sizeof yes);
    memset(&address, 0, sizeof address);
    address.sin_family = AF_INET;
    address.sin_port = htons((uint16_t)port);
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (bind(fd, (struct sockaddr *)&address, sizeof address) != 0 || listen(fd, 64) != 0) {
        close(fd);
        return -1;
    }
    return fd;
}

/* Answers a complete request: FC3 with the register values start+i, an
 * exception 1 for any other function. Returns the reply length. */
static size_t answer(const uint8_t *request, uint8_t *reply) {
    unsigned start = (unsigned)(request[8] << 8 | request[9]);
    unsigned count = (unsigned)(request[10] << 8 | request[11]);
    unsigned i;
    memcpy(reply, request, MBAP_LENGTH);
    if (request[7] != 3 || count == 0 || count > MAX_REGISTERS) {
        reply[5] = 3;
        reply[7] = (uint8_t)(request[7] | 0x80);
        reply[8] = request[7] == 3 ? 3 : 1;
        return 9;
    }
    reply[4] = 0;
    reply[5] = (uint8_t)(3 + 2 * count);
    reply[7] = 3;
    reply[8] = (uint8_t)(2 * count);
    for (i = 0; i < count; ++i) {
        reply[9 + 2 * i] = (uint8_t)((start + i) >> 8);
        reply[10 + 2 * i] = (uint8_t)(start + i);
    }
    return 9 + 2 * count;
}

/* Reads what arrived and answers every complete request; 0 when the
 * connection is to be closed. */
static int serve(struct Connection *connection) {
    uint8_t reply[MAX_ADU];
    ssize_t got = recv(connection->fd, connection->request + connection->filled,
                       sizeof connection->request - connection->filled, 0);
    if (got <= 0) return got < 0 && errno == EINTR;
    connection->filled += (size_t)got;
    while (connection->filled >= MBAP_LENGTH) {
        size_t length = 6 + (size_t)(connection->request[4] << 8 | connection->request[5]);
        if (length < 12 || length > MAX_ADU) return 0;
        if (connection->filled < length) break;
        size_t replyLength = answer(connection->request, reply);
        if (send(connection->fd, reply, replyLength, MSG_NOSIGNAL) != (ssize_t)replyLength) return 0;
        memmove(connection->request, connection->request + length, connection->filled - length);
        connection->filled -= length;
    }
    return 1;
}

int main(int argc, char **argv) {
    struct Connection connections[MAX_CONNECTIONS];
    struct pollfd waits[MAX_CONNECTIONS + 1];
    int listener;
    int count = 0;
    int i;

    if (argc != 2) {
        fprintf(stderr, "usage: %s <port>\n", argv[0]);
        return 2;
    }
    signal(SIGTERM, requestStop);
    signal(SIGINT, requestStop);
    listener = openListener(atoi(argv[1]));
    if (listener < 0) {
        perror("listen");
        return 1;
    }
    printf("READY\n");
    fflush(stdout);
    while (!stopRequested) {
        waits[0].fd = listener;
        waits[0].events = POLLIN;
        for (i = 0; i < count; ++i) {
            waits[i + 1].fd = connections[i].fd;
            waits[i + 1].events = POLLIN;
        }
        if (poll(waits, (nfds_t)count + 1, -1) < 0) {
            if (errno == EINTR) continue;
            perror("poll");
            break;
        }
        for (i = count - 1; i >= 0; --i) {
            if (waits[i + 1].revents == 0 || serve(&connections[i])) continue;
            close(connections[i].fd);
            connections[i] = connections[--count];
        }
        if (waits[0].revents & POLLIN) {
            int fd = accept(listener, NULL, NULL);
            if (fd >= 0 && count == MAX_CONNECTIONS) close(fd);
            else if (fd >= 0) {
                connections[count].fd = fd;
                connections[count].filled = 0;
                ++count;
            }
        }
    }
    for (i = 0; i < count; ++i) close(connections[i].fd);
    close(listener);
    return 0;
}
