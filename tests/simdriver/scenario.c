/* Text scenario <-> struct simtp_scenario. Plain C, no Windows headers, so the
 * parser can be built for any host. Format: README.md, "Scenario format". */
#include "scenario.h"

#include <ctype.h>
#include <stdarg.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

static const struct { const char *name; unsigned int status; } status_names[] = {
    {"ok", 0x00000000u},
    {"busy", 0x80000011u},
    {"unsuccessful", 0xC0000001u},
    {"not-implemented", 0xC0000002u},
    {"invalid-parameter", 0xC000000Du},
    {"no-such-device", 0xC000000Eu},
    {"invalid-request", 0xC0000010u},
    {"access-denied", 0xC0000022u},
    {"sharing-violation", 0xC0000043u},
    {"insufficient-resources", 0xC000009Au},
    {"not-connected", 0xC000009Du},
    {"not-ready", 0xC00000A3u},
    {"timeout", 0xC00000B5u},
    {"cancelled", 0xC0000120u},
    {"io-error", 0xC0000185u},
};

static const unsigned char default_descriptor[SIMTP_DESC_LEN] = {
    0x1E, 0x00, /* wHIDDescLength 30 */
    0x00, 0x01, /* bcdVersion 1.00 */
    0x6A, 0x01, /* wReportDescLength */
    0x21, 0x00, /* wReportDescRegister */
    0x22, 0x00, /* wInputRegister */
    0x20, 0x00, /* wMaxInputLength */
    0x23, 0x00, /* wOutputRegister */
    0x11, 0x00, /* wMaxOutputLength */
    0x05, 0x00, /* wCommandRegister */
    0x06, 0x00, /* wDataRegister */
    0x5A, 0x24, /* wVendorID 0x245a */
    0x0A, 0x00, /* wProductID 0x000a */
    0xC3, 0x05, /* wVersionID: tag 0xC0, firmware 3.5 */
    0x00, 0x00, 0x00, 0x00,
};

const char *simtp_status_name(int status)
{
    size_t i;
    for (i = 0; i < sizeof status_names / sizeof status_names[0]; i++)
        if (status_names[i].status == (unsigned int)status)
            return status_names[i].name;
    return NULL;
}

static const struct simtp_behaviour default_behaviour = {SIMTP_PEND, 1, 0, -1, -1};

void simtp_default(struct simtp_scenario *s)
{
    int i;
    memset(s, 0, sizeof *s);
    s->magic = SIMTP_MAGIC;
    s->size = sizeof *s;
    s->create_status = 0;
    s->exclusive = 1;
    s->busy_status = (int)0xC0000022u;
    s->ioctl_open = s->ioctl_close = default_behaviour;
    /* The tool closes the handle right after IOCTL_TP_CLOSE without waiting
     * for it: a long pend makes "flushed at close" the certain outcome,
     * where 1 ms would race the close and make journals differ. */
    s->ioctl_close.delay_ms = 100;
    s->write_rest = s->read_rest = default_behaviour;
    for (i = 0; i < SIMTP_SLOTS; i++)
        s->write[i] = s->read[i] = default_behaviour;
    memcpy(s->descriptor, default_descriptor, sizeof default_descriptor);
    s->other_fill = 0;
}

static int fail(char *err, size_t errlen, int line, const char *fmt, ...)
{
    va_list ap;
    int n = snprintf(err, errlen, "line %d: ", line);
    if (n < 0 || (size_t)n >= errlen)
        return -1;
    va_start(ap, fmt);
    vsnprintf(err + n, errlen - (size_t)n, fmt, ap);
    va_end(ap);
    return -1;
}

/* Whole-token unsigned number, decimal or 0x hex, at most max. */
static int parse_uint(const char *tok, unsigned long max, unsigned long *out)
{
    char *end;
    unsigned long v;
    if (!isdigit((unsigned char)tok[0]))
        return -1;
    v = strtoul(tok, &end, 0);
    if (*end || v > max)
        return -1;
    *out = v;
    return 0;
}

static int parse_status(const char *tok, int *out)
{
    size_t i;
    unsigned long v;
    for (i = 0; i < sizeof status_names / sizeof status_names[0]; i++)
        if (!strcmp(tok, status_names[i].name)) {
            *out = (int)status_names[i].status;
            return 0;
        }
    if (strncmp(tok, "0x", 2) || parse_uint(tok, 0xFFFFFFFFul, &v))
        return -1;
    if (v == 0x103) /* STATUS_PENDING is not a way to end a request */
        return -1;
    *out = (int)(unsigned int)v;
    return 0;
}

/* Splits s in place on blanks; returns the token count (at most max). */
static int split(char *s, char **tok, int max)
{
    int n = 0;
    for (;;) {
        while (*s == ' ' || *s == '\t')
            s++;
        if (!*s)
            return n;
        if (n == max)
            return max + 1;
        tok[n++] = s;
        while (*s && *s != ' ' && *s != '\t')
            s++;
        if (*s)
            *s++ = 0;
    }
}

static int parse_behaviour(char *val, struct simtp_behaviour *b, char *err, size_t errlen, int line)
{
    char *tok[8];
    int n = split(val, tok, 7), i = 1, positional = 0;
    unsigned long v;

    if (n < 1 || n > 7)
        return fail(err, errlen, line, "expected pend|now|stuck and options");
    *b = default_behaviour;
    if (!strcmp(tok[0], "pend")) {
        b->mode = SIMTP_PEND;
        positional = 2;
    } else if (!strcmp(tok[0], "now")) {
        b->mode = SIMTP_NOW;
        positional = 1;
    } else if (!strcmp(tok[0], "stuck")) {
        b->mode = SIMTP_STUCK;
    } else {
        return fail(err, errlen, line, "unknown mode '%s' (pend, now, stuck)", tok[0]);
    }
    /* pend [DELAY_MS] [STATUS] / now [STATUS], then key=value options. */
    if (b->mode == SIMTP_PEND && i < n && !strchr(tok[i], '=') && parse_uint(tok[i], 600000, &v) == 0) {
        b->delay_ms = (unsigned int)v;
        i++;
        positional--;
    }
    if (positional > 0 && i < n && !strchr(tok[i], '=')) {
        if (parse_status(tok[i], &b->status))
            return fail(err, errlen, line, "bad status '%s'", tok[i]);
        i++;
    }
    for (; i < n; i++) {
        if (!strncmp(tok[i], "bytes=", 6) && parse_uint(tok[i] + 6, 65535, &v) == 0)
            b->bytes = (int)v;
        else if (!strncmp(tok[i], "byte0=", 6) && parse_uint(tok[i] + 6, 255, &v) == 0)
            b->byte0 = (int)v;
        else
            return fail(err, errlen, line, "bad option '%s' (bytes=N, byte0=V)", tok[i]);
    }
    if (b->mode == SIMTP_STUCK && n > 1)
        return fail(err, errlen, line, "stuck takes no options");
    return 0;
}

/* "name", "name[N]" or "name[A-B]"; *lo = -1 for the bare name. */
static int parse_key(char *key, const char **name, long *lo, long *hi)
{
    char *br = strchr(key, '['), *end;
    *name = key;
    *lo = *hi = -1;
    if (!br)
        return 0;
    *br++ = 0;
    if (!isdigit((unsigned char)*br))
        return -1;
    *lo = *hi = strtol(br, &end, 10);
    if (*end == '-') {
        if (!isdigit((unsigned char)end[1]))
            return -1;
        *hi = strtol(end + 1, &end, 10);
    }
    if (end[0] != ']' || end[1] || *lo > *hi || *hi >= SIMTP_SLOTS)
        return -1;
    return 0;
}

static char *trim(char *s)
{
    char *e;
    while (*s == ' ' || *s == '\t')
        s++;
    e = s + strlen(s);
    while (e > s && (e[-1] == ' ' || e[-1] == '\t' || e[-1] == '\r'))
        *--e = 0;
    return s;
}

static int parse_line(struct simtp_scenario *s, char *text, char *err, size_t errlen, int line)
{
    char *eq = strchr(text, '='), *key, *val;
    const char *name;
    long lo, hi, i;
    unsigned long v;
    struct simtp_behaviour b;

    if (!eq)
        return fail(err, errlen, line, "expected KEY = VALUE");
    *eq = 0;
    key = trim(text);
    val = trim(eq + 1);
    if (parse_key(key, &name, &lo, &hi))
        return fail(err, errlen, line, "bad key '%s' (index 0-%d)", key, SIMTP_SLOTS - 1);

    if (!strcmp(name, "write") || !strcmp(name, "read")) {
        int is_read = name[0] == 'r';
        struct simtp_behaviour *slots = is_read ? s->read : s->write;
        if (parse_behaviour(val, &b, err, errlen, line))
            return -1;
        if (lo < 0) {
            for (i = 0; i < SIMTP_SLOTS; i++)
                slots[i] = b;
            *(is_read ? &s->read_rest : &s->write_rest) = b;
        } else {
            for (i = lo; i <= hi; i++)
                slots[i] = b;
        }
        return 0;
    }
    if (!strcmp(name, "descriptor")) {
        if (lo >= 0) {
            if (hi >= SIMTP_DESC_LEN || parse_uint(val, 255, &v))
                return fail(err, errlen, line, "descriptor[I] = BYTE with I below %d", SIMTP_DESC_LEN);
            for (i = lo; i <= hi; i++)
                s->descriptor[i] = (unsigned char)v;
            return 0;
        }
        {
            unsigned char d[SIMTP_DESC_LEN];
            int n = 0;
            const char *p = val;
            while (*p) {
                if (*p == ' ' || *p == '\t') {
                    p++;
                    continue;
                }
                if (!isxdigit((unsigned char)p[0]) || !isxdigit((unsigned char)p[1]) || n == SIMTP_DESC_LEN)
                    return fail(err, errlen, line, "descriptor needs %d hex bytes", SIMTP_DESC_LEN);
                d[n++] = (unsigned char)strtoul((char[]){p[0], p[1], 0}, NULL, 16);
                p += 2;
            }
            if (n != SIMTP_DESC_LEN)
                return fail(err, errlen, line, "descriptor needs %d hex bytes, got %d", SIMTP_DESC_LEN, n);
            memcpy(s->descriptor, d, sizeof d);
            return 0;
        }
    }
    if (lo >= 0)
        return fail(err, errlen, line, "'%s' takes no index", name);
    if (!strcmp(name, "ioctl-open") || !strcmp(name, "ioctl-close")) {
        if (parse_behaviour(val, &b, err, errlen, line))
            return -1;
        if (b.bytes >= 0 || b.byte0 >= 0)
            return fail(err, errlen, line, "control requests take no bytes= or byte0=");
        *(name[6] == 'o' ? &s->ioctl_open : &s->ioctl_close) = b;
        return 0;
    }
    if (!strcmp(name, "create") || !strcmp(name, "busy")) {
        int st;
        if (parse_status(val, &st))
            return fail(err, errlen, line, "bad status '%s'", val);
        if (name[0] == 'b' && st == 0)
            return fail(err, errlen, line, "busy must be an error status");
        *(name[0] == 'c' ? &s->create_status : &s->busy_status) = st;
        return 0;
    }
    if (!strcmp(name, "exclusive")) {
        if (strcmp(val, "yes") && strcmp(val, "no"))
            return fail(err, errlen, line, "exclusive = yes|no");
        s->exclusive = val[0] == 'y';
        return 0;
    }
    if (!strcmp(name, "other")) {
        if (parse_uint(val, 255, &v))
            return fail(err, errlen, line, "other = BYTE");
        s->other_fill = (unsigned char)v;
        return 0;
    }
    return fail(err, errlen, line, "unknown key '%s'", name);
}

int simtp_parse(struct simtp_scenario *s, const char *text, char *err, size_t errlen)
{
    char buf[512];
    int line = 0;
    const char *p = text;

    while (*p) {
        const char *nl = strchr(p, '\n');
        size_t len = nl ? (size_t)(nl - p) : strlen(p);
        char *l, *hash;
        line++;
        if (len >= sizeof buf)
            return fail(err, errlen, line, "line too long");
        memcpy(buf, p, len);
        buf[len] = 0;
        p += len + (nl ? 1 : 0);
        if ((hash = strchr(buf, '#')))
            *hash = 0;
        l = trim(buf);
        if (!*l)
            continue;
        {
            /* parse_line cuts l up; keep the text for the message. */
            char copy[sizeof buf];
            size_t used;
            memcpy(copy, l, strlen(l) + 1);
            if (parse_line(s, l, err, errlen, line)) {
                used = strlen(err);
                if (used < errlen)
                    snprintf(err + used, errlen - used, " in \"%s\"", copy);
                return -1;
            }
        }
    }
    return 0;
}

/* Appends to a bounded buffer; overflow is reported by simtp_format. */
struct out { char *p; size_t left; int over; };

static void put(struct out *o, const char *fmt, ...)
{
    va_list ap;
    int n;
    va_start(ap, fmt);
    n = vsnprintf(o->p, o->left, fmt, ap);
    va_end(ap);
    if (n < 0 || (size_t)n >= o->left) {
        o->over = 1;
        o->left = 0;
        return;
    }
    o->p += n;
    o->left -= (size_t)n;
}

static void put_status(struct out *o, int st)
{
    const char *n = simtp_status_name(st);
    if (n)
        put(o, "%s", n);
    else
        put(o, "0x%08x", (unsigned int)st);
}

static void put_behaviour(struct out *o, const struct simtp_behaviour *b)
{
    if (b->mode == SIMTP_STUCK) {
        put(o, "stuck\n");
        return;
    }
    if (b->mode == SIMTP_PEND)
        put(o, "pend %u ", b->delay_ms);
    else
        put(o, "now ");
    put_status(o, b->status);
    if (b->bytes >= 0)
        put(o, " bytes=%d", b->bytes);
    if (b->byte0 >= 0)
        put(o, " byte0=0x%02x", b->byte0);
    put(o, "\n");
}

static int same(const struct simtp_behaviour *a, const struct simtp_behaviour *b)
{
    return a->mode == b->mode && a->delay_ms == b->delay_ms && a->status == b->status &&
           a->bytes == b->bytes && a->byte0 == b->byte0;
}

static void put_slots(struct out *o, const char *name, const struct simtp_behaviour *slots,
                      const struct simtp_behaviour *rest)
{
    int i = 0, j;
    put(o, "%s = ", name);
    put_behaviour(o, rest);
    while (i < SIMTP_SLOTS) {
        if (same(&slots[i], rest)) {
            i++;
            continue;
        }
        for (j = i; j + 1 < SIMTP_SLOTS && same(&slots[j + 1], &slots[i]); j++)
            ;
        if (i == j)
            put(o, "%s[%d] = ", name, i);
        else
            put(o, "%s[%d-%d] = ", name, i, j);
        put_behaviour(o, &slots[i]);
        i = j + 1;
    }
}

int simtp_format(const struct simtp_scenario *s, char *buf, size_t len)
{
    struct out o = {buf, len, 0};
    int i;
    put(&o, "create = ");
    put_status(&o, s->create_status);
    put(&o, "\nexclusive = %s\nbusy = ", s->exclusive ? "yes" : "no");
    put_status(&o, s->busy_status);
    put(&o, "\nioctl-open = ");
    put_behaviour(&o, &s->ioctl_open);
    put(&o, "ioctl-close = ");
    put_behaviour(&o, &s->ioctl_close);
    put_slots(&o, "write", s->write, &s->write_rest);
    put_slots(&o, "read", s->read, &s->read_rest);
    put(&o, "descriptor =");
    for (i = 0; i < SIMTP_DESC_LEN; i++)
        put(&o, " %02x", s->descriptor[i]);
    put(&o, "\nother = 0x%02x\n", s->other_fill);
    return o.over ? -1 : 0;
}
