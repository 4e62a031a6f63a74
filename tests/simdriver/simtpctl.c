/* simtpctl.exe: the runner's hands inside Wine.
 *   simtpctl check          scenario text on stdin -> canonical text on stdout
 *   simtpctl arm [WAIT_MS]  check, wait for the devices, store the scenario,
 *                           reset the journal
 *   simtpctl wait WAIT_MS   wait for the driver's control device
 *   simtpctl sync WAIT_MS   wait until no handle is open and nothing is
 *                           pending, flush the journal, print the counts
 * Exit: 0 ok, 1 usage, 2 bad scenario, 3 no device, 4 not quiet in time,
 *       5 registry or device error. */
#include <windows.h>
#include <fcntl.h>
#include <io.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include "scenario.h"

#define SERVICE_KEY L"System\\CurrentControlSet\\Services\\simtp"

static char *read_stdin(void)
{
    size_t cap = 4096, len = 0, n;
    char *buf = malloc(cap);
    while (buf && (n = fread(buf + len, 1, cap - len - 1, stdin)) > 0) {
        len += n;
        if (len + 1 == cap) {
            char *bigger = cap < (1u << 20) ? realloc(buf, cap * 2) : NULL;
            if (!bigger) {
                free(buf);
                return NULL;
            }
            buf = bigger;
            cap *= 2;
        }
    }
    if (buf)
        buf[len] = 0;
    return buf;
}

static int load(struct simtp_scenario *s, char *text, size_t textlen)
{
    char err[200];
    char *in = read_stdin();
    if (!in) {
        fprintf(stderr, "simtpctl: cannot read stdin\n");
        return 5;
    }
    simtp_default(s);
    if (simtp_parse(s, in, err, sizeof err)) {
        fprintf(stderr, "simtpctl: scenario %s\n", err);
        free(in);
        return 2;
    }
    free(in);
    if (simtp_format(s, text, textlen)) {
        fprintf(stderr, "simtpctl: scenario text too long\n");
        return 5;
    }
    return 0;
}

static int device_present(const wchar_t *name)
{
    wchar_t target[512];
    return QueryDosDeviceW(name, target, sizeof target / sizeof target[0]) != 0;
}

static int wait_devices(DWORD ms)
{
    DWORD start = GetTickCount();
    for (;;) {
        /* Only the control device: the touchpad's link is withdrawn while
         * the scenario refuses opens. */
        if (device_present(L"simtp_ctl"))
            return 0;
        if (GetTickCount() - start >= ms)
            return 3;
        Sleep(10);
    }
}

static int ctl(DWORD code, struct simtp_status *st)
{
    DWORD got = 0;
    BOOL ok;
    HANDLE h = CreateFileW(L"\\\\.\\simtp_ctl", GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                           NULL, OPEN_EXISTING, 0, NULL);
    if (h == INVALID_HANDLE_VALUE) {
        fprintf(stderr, "simtpctl: cannot open \\\\.\\simtp_ctl (%lu)\n", GetLastError());
        return 5;
    }
    ok = DeviceIoControl(h, code, NULL, 0, st, sizeof *st, &got, NULL);
    CloseHandle(h);
    if (!ok || got != sizeof *st) {
        fprintf(stderr, "simtpctl: control request 0x%08lx failed (%lu)\n", code, GetLastError());
        return 5;
    }
    return 0;
}

static int store(const struct simtp_scenario *s, const char *text)
{
    HKEY key;
    LONG rc = RegCreateKeyExW(HKEY_LOCAL_MACHINE, SERVICE_KEY, 0, NULL, 0, KEY_SET_VALUE, NULL, &key, NULL);
    if (rc == ERROR_SUCCESS) {
        rc = RegSetValueExW(key, L"Scenario", 0, REG_BINARY, (const BYTE *)s, sizeof *s);
        /* The readable twin is for people looking at the registry. */
        if (rc == ERROR_SUCCESS)
            rc = RegSetValueExA(key, "ScenarioText", 0, REG_SZ, (const BYTE *)text, (DWORD)strlen(text) + 1);
        RegCloseKey(key);
    }
    if (rc != ERROR_SUCCESS) {
        fprintf(stderr, "simtpctl: cannot store the scenario (%ld)\n", rc);
        return 5;
    }
    return 0;
}

static int sync_quiet(DWORD ms)
{
    struct simtp_status st;
    DWORD start = GetTickCount();
    int rc;
    for (;;) {
        if ((rc = ctl(SIMTP_CTL_STATUS, &st)))
            return rc;
        if (!st.open_handles && !st.pending)
            break;
        if (GetTickCount() - start >= ms) {
            printf("open=%u pending=%u lines=%u dropped=%u\n", st.open_handles, st.pending, st.lines, st.dropped);
            return 4;
        }
        Sleep(5);
    }
    printf("open=%u pending=%u lines=%u dropped=%u\n", st.open_handles, st.pending, st.lines, st.dropped);
    return 0;
}

int main(int argc, char **argv)
{
    static struct simtp_scenario s;
    static char text[16384];
    struct simtp_status st;
    DWORD ms = argc > 2 ? strtoul(argv[2], NULL, 10) : 5000;
    int rc;

    /* Plain LF: the runner compares this text byte for byte. */
    _setmode(_fileno(stdout), _O_BINARY);
    _setmode(_fileno(stdin), _O_BINARY);
    if (argc < 2)
        goto usage;
    if (!strcmp(argv[1], "check")) {
        if ((rc = load(&s, text, sizeof text)))
            return rc;
        fputs(text, stdout);
        return 0;
    }
    if (!strcmp(argv[1], "wait"))
        return wait_devices(ms);
    if (!strcmp(argv[1], "sync"))
        return sync_quiet(ms);
    if (!strcmp(argv[1], "arm")) {
        if ((rc = load(&s, text, sizeof text)))
            return rc;
        if ((rc = wait_devices(ms))) {
            fprintf(stderr, "simtpctl: no simtp device after %lu ms\n", ms);
            return rc;
        }
        if ((rc = store(&s, text)) || (rc = ctl(SIMTP_CTL_RESET, &st)))
            return rc;
        fputs(text, stdout);
        return 0;
    }
usage:
    fprintf(stderr, "usage: simtpctl check|arm [MS]|wait MS|sync MS\n");
    return 1;
}
