/*
 * libmodbus as master against tcp_interop_server: every function code
 * libmodbus offers, values checked against the server's data model (see
 * tcp_interop_server.c), refused ranges checked for their exceptions.
 * libmodbus cannot frame replies to FC8 and FC43 sent as raw requests (it
 * reads one byte after the function code); pymodbus covers those.
 * Usage: libmodbus_client <port>. Prints "N passed, M failed".
 */
#include <errno.h>
#include <modbus.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

static int passed = 0;
static int failed = 0;

static void check(int ok, const char *what) {
    if (ok) {
        ++passed;
    } else {
        ++failed;
        printf("FAILED: %s (%s)\n", what, modbus_strerror(errno));
    }
}

/* A request refused with the given Modbus exception. */
static void checkException(int result, int exception, const char *what) {
    check(result == -1 && errno == (int)(MODBUS_ENOBASE + exception), what);
}

static void registers(modbus_t *ctx) {
    uint16_t values[125];
    uint16_t written[123];
    int i;
    int ok;

    check(modbus_read_registers(ctx, 0, 125, values) == 125, "FC3 125 registers");
    for (ok = 1, i = 0; i < 125; ++i) ok &= values[i] == i;
    check(ok, "FC3 values");
    check(modbus_read_registers(ctx, 9875, 125, values) == 125 && values[124] == 9999,
          "FC3 last registers");

    for (i = 0; i < 123; ++i) written[i] = (uint16_t)(0xA000 + i * 7);
    check(modbus_write_registers(ctx, 1000, 123, written) == 123, "FC16 123 registers");
    check(modbus_read_registers(ctx, 1000, 123, values) == 123 &&
              memcmp(values, written, sizeof written) == 0,
          "FC16 round trip");

    check(modbus_write_register(ctx, 5, 0xBEEF) == 1, "FC6 write");
    check(modbus_read_registers(ctx, 5, 1, values) == 1 && values[0] == 0xBEEF, "FC6 round trip");
    check(modbus_mask_write_register(ctx, 5, 0xFF00, 0x0012) == 1, "FC22 mask write");
    check(modbus_read_registers(ctx, 5, 1, values) == 1 && values[0] == 0xBE12,
          "FC22 round trip");

    written[0] = 0x1111;
    written[1] = 0x2222;
    written[2] = 0x3333;
    check(modbus_write_and_read_registers(ctx, 200, 3, written, 199, 5, values) == 5,
          "FC23 write and read");
    check(values[0] == 199 && values[1] == 0x1111 && values[2] == 0x2222 && values[3] == 0x3333 &&
              values[4] == 203,
          "FC23 reads what it wrote");

    check(modbus_read_input_registers(ctx, 100, 125, values) == 125, "FC4 125 registers");
    for (ok = 1, i = 0; i < 125; ++i) ok &= values[i] == (uint16_t)(3 * (100 + i));
    check(ok, "FC4 values");

    checkException(modbus_read_registers(ctx, 9999, 2, values), MODBUS_EXCEPTION_ILLEGAL_DATA_ADDRESS,
                   "FC3 past the end: exception 2");
    checkException(modbus_write_register(ctx, 10000, 1), MODBUS_EXCEPTION_ILLEGAL_DATA_ADDRESS,
                   "FC6 past the end: exception 2");
    checkException(modbus_read_input_registers(ctx, 65535, 1, values),
                   MODBUS_EXCEPTION_ILLEGAL_DATA_ADDRESS, "FC4 at 65535: exception 2");
}

static void bits(modbus_t *ctx) {
    uint8_t values[2000];
    uint8_t written[1968];
    int i;
    int ok;

    check(modbus_read_bits(ctx, 0, 2000, values) == 2000, "FC1 2000 coils");
    for (ok = 1, i = 0; i < 2000; ++i) ok &= values[i] == (i % 3 == 0);
    check(ok, "FC1 values");

    check(modbus_write_bit(ctx, 7, 1) == 1 && modbus_write_bit(ctx, 9, 0) == 1, "FC5 writes");
    check(modbus_read_bits(ctx, 6, 4, values) == 4 && values[0] == 1 && values[1] == 1 &&
              values[2] == 0 && values[3] == 0,
          "FC5 round trip");

    for (i = 0; i < 1968; ++i) written[i] = (uint8_t)((i * 7 + 1) % 5 == 0);
    check(modbus_write_bits(ctx, 3000, 1968, written) == 1968, "FC15 1968 coils");
    check(modbus_read_bits(ctx, 3000, 1968, values) == 1968 && memcmp(values, written, 1968) == 0,
          "FC15 round trip");

    check(modbus_read_input_bits(ctx, 8000, 2000, values) == 2000, "FC2 2000 inputs");
    for (ok = 1, i = 0; i < 2000; ++i) ok &= values[i] == (8000 + i) % 2;
    check(ok, "FC2 values");

    checkException(modbus_read_bits(ctx, 9990, 11, values), MODBUS_EXCEPTION_ILLEGAL_DATA_ADDRESS,
                   "FC1 past the end: exception 2");
    checkException(modbus_write_bits(ctx, 9999, 2, written), MODBUS_EXCEPTION_ILLEGAL_DATA_ADDRESS,
                   "FC15 past the end: exception 2");
    checkException(modbus_read_input_bits(ctx, 10000, 1, values),
                   MODBUS_EXCEPTION_ILLEGAL_DATA_ADDRESS, "FC2 past the end: exception 2");
}

/* Sends a raw PDU for unit 1 and returns the reply length (MBAP included). */
static int raw(modbus_t *ctx, const uint8_t *pdu, int length, uint8_t *reply) {
    uint8_t request[260];
    request[0] = 1;
    memcpy(request + 1, pdu, (size_t)length);
    if (modbus_send_raw_request(ctx, request, length + 1) == -1) return -1;
    return modbus_receive_confirmation(ctx, reply);
}

static void others(modbus_t *ctx) {
    uint8_t reply[MODBUS_TCP_MAX_ADU_LENGTH];
    int length;
    static const uint8_t exceptionStatus[] = {0x07};
    static const uint8_t unknownFunction[] = {0x41};

    length = modbus_report_slave_id(ctx, sizeof reply, reply);
    check(length == 8 && memcmp(reply, "mbslave", 7) == 0 && reply[7] == 0xFF,
          "FC17 slave id and run indicator");

    length = raw(ctx, exceptionStatus, sizeof exceptionStatus, reply);
    check(length == 9 && reply[7] == 0x07 && reply[8] == 0x5A, "FC7 exception status");

    /* Raw confirmations are not decoded: the exception is in the bytes. */
    length = raw(ctx, unknownFunction, sizeof unknownFunction, reply);
    check(length == 9 && reply[7] == 0xC1 && reply[8] == MODBUS_EXCEPTION_ILLEGAL_FUNCTION,
          "unknown function: exception 1");
}

int main(int argc, char **argv) {
    modbus_t *ctx;
    int round;

    if (argc != 2) {
        fprintf(stderr, "usage: %s <port>\n", argv[0]);
        return 2;
    }
    ctx = modbus_new_tcp("127.0.0.1", atoi(argv[1]));
    if (ctx == NULL || modbus_set_slave(ctx, 1) == -1 || modbus_connect(ctx) == -1) {
        printf("FAILED: connect (%s)\n", modbus_strerror(errno));
        return 1;
    }
    modbus_set_response_timeout(ctx, 2, 0);
    registers(ctx);
    bits(ctx);
    others(ctx);
    /* The connection stays usable after exceptions and many requests. */
    for (round = 0; round < 200; ++round) {
        uint16_t value;
        if (modbus_read_registers(ctx, 42, 1, &value) != 1 || value != 42) break;
    }
    check(round == 200, "200 reads on one connection");

    modbus_close(ctx);
    modbus_free(ctx);
    printf("libmodbus: %d passed, %d failed\n", passed, failed);
    return failed == 0 && passed > 0 ? 0 : 1;
}
