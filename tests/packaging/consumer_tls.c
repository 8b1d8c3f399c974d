/* A program outside the project that uses the installed libmbslave-tls:
 * prints the package version, a TLS error text, and the text of what a TLS
 * handle's start-up without certificate returns (OpenSSL set up the handle). */
#include <stdio.h>

#include <mbslave_tls.h>

static void printWide(const MbWideChar *text) {
    for (; *text != 0; ++text) putchar(*text < 0x80 ? (char)*text : '?');
    putchar('\n');
}

int main(void) {
    MbusSlaveHandle *handle = mbusSlave_createTlsProtocol();
    if (handle == NULL) return 1;
    printWide(mbusSlave_getPackageVersion());
    printWide(mbusSlave_getErrorText(MB_ERR_TLS_NO_CA));
    printWide(mbusSlave_getErrorText(mbusSlave_startupIpServer(handle, "127.0.0.1")));
    mbusSlave_destroyProtocol(handle);
    return 0;
}
