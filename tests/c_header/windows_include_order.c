/* The parity arguments a Windows C program passes, with mbslave.h included
 * before <windows.h> (MBSLAVE_HEADER_FIRST) or after it. Compiled once for
 * each order with every warning an error: neither order may need a cast,
 * a prototype or a warning to build. */
#ifdef MBSLAVE_HEADER_FIRST
#include "mbslave.h"
#include <windows.h>
#else
#include <windows.h>
#include "mbslave.h"
#endif

void PARITIES_FUNCTION(int parities[3]);

void PARITIES_FUNCTION(int parities[3]) {
    parities[0] = PARITY_NONE;
    parities[1] = PARITY_ODD;
    parities[2] = PARITY_EVEN;
}
