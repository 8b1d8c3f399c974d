/* A C program of the MSVC ABI that links against mbslave.lib: built by
 * clang for x86_64-pc-windows-msvc and lld-link without any C run time (no
 * Windows SDK on the build machine), so it declares the three KERNEL32
 * functions it needs itself. It prints one line per check; its exit code
 * is the number of failed checks. */
#include "mbslave.h"

typedef void *Handle;
__declspec(dllimport) Handle __stdcall GetStdHandle(unsigned long which);
__declspec(dllimport) int __stdcall WriteFile(Handle file, const void *data, unsigned long length,
                                              unsigned long *written, void *overlapped);
__declspec(dllimport) void __stdcall ExitProcess(unsigned int code);

static const unsigned long kStandardOutput = (unsigned long)-11;

static void print(const char *text) {
    unsigned long length = 0;
    unsigned long written = 0;
    while (text[length] != 0) ++length;
    WriteFile(GetStdHandle(kStandardOutput), text, length, &written, 0);
}

static unsigned failures;

static void check(int passed, const char *what) {
    print(passed ? "ok     " : "FAILED ");
    print(what);
    print("\r\n");
    if (!passed) ++failures;
}

static int sameText(const MbWideChar *wide, const char *ascii) {
    for (; *ascii != 0; ++wide, ++ascii) {
        if (*wide != (MbWideChar)*ascii) return 0;
    }
    return *wide == 0;
}

static int readHolding(int startRef, uint16_t regArr[], int refCnt, const RequestInfo *info) {
    (void)info;
    for (int i = 0; i < refCnt; ++i) regArr[i] = (uint16_t)(startRef + i);
    return 1;
}

void start(void) {
    check(sameText(mbusSlave_getPackageVersion(), "2.11.0.0"), "package version text");
    check(sameText(mbusSlave_getErrorText(MB_ERR_TCP_PORT_BOUND), "TCP Port alread bound"),
          "error text");

    MbusSlaveHandle *rtu = mbusSlave_createRtuProtocol();
    check(rtu != 0, "RTU handle created");
    check(mbusSlave_setTimeout(rtu, 250) == MB_OK && mbusSlave_getTimeout(rtu) == 250u,
          "time-out set and read back");
    check(mbusSlave_configureCallbacks(rtu, 1, readHolding, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0) == MB_OK,
          "C callback installed");
    check(mbusSlave_startupSerialServer(rtu, L"COM250", 19200, 8, 1, PARITY_EVEN) == MB_ERR_PORT_OPEN,
          "start-up on a missing port fails with MB_ERR_PORT_OPEN");
    check(mbusSlave_isStarted(rtu) == 0, "not started");
    mbusSlave_destroyProtocol(rtu);

    MbusSlaveHandle *tcp = mbusSlave_createTcpProtocol();
    check(tcp != 0 && mbusSlave_setPort(tcp, 0) == MB_OK, "TCP handle on a system-chosen port");
    check(mbusSlave_configureCallbacks(tcp, -1, readHolding, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0) == MB_OK &&
              mbusSlave_startupIpServer(tcp, "127.0.0.1") == MB_OK && mbusSlave_isStarted(tcp) == 1,
          "TCP server started on 127.0.0.1");
    mbusSlave_shutdownServer(tcp);
    check(mbusSlave_isStarted(tcp) == 0, "TCP server shut down");
    mbusSlave_destroyProtocol(tcp);
    print(failures == 0 ? "MSVC-ABI program linked against mbslave.lib: every check passed\r\n"
                        : "MSVC-ABI program linked against mbslave.lib: FAILED\r\n");
    ExitProcess(failures);
}
