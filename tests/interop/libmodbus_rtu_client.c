/*
 * libmodbus's RTU master against tests/interop/serial_interop_server.c:
 * reads and writes holding registers and coils, reads input registers and
 * discrete inputs, provokes exception responses, and checks that slave 2
 * (no data table) and broadcasts get no reply.
 * Usage: libmodbus_rtu_client <device> <baud rate>
 * Prints "ok <check>" or "FAILED <check>: <reason>" per check; exit 0 if
 * every check passed.
 */
#include <errno.h>
#include <modbus.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

static int failures = 0;

static void check(int passed, const char *name, const char *reason) {
    if (passed) {
        printf("ok %s\n", name);
    } else {
        printf("FAILED %s: %s\n", name, reason);
        ++failures;
    }
}

static void checkRegisters(modbus_t *ctx) {
    uint16_t values[125], written[100];
    int i, n, same = 1;

    n = modbus_read_registers(ctx, 0, 10, values);
    for (i = 0; i < 10 && n == 10; ++i) same = same && values[i] == 0x1000 + i + 1;
    check(n == 10 && same, "read 10 holding registers", modbus_strerror(errno));

    n = modbus_read_registers(ctx, 100, 125, values);
    for (i = 0, same = 1; i < 125 && n == 125; ++i) same = same && values[i] == 0x1000 + 101 + i;
    check(n == 125 && same, "read 125 holding registers", modbus_strerror(errno));

    for (i = 0; i < 100; ++i) written[i] = (uint16_t)(0xA000 + i * 3);
    n = modbus_write_registers(ctx, 200, 100, written);
    check(n == 100, "write 100 registers", modbus_strerror(errno));
    n = modbus_read_registers(ctx, 200, 100, values);
    check(n == 100 && memcmp(values, written, sizeof written) == 0, "read back written registers",
          modbus_strerror(errno));

    n = modbus_write_register(ctx, 7, 0xBEEF);
    check(n == 1, "write single register", modbus_strerror(errno));
    n = modbus_read_registers(ctx, 7, 1, values);
    check(n == 1 && values[0] == 0xBEEF, "read back single register", modbus_strerror(errno));

    n = modbus_mask_write_register(ctx, 7, 0xFF00, 0x0012);
    n = n == 1 ? modbus_read_registers(ctx, 7, 1, values) : n;
    check(n == 1 && values[0] == ((0xBEEF & 0xFF00) | (0x0012 & ~0xFF00)), "mask write register",
          modbus_strerror(errno));

    written[0] = 0x1111;
    written[1] = 0x2222;
    n = modbus_write_and_read_registers(ctx, 400, 2, written, 399, 4, values);
    check(n == 4 && values[0] == 0x1000 + 400 && values[1] == 0x1111 && values[2] == 0x2222 &&
              values[3] == 0x1000 + 403,
          "write and read registers", modbus_strerror(errno));

    n = modbus_read_input_registers(ctx, 9, 3, values);
    check(n == 3 && values[0] == 20 && values[2] == 24, "read input registers", modbus_strerror(errno));
}

static void checkCoils(modbus_t *ctx) {
    uint8_t bits[2000], written[300];
    int i, n, same = 1;

    n = modbus_read_bits(ctx, 0, 37, bits);
    for (i = 0; i < 37 && n == 37; ++i) same = same && bits[i] == (uint8_t)((i + 1) % 2);
    check(n == 37 && same, "read 37 coils", modbus_strerror(errno));

    for (i = 0; i < 300; ++i) written[i] = (uint8_t)(i % 7 == 0);
    n = modbus_write_bits(ctx, 500, 300, written);
    check(n == 300, "write 300 coils", modbus_strerror(errno));
    n = modbus_read_bits(ctx, 500, 300, bits);
    check(n == 300 && memcmp(bits, written, 300) == 0, "read back written coils", modbus_strerror(errno));

    n = modbus_write_bit(ctx, 1, 1);
    n = n == 1 ? modbus_read_bits(ctx, 1, 1, bits) : n;
    check(n == 1 && bits[0] == 1, "write single coil", modbus_strerror(errno));

    n = modbus_read_input_bits(ctx, 0, 10, bits);
    for (i = 0, same = 1; i < 10 && n == 10; ++i) same = same && bits[i] == (uint8_t)((i + 1) % 3 == 0);
    check(n == 10 && same, "read discrete inputs", modbus_strerror(errno));
}

static void checkRefusals(modbus_t *ctx) {
    uint16_t values[4];
    int n;

    n = modbus_read_registers(ctx, 999, 2, values);  /* reference 1001 is outside the model */
    check(n == -1 && errno == EMBXILADD, "exception 2 for a refused read", modbus_strerror(errno));

    modbus_set_slave(ctx, 2);
    n = modbus_read_registers(ctx, 0, 1, values);
    check(n == -1 && errno == ETIMEDOUT, "no reply from slave 2", modbus_strerror(errno));

    /* libmodbus up to 3.1.6 waits for a reply to a broadcast as well: with
     * none coming, it reports a time-out; later versions do not wait. */
    modbus_set_slave(ctx, MODBUS_BROADCAST_ADDRESS);
    n = modbus_write_register(ctx, 50, 0x5555);
    check(n == 1 || (n == -1 && errno == ETIMEDOUT), "no reply to a broadcast", modbus_strerror(errno));
    modbus_set_slave(ctx, 1);
    n = modbus_read_registers(ctx, 50, 1, values);
    check(n == 1 && values[0] == 0x5555, "broadcast write carried out", modbus_strerror(errno));
}

int main(int argc, char **argv) {
    modbus_t *ctx;
    if (argc != 3) {
        fprintf(stderr, "usage: %s <device> <baud rate>\n", argv[0]);
        return 2;
    }
    ctx = modbus_new_rtu(argv[1], atoi(argv[2]), 'N', 8, 1);
    if (ctx == NULL || modbus_set_slave(ctx, 1) != 0 || modbus_connect(ctx) != 0) {
        printf("FAILED connect: %s\n", modbus_strerror(errno));
        return 1;
    }
    modbus_set_response_timeout(ctx, 1, 0);
    checkRegisters(ctx);
    checkCoils(ctx);
    checkRefusals(ctx);
    modbus_close(ctx);
    modbus_free(ctx);
    printf("%s\n", failures == 0 ? "all passed" : "some checks FAILED");
    return failures == 0 ? 0 : 1;
}
