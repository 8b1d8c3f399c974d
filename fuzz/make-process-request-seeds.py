#!/usr/bin/python3
"""Writes the seed corpus of fuzz_process_request: one valid request per
served function code, each followed by data-table answers that let it
succeed. Input layout: flags, request length, request, answers (see
fuzz_entries.hpp and fuzzed_data_table.hpp)."""
import os

SLAVE = 1


def be16(value):
    return [(value >> 8) & 0xFF, value & 0xFF]


def regs(values):
    return [byte for value in values for byte in be16(value)]


# name: (request after the slave address, answers)
SEEDS = {
    "fc01_read_coils": ([1] + be16(0) + be16(16), [0x12, 0x34, 1]),
    "fc02_read_discrete_inputs": ([2] + be16(5) + be16(9), [0x56, 0x78, 1]),
    # declines the 32-bit form, then serves 16-bit registers
    "fc03_read_holding_registers": ([3] + be16(0) + be16(10), [0, 0, 0, 0x55, 0x66, 1]),
    # served in 32-bit form
    "fc04_read_input_registers": ([4] + be16(8) + be16(2), [1, 2, 1]),
    "fc05_write_single_coil": ([5] + be16(3) + [0xFF, 0x00], [1]),
    "fc06_write_single_register": ([6] + be16(3) + be16(0x1234), [1]),
    "fc07_read_exception_status": ([7], [0x00, 0xA5]),
    "fc08_diagnostics": ([8] + be16(0) + be16(0xA537), []),
    "fc15_write_multiple_coils": ([15] + be16(19) + be16(10) + [2, 0xCD, 0x01], [1]),
    "fc16_write_multiple_registers": ([16] + be16(1) + be16(2) + [4] + regs([0x000A, 0x0102]), [1]),
    "fc17_report_slave_id": ([17], be16(5) + list(b"mbsl1") + [1]),
    "fc20_read_file_record": ([20, 14] + [6] + be16(4) + be16(1) + be16(2) + [6] + be16(3) + be16(9) + be16(2),
                              [1, 2, 1, 3, 4, 1]),
    "fc21_write_file_record": ([21, 22] + [6] + be16(4) + be16(7) + be16(3) + regs([1, 2, 3])
                               + [6] + be16(5) + be16(8) + be16(1) + regs([4]), [1, 1]),
    "fc22_mask_write_register": ([22] + be16(4) + be16(0x00F2) + be16(0x0025), [0, 7, 1, 1]),
    "fc23_read_write_multiple_registers": ([23] + be16(3) + be16(6) + be16(16) + be16(2) + [4] + regs([0xAABB, 0xCCDD]),
                                           [1, 1, 2, 1]),
    # basic listing of objects 0, 1 and 2
    "fc43_read_device_identification": ([43, 14, 1, 0],
                                        [0x07] + [0] * 31 + be16(3) + list(b"ACM") + be16(4) + list(b"P-42")
                                        + be16(5) + list(b"2.110")),
}


def main():
    directory = os.path.join(os.path.dirname(os.path.abspath(__file__)), "corpus", "process_request")
    os.makedirs(directory, exist_ok=True)
    for name, (pdu, answers) in SEEDS.items():
        request = [SLAVE] + pdu
        with open(os.path.join(directory, name), "wb") as seed:
            seed.write(bytes([0, len(request)] + request + answers))


if __name__ == "__main__":
    main()
