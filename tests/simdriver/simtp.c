/* simtp.sys: a stand-in for the touchpad maker's update driver, for tests
 * under Wine. It offers \\.\Palvero_tp_update_tool, plays the scenario it
 * reads from the registry at every create, models the touchpad's register
 * pointer, and journals every request to C:\simtp\journal.txt.
 * A second device, \\.\simtp_ctl, lets simtpctl.exe reset and flush the
 * journal. Formats: README.md. */
#include <ntddk.h>
#include <stdarg.h>

#include "simtp_scenario.h"

/* Present in ntoskrnl, missing from mingw's ddk headers. */
int __cdecl _vsnprintf(char *buf, size_t len, const char *fmt, va_list ap);
int __cdecl _snprintf(char *buf, size_t len, const char *fmt, ...);
NTSTATUS NTAPI ZwWaitForSingleObject(HANDLE h, BOOLEAN alertable, PLARGE_INTEGER timeout);

#define TAG 0x706d7473u /* "stmp" */
#define JOURNAL_CAP (64 * 1024)
#define NO_REG (-1)

enum kind { K_IOCTL_OPEN, K_IOCTL_CLOSE, K_IOCTL, K_WRITE, K_READ };
static const char *const kind_name[] = {"ioctl-open", "ioctl-close", "ioctl", "write", "read"};

/* One per create, hung on FileObject->FsContext. */
struct handle {
    unsigned int hid;
    NTSTATUS refused; /* nonzero: every request fails at once with it */
    BOOLEAN holds_gate;
    unsigned int count[5]; /* requests so far, per kind */
    struct simtp_scenario sc;
};

/* One per pended IRP. Holds copies, not pointers, of what completion needs:
 * the handle may be closed while a cancel routine still runs. */
struct pending {
    LIST_ENTRY link;
    PIRP irp;
    const void *owner; /* compared, never dereferenced */
    unsigned int hid, n;
    enum kind kind;
    LONGLONG due_us; /* -1: never (stuck) */
    struct simtp_behaviour b;
    int reg;   /* reads: the register they answer from */
    ULONG len; /* asked length */
    unsigned char descriptor[SIMTP_DESC_LEN];
    unsigned char other_fill;
};

static struct {
    KSPIN_LOCK lock; /* everything below up to the journal */
    LIST_ENTRY pending;
    unsigned int npending, open_handles, next_hid;
    int reg_pointer;
    BOOLEAN based;
    LONGLONG base_us;
    char journal[JOURNAL_CAP];
    ULONG jlen;
    unsigned int lines, dropped;
    BOOLEAN truncate;
    BOOLEAN stopping;
    /* Wine ignores the status of IRP_MJ_CREATE (the open succeeds whatever
     * we answer), so a refused open is played by withdrawing the symbolic
     * link: CreateFileW then fails. Closed while the scenario refuses opens
     * or an exclusive handle is open. */
    BOOLEAN refuse_all;
    unsigned int gate_holders;
    BOOLEAN link_present; /* touched by the dispatch thread only */

    /* One writer of the journal file at a time. Not a KMUTEX: Wine's
     * KeReleaseMutex leaves a contended waiter blocked. */
    LONG flushing;
    char flushbuf[JOURNAL_CAP];
    KEVENT wake;
    HANDLE worker;
    LARGE_INTEGER freq;
    UNICODE_STRING regpath;
    PDEVICE_OBJECT tp, ctl;
} g;

static UNICODE_STRING us(const WCHAR *s)
{
    UNICODE_STRING u;
    RtlInitUnicodeString(&u, s);
    return u;
}

static LONGLONG now_us(void)
{
    LARGE_INTEGER c = KeQueryPerformanceCounter(NULL);
    return c.QuadPart / g.freq.QuadPart * 1000000 + c.QuadPart % g.freq.QuadPart * 1000000 / g.freq.QuadPart;
}

/* Caller holds g.lock. The stamp is taken under the lock, so the journal's
 * order is the order of events. */
static void jlog(const char *fmt, ...)
{
    char line[256];
    LONGLONG t = g.based ? now_us() - g.base_us : 0;
    int n, m;
    va_list ap;

    n = _snprintf(line, sizeof line, "t=%lu.%03lu ", (unsigned long)(t / 1000), (unsigned long)(t % 1000));
    va_start(ap, fmt);
    m = _vsnprintf(line + n, sizeof line - n - 1, fmt, ap);
    va_end(ap);
    if (m < 0 || n + m > (int)sizeof line - 2)
        m = sizeof line - 2 - n; /* truncated; still one line */
    line[n + m] = '\n';
    n += m + 1;
    if (g.jlen + n > JOURNAL_CAP) {
        g.dropped++;
        return;
    }
    RtlCopyMemory(g.journal + g.jlen, line, n);
    g.jlen += n;
    g.lines++;
}

static void hex(char *out, const unsigned char *p, ULONG n)
{
    static const char digits[] = "0123456789abcdef";
    ULONG i;
    for (i = 0; i < n; i++) {
        out[2 * i] = digits[p[i] >> 4];
        out[2 * i + 1] = digits[p[i] & 15];
    }
    out[2 * n] = 0;
}

/* Moves buffered journal lines to the file. PASSIVE_LEVEL only. */
static void flush_journal(void)
{
    KIRQL irql;
    ULONG n;
    BOOLEAN truncate;
    UNICODE_STRING name = us(L"\\??\\C:\\simtp\\journal.txt");
    OBJECT_ATTRIBUTES oa;
    IO_STATUS_BLOCK iosb;
    HANDLE f;
    LARGE_INTEGER pause;

    pause.QuadPart = -10000; /* 1 ms */
    while (InterlockedCompareExchange(&g.flushing, 1, 0))
        KeDelayExecutionThread(KernelMode, FALSE, &pause);
    KeAcquireSpinLock(&g.lock, &irql);
    n = g.jlen;
    RtlCopyMemory(g.flushbuf, g.journal, n);
    g.jlen = 0;
    truncate = g.truncate;
    g.truncate = FALSE;
    KeReleaseSpinLock(&g.lock, irql);

    if (n || truncate) {
        InitializeObjectAttributes(&oa, &name, OBJ_CASE_INSENSITIVE | OBJ_KERNEL_HANDLE, NULL, NULL);
        if (NT_SUCCESS(ZwCreateFile(&f, (truncate ? GENERIC_WRITE : FILE_APPEND_DATA) | SYNCHRONIZE, &oa, &iosb,
                                    NULL, FILE_ATTRIBUTE_NORMAL, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                    truncate ? FILE_OVERWRITE_IF : FILE_OPEN_IF,
                                    FILE_SYNCHRONOUS_IO_NONALERT | FILE_NON_DIRECTORY_FILE, NULL, 0))) {
            if (n)
                ZwWriteFile(f, NULL, NULL, NULL, &iosb, g.flushbuf, n, NULL, NULL);
            ZwClose(f);
        }
    }
    InterlockedExchange(&g.flushing, 0);
}

static void wake_worker(void)
{
    KeSetEvent(&g.wake, IO_NO_INCREMENT, FALSE);
}

/* What the touchpad answers from register reg. */
static void answer(const struct pending *p, unsigned char *buf, ULONG count)
{
    ULONG i;
    for (i = 0; i < count; i++) {
        if (p->reg == SIMTP_REG_DESC)
            buf[i] = i < SIMTP_DESC_LEN ? p->descriptor[i] : 0;
        else if (p->reg == NO_REG)
            buf[i] = 0;
        else
            buf[i] = p->other_fill;
    }
    if (p->reg == SIMTP_REG_DESC && count > 0 && p->b.byte0 >= 0)
        buf[0] = (unsigned char)p->b.byte0;
}

/* Fills in the IRP's result for behaviour p->b and journals it as verb
 * ("now" or "done"). Caller holds g.lock; the IRP is completed after. */
static void finish_locked(struct pending *p, const char *verb)
{
    PIRP irp = p->irp;
    ULONG bytes = 0;
    char data[2 * 64 + 1];

    data[0] = 0;
    if (NT_SUCCESS(p->b.status)) {
        switch (p->kind) {
        case K_WRITE:
            bytes = p->b.bytes < 0 ? p->len : (ULONG)p->b.bytes;
            if (p->len == 2) {
                const unsigned char *in = irp->AssociatedIrp.SystemBuffer;
                g.reg_pointer = in[0] | in[1] << 8;
            } else {
                g.reg_pointer = NO_REG; /* anything but a bare address resets it */
            }
            break;
        case K_READ:
            bytes = p->b.bytes < 0 || (ULONG)p->b.bytes > p->len ? p->len : (ULONG)p->b.bytes;
            answer(p, irp->AssociatedIrp.SystemBuffer, bytes);
            hex(data, irp->AssociatedIrp.SystemBuffer, bytes > 64 ? 64 : bytes);
            break;
        default:
            break;
        }
    }
    irp->IoStatus.Status = p->b.status;
    irp->IoStatus.Information = bytes;
    jlog("h=%u %s %s#%u status=0x%08x bytes=%lu%s%s", p->hid, verb, kind_name[p->kind], p->n,
         (unsigned int)p->b.status, (unsigned long)bytes, data[0] ? " data=" : "", data);
}

static VOID NTAPI cancel_routine(PDEVICE_OBJECT dev, PIRP irp)
{
    struct pending *p = irp->Tail.Overlay.DriverContext[0];
    KIRQL irql;
    (void)dev;

    IoReleaseCancelSpinLock(irp->CancelIrql);
    KeAcquireSpinLock(&g.lock, &irql);
    RemoveEntryList(&p->link);
    g.npending--;
    jlog("h=%u cancel %s#%u", p->hid, kind_name[p->kind], p->n);
    KeReleaseSpinLock(&g.lock, irql);
    wake_worker(); /* the journal has a line to flush */

    ExFreePoolWithTag(p, TAG);
    irp->IoStatus.Status = STATUS_CANCELLED;
    irp->IoStatus.Information = 0;
    IoCompleteRequest(irp, IO_NO_INCREMENT);
}

/* Takes the pending IRPs of owner (all when owner is NULL) that are not
 * being cancelled into out, journalling them as flushed. Caller holds
 * g.lock; the caller completes them as cancelled. */
static void take_owned_locked(const void *owner, const char *at, LIST_ENTRY *out)
{
    LIST_ENTRY *e = g.pending.Flink, *next;
    for (; e != &g.pending; e = next) {
        struct pending *p = CONTAINING_RECORD(e, struct pending, link);
        next = e->Flink;
        if (owner && p->owner != owner)
            continue;
        if (!IoSetCancelRoutine(p->irp, NULL))
            continue; /* its cancel routine is running and will finish it */
        RemoveEntryList(e);
        g.npending--;
        jlog("h=%u flush %s#%u at=%s", p->hid, kind_name[p->kind], p->n, at);
        InsertTailList(out, e);
    }
}

static void complete_cancelled(LIST_ENTRY *list)
{
    while (!IsListEmpty(list)) {
        struct pending *p = CONTAINING_RECORD(RemoveHeadList(list), struct pending, link);
        p->irp->IoStatus.Status = STATUS_CANCELLED;
        p->irp->IoStatus.Information = 0;
        IoCompleteRequest(p->irp, IO_NO_INCREMENT);
        ExFreePoolWithTag(p, TAG);
    }
}

static VOID NTAPI worker(PVOID ctx)
{
    (void)ctx;
    for (;;) {
        LIST_ENTRY done;
        LIST_ENTRY *e, *next;
        KIRQL irql;
        LONGLONG now, wait_us = 10000; /* also a bound on any missed wake-up */
        LARGE_INTEGER timeout;
        BOOLEAN stop;

        InitializeListHead(&done);
        KeAcquireSpinLock(&g.lock, &irql);
        now = now_us();
        for (e = g.pending.Flink; e != &g.pending; e = next) {
            struct pending *p = CONTAINING_RECORD(e, struct pending, link);
            next = e->Flink;
            if (p->due_us < 0)
                continue;
            if (p->due_us > now) {
                if (p->due_us - now < wait_us)
                    wait_us = p->due_us - now;
                continue;
            }
            if (!IoSetCancelRoutine(p->irp, NULL))
                continue; /* lost the race to a cancel */
            RemoveEntryList(e);
            g.npending--;
            finish_locked(p, "done");
            InsertTailList(&done, e);
        }
        stop = g.stopping;
        KeReleaseSpinLock(&g.lock, irql);

        while (!IsListEmpty(&done)) {
            struct pending *p = CONTAINING_RECORD(RemoveHeadList(&done), struct pending, link);
            IoCompleteRequest(p->irp, IO_NO_INCREMENT);
            ExFreePoolWithTag(p, TAG);
        }
        flush_journal();
        if (stop)
            break;
        timeout.QuadPart = -10 * (wait_us > 0 ? wait_us : 1);
        KeWaitForSingleObject(&g.wake, Executive, KernelMode, FALSE, &timeout);
    }
    PsTerminateSystemThread(STATUS_SUCCESS);
}

static NTSTATUS complete(PIRP irp, NTSTATUS status, ULONG_PTR info)
{
    irp->IoStatus.Status = status;
    irp->IoStatus.Information = info;
    IoCompleteRequest(irp, IO_NO_INCREMENT);
    return status;
}

/* Brings the link in line with the gate. Dispatch thread, PASSIVE_LEVEL. */
static void update_gate(void)
{
    UNICODE_STRING link = us(L"\\DosDevices\\Palvero_tp_update_tool"), dev = us(L"\\Device\\SimTp");
    KIRQL irql;
    BOOLEAN open;

    KeAcquireSpinLock(&g.lock, &irql);
    open = !g.refuse_all && !g.gate_holders && !g.stopping;
    KeReleaseSpinLock(&g.lock, irql);
    if (open && !g.link_present)
        g.link_present = NT_SUCCESS(IoCreateSymbolicLink(&link, &dev));
    else if (!open && g.link_present)
        g.link_present = !NT_SUCCESS(IoDeleteSymbolicLink(&link));
}

static void read_scenario(struct simtp_scenario *sc, const char **origin)
{
    UNICODE_STRING value = us(L"Scenario");
    OBJECT_ATTRIBUTES oa;
    HANDLE key;
    ULONG size = sizeof(KEY_VALUE_PARTIAL_INFORMATION) + sizeof *sc, got;
    KEY_VALUE_PARTIAL_INFORMATION *info;

    *origin = "none";
    RtlZeroMemory(sc, sizeof *sc);
    InitializeObjectAttributes(&oa, &g.regpath, OBJ_CASE_INSENSITIVE | OBJ_KERNEL_HANDLE, NULL, NULL);
    if (!NT_SUCCESS(ZwOpenKey(&key, KEY_READ, &oa)))
        return;
    info = ExAllocatePoolWithTag(PagedPool, size, TAG);
    if (info) {
        if (NT_SUCCESS(ZwQueryValueKey(key, &value, KeyValuePartialInformation, info, size, &got))) {
            const struct simtp_scenario *r = (const void *)info->Data;
            if (info->Type == REG_BINARY && info->DataLength == sizeof *sc && r->magic == SIMTP_MAGIC &&
                r->size == sizeof *sc) {
                RtlCopyMemory(sc, r, sizeof *sc);
                *origin = "registry";
            } else {
                *origin = "bad";
            }
        }
        ExFreePoolWithTag(info, TAG);
    }
    ZwClose(key);
}

static NTSTATUS tp_create(PIRP irp, PFILE_OBJECT fo)
{
    struct handle *h = ExAllocatePoolWithTag(NonPagedPool, sizeof *h, TAG);
    const char *origin, *refused = NULL;
    NTSTATUS status = STATUS_SUCCESS;
    KIRQL irql;

    if (!h)
        return complete(irp, STATUS_INSUFFICIENT_RESOURCES, 0);
    RtlZeroMemory(h, sizeof *h);
    read_scenario(&h->sc, &origin);

    KeAcquireSpinLock(&g.lock, &irql);
    if (!g.based) {
        g.based = TRUE;
        g.base_us = now_us();
    }
    h->hid = ++g.next_hid;
    if (origin[0] != 'r') {
        /* A missing or stale record must not pass for a scenario. */
        status = STATUS_INVALID_PARAMETER;
        refused = "no-scenario";
    } else if (h->sc.create_status) {
        status = h->sc.create_status;
        refused = "scenario";
    } else if (h->sc.exclusive && g.open_handles) {
        status = h->sc.busy_status;
        refused = "busy";
    } else {
        g.open_handles++;
        g.reg_pointer = NO_REG;
        if (h->sc.exclusive) {
            h->holds_gate = TRUE;
            g.gate_holders++;
        }
    }
    if (refused)
        jlog("h=%u create status=0x%08x refused=%s", h->hid, (unsigned int)status, refused);
    else
        jlog("h=%u create status=0x%08x", h->hid, (unsigned int)status);
    KeReleaseSpinLock(&g.lock, irql);
    wake_worker();
    update_gate();

    /* Kept even when refused: Wine hands out the handle anyway, and its
     * requests must fail rather than reach the touchpad. */
    h->refused = status;
    fo->FsContext = h;
    return complete(irp, status, NT_SUCCESS(status) ? FILE_OPENED : 0);
}

static NTSTATUS tp_close(PIRP irp, PFILE_OBJECT fo, BOOLEAN cleanup)
{
    struct handle *h = fo->FsContext;
    LIST_ENTRY left;
    KIRQL irql;

    if (!h)
        return complete(irp, STATUS_SUCCESS, 0);
    InitializeListHead(&left);
    KeAcquireSpinLock(&g.lock, &irql);
    if (cleanup) {
        jlog("h=%u cleanup", h->hid);
        take_owned_locked(fo, "cleanup", &left);
    } else {
        take_owned_locked(fo, "close", &left);
        if (!h->refused)
            g.open_handles--;
        if (h->holds_gate)
            g.gate_holders--;
        jlog("h=%u close", h->hid);
    }
    KeReleaseSpinLock(&g.lock, irql);
    wake_worker();
    complete_cancelled(&left);
    update_gate();
    if (!cleanup) {
        fo->FsContext = NULL;
        ExFreePoolWithTag(h, TAG);
    }
    return complete(irp, STATUS_SUCCESS, 0);
}

/* Plays behaviour b for a request of the given kind: completes it here or
 * queues it for the worker (or for cancellation). */
static NTSTATUS play(PIRP irp, struct handle *h, PFILE_OBJECT fo, enum kind kind, const struct simtp_behaviour *b,
                     ULONG len, const char *recv_detail)
{
    struct pending *p = ExAllocatePoolWithTag(NonPagedPool, sizeof *p, TAG);
    KIRQL irql;
    NTSTATUS status;

    KeAcquireSpinLock(&g.lock, &irql);
    if (!p) {
        jlog("h=%u recv %s#%u %s", h->hid, kind_name[kind], h->count[kind], recv_detail);
        jlog("h=%u now %s#%u status=0x%08x bytes=0 no-memory", h->hid, kind_name[kind], h->count[kind]++,
             (unsigned int)STATUS_INSUFFICIENT_RESOURCES);
        KeReleaseSpinLock(&g.lock, irql);
        wake_worker();
        return complete(irp, STATUS_INSUFFICIENT_RESOURCES, 0);
    }
    RtlZeroMemory(p, sizeof *p);
    p->irp = irp;
    p->owner = fo;
    p->hid = h->hid;
    p->kind = kind;
    p->n = h->count[kind]++;
    p->b = *b;
    p->len = len;
    p->reg = NO_REG;
    RtlCopyMemory(p->descriptor, h->sc.descriptor, SIMTP_DESC_LEN);
    p->other_fill = h->sc.other_fill;
    if (kind == K_READ && !h->refused) {
        /* A read answers from the pointer the last write set, and uses it up. */
        p->reg = g.reg_pointer;
        g.reg_pointer = NO_REG;
        if (p->reg == NO_REG)
            jlog("h=%u recv read#%u %s reg=none", p->hid, p->n, recv_detail);
        else
            jlog("h=%u recv read#%u %s reg=0x%04x", p->hid, p->n, recv_detail, p->reg);
    } else {
        jlog("h=%u recv %s#%u %s", p->hid, kind_name[kind], p->n, recv_detail);
    }

    if (b->mode == SIMTP_NOW) {
        finish_locked(p, "now");
        KeReleaseSpinLock(&g.lock, irql);
        wake_worker();
        status = irp->IoStatus.Status;
        ExFreePoolWithTag(p, TAG);
        IoCompleteRequest(irp, IO_NO_INCREMENT);
        return status;
    }

    p->due_us = b->mode == SIMTP_STUCK ? -1 : now_us() + (LONGLONG)b->delay_ms * 1000;
    irp->Tail.Overlay.DriverContext[0] = p;
    IoMarkIrpPending(irp);
    IoSetCancelRoutine(irp, cancel_routine);
    if (irp->Cancel && IoSetCancelRoutine(irp, NULL)) {
        /* Cancelled before we queued it, and nobody else will finish it. */
        jlog("h=%u cancel %s#%u", p->hid, kind_name[kind], p->n);
        KeReleaseSpinLock(&g.lock, irql);
        wake_worker();
        ExFreePoolWithTag(p, TAG);
        complete(irp, STATUS_CANCELLED, 0);
        return STATUS_PENDING;
    }
    InsertTailList(&g.pending, &p->link);
    g.npending++;
    KeReleaseSpinLock(&g.lock, irql);
    wake_worker();
    return STATUS_PENDING;
}

static NTSTATUS tp_ioctl(PIRP irp, PIO_STACK_LOCATION sp, struct handle *h)
{
    static const struct simtp_behaviour unknown = {SIMTP_NOW, 0, (int)0xC0000010u /* invalid request */, -1, -1};
    ULONG code = sp->Parameters.DeviceIoControl.IoControlCode;
    char detail[64];
    enum kind kind;
    const struct simtp_behaviour *b;

    if (code == SIMTP_IOCTL_TP_OPEN) {
        kind = K_IOCTL_OPEN;
        b = &h->sc.ioctl_open;
    } else if (code == SIMTP_IOCTL_TP_CLOSE) {
        kind = K_IOCTL_CLOSE;
        b = &h->sc.ioctl_close;
    } else {
        kind = K_IOCTL;
        b = &unknown;
    }
    _snprintf(detail, sizeof detail, "code=0x%08lx in=%lu out=%lu", (unsigned long)code,
              (unsigned long)sp->Parameters.DeviceIoControl.InputBufferLength,
              (unsigned long)sp->Parameters.DeviceIoControl.OutputBufferLength);
    return play(irp, h, sp->FileObject, kind, b, 0, detail);
}

static NTSTATUS tp_write(PIRP irp, PIO_STACK_LOCATION sp, struct handle *h)
{
    ULONG len = sp->Parameters.Write.Length;
    ULONG shown = len > 64 ? 64 : len;
    char detail[32 + 2 * 64 + 1];
    char data[2 * 64 + 1];
    unsigned int n = h->count[K_WRITE];

    hex(data, irp->AssociatedIrp.SystemBuffer, irp->AssociatedIrp.SystemBuffer ? shown : 0);
    _snprintf(detail, sizeof detail, "len=%lu data=%s", (unsigned long)len, data);
    return play(irp, h, sp->FileObject, K_WRITE, n < SIMTP_SLOTS ? &h->sc.write[n] : &h->sc.write_rest, len, detail);
}

static NTSTATUS tp_read(PIRP irp, PIO_STACK_LOCATION sp, struct handle *h)
{
    ULONG len = sp->Parameters.Read.Length;
    char detail[32];
    unsigned int n = h->count[K_READ];

    _snprintf(detail, sizeof detail, "len=%lu", (unsigned long)len);
    if (len && !irp->AssociatedIrp.SystemBuffer)
        len = 0;
    return play(irp, h, sp->FileObject, K_READ, n < SIMTP_SLOTS ? &h->sc.read[n] : &h->sc.read_rest, len, detail);
}

static NTSTATUS ctl_ioctl(PIRP irp, PIO_STACK_LOCATION sp)
{
    ULONG code = sp->Parameters.DeviceIoControl.IoControlCode;
    struct simtp_status st;
    KIRQL irql;

    if (code != SIMTP_CTL_RESET && code != SIMTP_CTL_STATUS)
        return complete(irp, STATUS_INVALID_DEVICE_REQUEST, 0);
    if (code == SIMTP_CTL_RESET) {
        struct simtp_scenario *sc = ExAllocatePoolWithTag(PagedPool, sizeof *sc, TAG);
        const char *origin = "none";
        if (sc)
            read_scenario(sc, &origin);
        KeAcquireSpinLock(&g.lock, &irql);
        g.refuse_all = origin[0] == 'r' && sc->create_status != 0;
        g.jlen = 0;
        g.lines = g.dropped = 0;
        g.based = FALSE;
        g.next_hid = 0;
        g.truncate = TRUE;
        KeReleaseSpinLock(&g.lock, irql);
        if (sc)
            ExFreePoolWithTag(sc, TAG);
        update_gate();
    }
    flush_journal();
    KeAcquireSpinLock(&g.lock, &irql);
    st.open_handles = g.open_handles;
    st.pending = g.npending;
    st.lines = g.lines;
    st.dropped = g.dropped;
    KeReleaseSpinLock(&g.lock, irql);
    if (sp->Parameters.DeviceIoControl.OutputBufferLength < sizeof st)
        return complete(irp, STATUS_SUCCESS, 0);
    RtlCopyMemory(irp->AssociatedIrp.SystemBuffer, &st, sizeof st);
    return complete(irp, STATUS_SUCCESS, sizeof st);
}

static NTSTATUS NTAPI dispatch(PDEVICE_OBJECT dev, PIRP irp)
{
    PIO_STACK_LOCATION sp = IoGetCurrentIrpStackLocation(irp);
    struct handle *h = sp->FileObject ? sp->FileObject->FsContext : NULL;

    if (dev == g.ctl) {
        if (sp->MajorFunction == IRP_MJ_DEVICE_CONTROL)
            return ctl_ioctl(irp, sp);
        if (sp->MajorFunction == IRP_MJ_CREATE || sp->MajorFunction == IRP_MJ_CLOSE ||
            sp->MajorFunction == IRP_MJ_CLEANUP)
            return complete(irp, STATUS_SUCCESS, 0);
        return complete(irp, STATUS_INVALID_DEVICE_REQUEST, 0);
    }

    switch (sp->MajorFunction) {
    case IRP_MJ_CREATE:
        return tp_create(irp, sp->FileObject);
    case IRP_MJ_CLOSE:
        return tp_close(irp, sp->FileObject, FALSE);
    case IRP_MJ_CLEANUP:
        return tp_close(irp, sp->FileObject, TRUE);
    default:
        break;
    }
    if (!h)
        return complete(irp, STATUS_INVALID_HANDLE, 0);
    if (h->refused && (sp->MajorFunction == IRP_MJ_DEVICE_CONTROL || sp->MajorFunction == IRP_MJ_WRITE ||
                       sp->MajorFunction == IRP_MJ_READ)) {
        const struct simtp_behaviour fail = {SIMTP_NOW, 0, h->refused, -1, -1};
        enum kind kind = sp->MajorFunction == IRP_MJ_WRITE ? K_WRITE : sp->MajorFunction == IRP_MJ_READ ? K_READ : K_IOCTL;
        return play(irp, h, sp->FileObject, kind, &fail, 0, "on-refused-handle");
    }
    switch (sp->MajorFunction) {
    case IRP_MJ_DEVICE_CONTROL:
        return tp_ioctl(irp, sp, h);
    case IRP_MJ_WRITE:
        return tp_write(irp, sp, h);
    case IRP_MJ_READ:
        return tp_read(irp, sp, h);
    default: {
        KIRQL irql;
        KeAcquireSpinLock(&g.lock, &irql);
        jlog("h=%u now other mj=%u status=0x%08x", h->hid, (unsigned int)sp->MajorFunction,
             (unsigned int)STATUS_INVALID_DEVICE_REQUEST);
        KeReleaseSpinLock(&g.lock, irql);
        wake_worker();
        return complete(irp, STATUS_INVALID_DEVICE_REQUEST, 0);
    }
    }
}

static VOID NTAPI unload(PDRIVER_OBJECT drv)
{
    UNICODE_STRING l2 = us(L"\\DosDevices\\simtp_ctl");
    LIST_ENTRY left;
    KIRQL irql;
    LARGE_INTEGER pause;
    int tries;
    (void)drv;

    if (g.ctl)
        IoDeleteSymbolicLink(&l2);
    InitializeListHead(&left);
    KeAcquireSpinLock(&g.lock, &irql);
    take_owned_locked(NULL, "unload", &left);
    g.stopping = TRUE;
    KeReleaseSpinLock(&g.lock, irql);
    update_gate();
    complete_cancelled(&left);
    wake_worker();
    if (g.worker) {
        ZwWaitForSingleObject(g.worker, FALSE, NULL);
        ZwClose(g.worker);
    }
    /* Cancel routines that were already running when we took the list. */
    pause.QuadPart = -10000; /* 1 ms */
    for (tries = 0; tries < 1000 && g.npending; tries++)
        KeDelayExecutionThread(KernelMode, FALSE, &pause);
    if (g.tp)
        IoDeleteDevice(g.tp);
    if (g.ctl)
        IoDeleteDevice(g.ctl);
    if (g.regpath.Buffer)
        ExFreePoolWithTag(g.regpath.Buffer, TAG);
}

static void make_journal_dir(void)
{
    UNICODE_STRING name = us(L"\\??\\C:\\simtp");
    OBJECT_ATTRIBUTES oa;
    IO_STATUS_BLOCK iosb;
    HANDLE d;
    InitializeObjectAttributes(&oa, &name, OBJ_CASE_INSENSITIVE | OBJ_KERNEL_HANDLE, NULL, NULL);
    if (NT_SUCCESS(ZwCreateFile(&d, FILE_LIST_DIRECTORY | SYNCHRONIZE, &oa, &iosb, NULL, FILE_ATTRIBUTE_NORMAL,
                                FILE_SHARE_READ | FILE_SHARE_WRITE, FILE_OPEN_IF,
                                FILE_DIRECTORY_FILE | FILE_SYNCHRONOUS_IO_NONALERT, NULL, 0)))
        ZwClose(d);
}

static NTSTATUS make_device(PDRIVER_OBJECT drv, const WCHAR *dev, const WCHAR *link, PDEVICE_OBJECT *out)
{
    UNICODE_STRING d = us(dev), l;
    NTSTATUS st = IoCreateDevice(drv, 0, &d, FILE_DEVICE_UNKNOWN, 0, FALSE, out);
    if (!NT_SUCCESS(st))
        return st;
    (*out)->Flags |= DO_BUFFERED_IO;
    (*out)->Flags &= ~DO_DEVICE_INITIALIZING;
    if (!link)
        return st;
    l = us(link);
    st = IoCreateSymbolicLink(&l, &d);
    if (!NT_SUCCESS(st)) {
        IoDeleteDevice(*out);
        *out = NULL;
    }
    return st;
}

NTSTATUS NTAPI DriverEntry(PDRIVER_OBJECT drv, PUNICODE_STRING regpath)
{
    NTSTATUS st;
    int i;

    KeInitializeSpinLock(&g.lock);
    InitializeListHead(&g.pending);
    KeInitializeEvent(&g.wake, SynchronizationEvent, FALSE);
    KeQueryPerformanceCounter(&g.freq);
    g.reg_pointer = NO_REG;

    g.regpath.MaximumLength = regpath->Length + sizeof(WCHAR);
    g.regpath.Buffer = ExAllocatePoolWithTag(PagedPool, g.regpath.MaximumLength, TAG);
    if (!g.regpath.Buffer)
        return STATUS_INSUFFICIENT_RESOURCES;
    RtlCopyUnicodeString(&g.regpath, regpath);

    for (i = 0; i <= IRP_MJ_MAXIMUM_FUNCTION; i++)
        drv->MajorFunction[i] = dispatch;
    drv->DriverUnload = unload;

    make_journal_dir();
    st = make_device(drv, L"\\Device\\SimTp", NULL, &g.tp);
    if (NT_SUCCESS(st))
        st = make_device(drv, L"\\Device\\SimTpCtl", L"\\DosDevices\\simtp_ctl", &g.ctl);
    if (NT_SUCCESS(st)) {
        update_gate();
        st = g.link_present ? STATUS_SUCCESS : STATUS_OBJECT_NAME_COLLISION;
    }
    if (NT_SUCCESS(st))
        st = PsCreateSystemThread(&g.worker, THREAD_ALL_ACCESS, NULL, NULL, NULL, worker, NULL);
    if (!NT_SUCCESS(st)) {
        g.worker = NULL;
        unload(drv);
    }
    return st;
}
