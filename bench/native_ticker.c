/* The best this machine's scheduler can do: a native Linux ticker that sleeps to absolute
 * deadlines (clock_nanosleep with TIMER_ABSTIME) and logs each wake-up in the recording
 * mapper's format, so the report treats it like the program.
 *   native_ticker PERIOD_MS SECONDS OUT.log */
#define _GNU_SOURCE
#include <stdio.h>
#include <stdlib.h>
#include <time.h>

static long long now_us(void) {
    struct timespec t;
    clock_gettime(CLOCK_MONOTONIC, &t);
    return (long long)t.tv_sec * 1000000 + t.tv_nsec / 1000;
}

int main(int argc, char **argv) {
    if (argc != 4) {
        fprintf(stderr, "usage: native_ticker PERIOD_MS SECONDS OUT.log\n");
        return 2;
    }
    const long long period_ns = atoll(argv[1]) * 1000000LL;
    const long long ticks = atoll(argv[2]) * 1000000000LL / period_ns;
    FILE *out = fopen(argv[3], "w");
    if (out == NULL) {
        return 1;
    }
    long long *stamps = malloc(sizeof(long long) * (size_t)(ticks + 1));
    if (stamps == NULL) {
        return 1;
    }
    struct timespec next;
    clock_gettime(CLOCK_MONOTONIC, &next);
    stamps[0] = now_us();
    for (long long i = 1; i <= ticks; ++i) {
        next.tv_nsec += period_ns % 1000000000LL;
        next.tv_sec += period_ns / 1000000000LL + next.tv_nsec / 1000000000LL;
        next.tv_nsec %= 1000000000LL;
        clock_nanosleep(CLOCK_MONOTONIC, TIMER_ABSTIME, &next, NULL);
        stamps[i] = now_us();
    }
    /* Written afterwards so that no file access disturbs the ticks. */
    fprintf(out, "%lld 0 OPEN\n", stamps[0]);
    for (long long i = 1; i <= ticks; ++i) {
        fprintf(out, "%lld 0 DATA %08x\n", stamps[i], i % 4 == 1 ? 0x007F2E99 : 0x007F2A99);
    }
    fprintf(out, "%lld 0 RESET\n%lld 0 CLOSE\n", stamps[ticks], stamps[ticks]);
    fclose(out);
    free(stamps);
    return 0;
}
