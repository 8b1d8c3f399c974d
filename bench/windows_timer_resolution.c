/* How long short waits last on Windows at the system timer's default
 * resolution and at the 1 ms that mbslave asks for while a serial port is
 * open (timeBeginPeriod), in one run: Sleep and a wait on an event with a
 * time-out, as serial time-outs and the RS-485 turnaround use them. Prints
 * the median and the longest wait for each requested time.
 * Run: windows_timer_resolution.exe [rounds] */
#include <windows.h>
#include <timeapi.h>

#include <stdio.h>
#include <stdlib.h>

static double elapsedUs(LARGE_INTEGER from, LARGE_INTEGER to, LARGE_INTEGER frequency) {
    return (double)(to.QuadPart - from.QuadPart) * 1e6 / (double)frequency.QuadPart;
}

static int compareDoubles(const void *a, const void *b) {
    const double x = *(const double *)a;
    const double y = *(const double *)b;
    return (x > y) - (x < y);
}

/* Waits `rounds` times for `ms` and prints the median and the maximum. */
static void measure(const char *setting, const char *how, DWORD ms, int rounds, HANDLE event) {
    double *waits = malloc(sizeof(double) * (size_t)rounds);
    LARGE_INTEGER frequency;
    QueryPerformanceFrequency(&frequency);
    for (int round = 0; round < rounds; ++round) {
        LARGE_INTEGER before, after;
        QueryPerformanceCounter(&before);
        if (event != NULL) {
            WaitForSingleObject(event, ms);
        } else {
            Sleep(ms);
        }
        QueryPerformanceCounter(&after);
        waits[round] = elapsedUs(before, after, frequency);
    }
    qsort(waits, (size_t)rounds, sizeof(double), compareDoubles);
    printf("%-22s %-22s %u ms: median %7.0f us, max %7.0f us\n", setting, how, (unsigned)ms,
           waits[rounds / 2], waits[rounds - 1]);
    free(waits);
}

static void measureAll(const char *setting, int rounds, HANDLE event) {
    const DWORD requested[] = {1, 2, 5};
    for (size_t i = 0; i < sizeof requested / sizeof requested[0]; ++i) {
        measure(setting, "Sleep", requested[i], rounds, NULL);
        measure(setting, "WaitForSingleObject", requested[i], rounds, event);
    }
}

int main(int argc, char **argv) {
    const int rounds = argc > 1 ? atoi(argv[1]) : 200;
    if (rounds < 1) return 2;
    HANDLE event = CreateEventW(NULL, TRUE, FALSE, NULL);
    measureAll("default resolution", rounds, event);
    if (timeBeginPeriod(1) != TIMERR_NOERROR) {
        printf("timeBeginPeriod(1) refused\n");
        return 1;
    }
    measureAll("timeBeginPeriod(1)", rounds, event);
    timeEndPeriod(1);
    CloseHandle(event);
    return 0;
}
