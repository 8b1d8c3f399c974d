/* Compiled as strict C99: the public header must be usable from C. */
#include "mbslave.h"

static int readHolding(int startRef, uint16_t regArr[], int refCnt, const RequestInfo *info) {
    (void)info;
    for (int i = 0; i < refCnt; ++i) regArr[i] = (uint16_t)(startRef + i);
    return 1;
}

/* Called from the C++ tests: configures a handle from C and reports the size
 * and field offsets of RequestInfo as a C compiler sees them. */
int mbslaveCHeaderConfigure(MbusSlaveHandle *handle, int slaveAddress) {
    return mbusSlave_configureCallbacks(handle, slaveAddress, readHolding, 0, 0, 0, 0, 0, 0, 0, 0,
                                        0, 0, 0, 0, 0, 0);
}

unsigned mbslaveCHeaderRequestInfoSize(void) { return (unsigned)sizeof(RequestInfo); }
