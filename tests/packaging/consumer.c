/* A program outside the project that uses the installed library: prints the
 * package version and one error text, both converted from UTF-16. */
#include <stdio.h>

#include <mbslave.h>

static void printWide(const MbWideChar *text) {
    for (; *text != 0; ++text) putchar(*text < 0x80 ? (char)*text : '?');
    putchar('\n');
}

int main(void) {
    printWide(mbusSlave_getPackageVersion());
    printWide(mbusSlave_getErrorText(MB_ERR_TCP_PORT_BOUND));
    return 0;
}
