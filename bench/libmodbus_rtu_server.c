/*
 * libmodbus's RTU server as the baseline of the serial RTU benchmark: slave
 * 1 with 1000 holding registers on the given device.
 * Usage: libmodbus_rtu_server <device> <baud rate>
 * Prints "READY" once the line is open and serves until the line hangs up.
 */
#include <modbus.h>
#include <stdio.h>
#include <stdlib.h>

int main(int argc, char **argv) {
    modbus_t *ctx;
    modbus_mapping_t *mapping;
    uint8_t query[MODBUS_RTU_MAX_ADU_LENGTH];
    int i;

    if (argc != 3) {
        fprintf(stderr, "usage: %s <device> <baud rate>\n", argv[0]);
        return 2;
    }
    ctx = modbus_new_rtu(argv[1], atoi(argv[2]), 'N', 8, 1);
    mapping = modbus_mapping_new(0, 0, 1000, 0);
    if (ctx == NULL || mapping == NULL || modbus_set_slave(ctx, 1) != 0 || modbus_connect(ctx) != 0) {
        fprintf(stderr, "start-up failed\n");
        return 1;
    }
    for (i = 0; i < 1000; ++i) mapping->tab_registers[i] = (uint16_t)(0x1000 + i + 1);
    printf("READY\n");
    fflush(stdout);
    for (;;) {
        int length = modbus_receive(ctx, query);
        if (length > 0) {
            modbus_reply(ctx, query, length, mapping);
        } else if (length < 0) {
            break; /* the line went away */
        }
    }
    modbus_mapping_free(mapping);
    modbus_close(ctx);
    modbus_free(ctx);
    return 0;
}
