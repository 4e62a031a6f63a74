/* simclient.exe: a throwaway client that sends what padprobe sends, to try
 * the simulated driver before padprobe exists and to check the driver itself.
 * Options (to break the sequence on purpose): --reg N (register written),
 * --no-write, --len N (read length), --attempts N.
 * One line per event on stdout; exit 0 when byte 0 of a read was 30, else -1. */
#include <windows.h>
#include <fcntl.h>
#include <io.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#define IOCTL_TP_OPEN 0x04001C00u
#define IOCTL_TP_CLOSE 0x04001C04u
#define WAIT_MS 250
#define CANCEL_WAIT_MS 100

/* Waits for a request like padprobe's channel does; prints how it ended.
 * Returns 1 when it completed with success. */
static int finish(HANDLE h, OVERLAPPED *ov, const char *what, DWORD *bytes)
{
    DWORD waited = 0, err;
    while (!HasOverlappedIoCompleted(ov) && waited < WAIT_MS) {
        Sleep(1);
        waited++;
    }
    if (!HasOverlappedIoCompleted(ov)) {
        CancelIoEx(h, ov);
        waited = 0;
        while (!HasOverlappedIoCompleted(ov) && waited < CANCEL_WAIT_MS) {
            Sleep(1);
            waited++;
        }
        if (!HasOverlappedIoCompleted(ov)) {
            printf("%s timeout still-pending\n", what);
            return -1; /* storage must stay alive: caller leaks it */
        }
        printf("%s timeout ", what);
    } else {
        printf("%s ", what);
    }
    if (GetOverlappedResult(h, ov, bytes, FALSE)) {
        printf("done bytes=%lu", *bytes);
        return 1;
    }
    err = GetLastError();
    printf("failed err=%lu", err);
    return 0;
}

/* Applies padprobe's acceptance rule: only FALSE + ERROR_IO_PENDING. */
static int accepted(BOOL ok, const char *what)
{
    DWORD err = ok ? 0 : GetLastError();
    if (ok) {
        printf("%s completed-at-once\n", what);
        return 0;
    }
    if (err != ERROR_IO_PENDING) {
        printf("%s refused err=%lu\n", what, err);
        return 0;
    }
    return 1;
}

int main(int argc, char **argv)
{
    static OVERLAPPED ov_open, ov_close;
    DWORD dummy, bytes;
    int reg = 0x20, do_write = 1, len = 30, attempts = 10, i, found = -1;
    HANDLE h;

    _setmode(_fileno(stdout), _O_BINARY);
    setvbuf(stdout, NULL, _IONBF, 0);
    for (i = 1; i < argc; i++) {
        if (!strcmp(argv[i], "--reg") && i + 1 < argc)
            reg = (int)strtol(argv[++i], NULL, 0);
        else if (!strcmp(argv[i], "--no-write"))
            do_write = 0;
        else if (!strcmp(argv[i], "--len") && i + 1 < argc)
            len = atoi(argv[++i]);
        else if (!strcmp(argv[i], "--attempts") && i + 1 < argc)
            attempts = atoi(argv[++i]);
        else {
            fprintf(stderr, "usage: simclient [--reg N] [--no-write] [--len N] [--attempts N]\n");
            return 2;
        }
    }
    if (len < 1 || len > 512)
        len = 30;

    h = CreateFileW(L"\\\\.\\Palvero_tp_update_tool", GENERIC_READ | GENERIC_WRITE, 0, NULL, OPEN_EXISTING,
                    FILE_FLAG_OVERLAPPED, NULL);
    if (h == INVALID_HANDLE_VALUE) {
        printf("open failed err=%lu\n", GetLastError());
        return -1;
    }
    printf("open ok\n");
    if (!accepted(DeviceIoControl(h, IOCTL_TP_OPEN, NULL, 0, NULL, 0, &dummy, &ov_open), "ioctl-open")) {
        CloseHandle(h);
        printf("result none\n");
        return -1;
    }
    printf("ioctl-open pending\n");
    Sleep(10);

    for (i = 0; i < attempts && found < 0; i++) {
        /* Each request gets its own storage; a request that outlives the
         * wait keeps it (leaked) rather than see it reused. */
        OVERLAPPED *ow = calloc(1, sizeof *ow), *orr = calloc(1, sizeof *orr);
        unsigned char *send = calloc(1, 2), *buf = calloc(1, 512);
        char what[32];
        int k;
        if (!ow || !orr || !send || !buf)
            return -1;
        if (do_write) {
            send[0] = (unsigned char)(reg & 0xFF);
            send[1] = (unsigned char)(reg >> 8);
            snprintf(what, sizeof what, "write#%d", i);
            if (!accepted(WriteFile(h, send, 2, &dummy, ow), what))
                continue;
            if (finish(h, ow, what, &bytes) < 0)
                continue;
            printf("\n");
        }
        snprintf(what, sizeof what, "read#%d", i);
        if (!accepted(ReadFile(h, buf, (DWORD)len, &dummy, orr), what))
            continue;
        k = finish(h, orr, what, &bytes);
        if (k < 0)
            continue;
        if (k > 0) {
            printf(" data=");
            for (k = 0; k < (int)bytes; k++)
                printf("%02x", buf[k]);
        }
        printf("\n");
        if (buf[0] == 30)
            found = i;
    }
    if (found >= 0) {
        Sleep(100);
        if (accepted(DeviceIoControl(h, IOCTL_TP_CLOSE, NULL, 0, NULL, 0, &dummy, &ov_close), "ioctl-close"))
            printf("ioctl-close pending\n");
    }
    CloseHandle(h);
    printf("close\n");
    if (found >= 0)
        printf("result found attempt=%d\n", found);
    else
        printf("result none\n");
    return found >= 0 ? 0 : -1;
}
