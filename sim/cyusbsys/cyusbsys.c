/* A stand-in CyUSB kernel driver with virtual FX2 boards behind it, for
 * running the Windows builds under Wine.
 *
 * Each root device the installer creates is one board position (a slot).
 * A slot registers the CyUSB device interface class and enables it only
 * while a test has a board plugged in there (control device, boardctl.h).
 * The boards answer the CyUSB I/O control codes: device queries, GET_DESCRIPTOR
 * through the 38-byte transfer record, buffered and direct bulk transfers
 * (direct ones are METHOD_NEITHER: the caller's record and data buffer), and
 * the pipe abort.  Behind bulk OUT 0x02 and bulk IN 0x86 runs the same plant
 * model as on the other rigs (sim/plant, compiled in).
 *
 * Under Wine a METHOD_NEITHER record is a copy in the driver's process, so the
 * status words of direct transfers do not reach the caller; those of buffered
 * ones do.
 *
 * Data transfers always go pending, as on a real USB stack; one the test
 * scripted never to complete stays queued until it is aborted or cancelled,
 * its handle is closed (Wine sends no cleanup request), its board is
 * unplugged, or the test completes it; a board scripted to keep its requests
 * ignores the abort and the cancel.  Descriptor and query requests complete at once, since the
 * host sends them without an overlapped structure. */
#include <ntddk.h>

#include "boardctl.h"
#include "sim/cyusb/fx2board.h"

#define POOL_TAG 0x6C656B43 /* 'Ckel' */

/* {AE18AA60-7F6A-11D4-97DD-00010229B959} */
static const GUID CyusbInterface = {0xAE18AA60, 0x7F6A, 0x11D4, {0x97, 0xDD, 0x00, 0x01, 0x02, 0x29, 0xB9, 0x59}};

#define CY_DRIVER_VERSION 0x220000
#define CY_USBDI_VERSION 0x220004
#define CY_ALT_SETTING 0x220008
#define CY_ADDRESS 0x220010
#define CY_CONTROL 0x220020
#define CY_BUFFERED 0x220024
#define CY_DEVICE_NAME 0x22003C
#define CY_FRIENDLY_NAME 0x220040
#define CY_ABORT_PIPE 0x220044
#define CY_DIRECT 0x22004B
#define CY_BUS_SPEED 0x22004C

#pragma pack(push, 1)
typedef struct TRANSFER_HEADER {
    UCHAR bmRequestType;
    UCHAR bRequest;
    USHORT wValue;
    USHORT wIndex;
    USHORT wLength;
    ULONG TimeLimit;
    UCHAR Reserved;
    UCHAR Endpoint;
    ULONG DriverStatus;
    ULONG UsbStatus;
    ULONG PacketInfoOffset;
    ULONG PacketInfoLength;
    ULONG DataOffset;
    ULONG DataLength;
} TRANSFER_HEADER;
#pragma pack(pop)
C_ASSERT(sizeof(TRANSFER_HEADER) == 38);

#define EP_OUT KELB_FX2_BULK_OUT
#define EP_IN KELB_FX2_BULK_IN
#define BLOCK 32
#define SCRIPTS 4

void *KelbPlantCreate(int model);
void KelbPlantDestroy(void *plant);
void KelbPlantReceive(void *plant, const unsigned char *packet, int length);
void KelbPlantBlock(void *plant, unsigned char *block);

typedef struct SLOT {
    DEVICE_OBJECT *Fdo;
    DEVICE_OBJECT *Lower;
    UNICODE_STRING Interface;
    BOOLEAN Registered;
    BOOLEAN Present;
    KelbPlug Board;
    void *Plant;
    KelbScript Script[2][SCRIPTS]; /* [0] OUT, [1] IN */
    ULONG Scripted[2];
    KelbFaults Faults;
    KelbSlotStatus Status;
} SLOT;

typedef struct EXTENSION {
    BOOLEAN IsBoard;
    ULONG Slot;
} EXTENSION;

static struct {
    SLOT Slot[KELB_SLOTS];
    KSPIN_LOCK Lock; /* the pending list and the slots' counters */
    LIST_ENTRY Pending;
    DEVICE_OBJECT *Control;
} g;

/* Pending data transfers carry their slot and endpoint in the IRP. */
#define IRP_SLOT(irp) ((ULONG)(ULONG_PTR)(irp)->Tail.Overlay.DriverContext[0])
#define IRP_ENDPOINT(irp) ((UCHAR)(ULONG_PTR)(irp)->Tail.Overlay.DriverContext[1])
/* A request kept against aborts and cancels: it has no cancel routine. */
#define IRP_KEPT(irp) ((irp)->Tail.Overlay.DriverContext[2] != NULL)

void *KelbPoolAlloc(size_t size)
{
    void *block = ExAllocatePoolWithTag(NonPagedPool, size ? size : 1, POOL_TAG);
    if (block) RtlZeroMemory(block, size);
    return block;
}

void KelbPoolFree(void *block)
{
    if (block) ExFreePoolWithTag(block, POOL_TAG);
}

static NTSTATUS Finish(IRP *irp, NTSTATUS status, ULONG_PTR information)
{
    irp->IoStatus.Status = status;
    irp->IoStatus.Information = information;
    IoCompleteRequest(irp, IO_NO_INCREMENT);
    return status;
}

static int EndpointIndex(UCHAR endpoint) { return endpoint == EP_IN ? 1 : 0; }

/* ---- Transfers ---------------------------------------------------------- */

/* Where a transfer's record and data are, by its code. */
typedef struct TRANSFER {
    TRANSFER_HEADER *Header;
    UCHAR *Data;
    ULONG Length;
    ULONG Offset; /* counted in the returned bytes when the data follows the record */
} TRANSFER;

static BOOLEAN Locate(IRP *irp, TRANSFER *t)
{
    IO_STACK_LOCATION *sp = IoGetCurrentIrpStackLocation(irp);
    ULONG in = sp->Parameters.DeviceIoControl.InputBufferLength;
    ULONG out = sp->Parameters.DeviceIoControl.OutputBufferLength;
    if (sp->Parameters.DeviceIoControl.IoControlCode == CY_DIRECT) {
        if (in < sizeof(TRANSFER_HEADER) || !sp->Parameters.DeviceIoControl.Type3InputBuffer) return FALSE;
        t->Header = sp->Parameters.DeviceIoControl.Type3InputBuffer;
        t->Data = irp->UserBuffer;
        t->Length = t->Data ? out : 0;
        t->Offset = 0;
        return TRUE;
    }
    t->Header = irp->AssociatedIrp.SystemBuffer;
    if (in < sizeof(TRANSFER_HEADER) || in != out || !t->Header) return FALSE;
    if (t->Header->DataOffset < sizeof(TRANSFER_HEADER) ||
        (ULONGLONG)t->Header->DataOffset + t->Header->DataLength > in)
        return FALSE;
    t->Data = (UCHAR *)t->Header + t->Header->DataOffset;
    t->Length = t->Header->DataLength;
    t->Offset = t->Header->DataOffset;
    return TRUE;
}

/* Ends a data transfer: moves the data through the plant unless the outcome
 * carries status words, writes them into the record, and completes.  What
 * happened on the bus (a stall, an aborted pipe) travels in the record's
 * status words; the request itself fails (failure) only when the driver
 * could not carry it out: the board is gone, or the caller cancelled it. */
static void EndTransfer(IRP *irp, ULONG slot, UCHAR endpoint, const KelbScript *outcome, NTSTATUS failure)
{
    SLOT *s = &g.Slot[slot];
    TRANSFER t;
    ULONG moved = 0;
    KIRQL irql;
    if (!Locate(irp, &t)) {
        Finish(irp, STATUS_INVALID_PARAMETER, 0);
        return;
    }
    if (outcome->DriverStatus == 0) {
        if (endpoint == EP_IN) {
            UCHAR block[BLOCK];
            RtlZeroMemory(block, sizeof block);
            if (s->Plant) KelbPlantBlock(s->Plant, block);
            moved = t.Length < BLOCK ? t.Length : BLOCK;
            if (outcome->Bytes >= 0 && (ULONG)outcome->Bytes < moved) moved = (ULONG)outcome->Bytes;
            RtlCopyMemory(t.Data, block, moved);
        } else {
            moved = t.Length;
            if (outcome->Bytes >= 0 && (ULONG)outcome->Bytes < moved) moved = (ULONG)outcome->Bytes;
            KeAcquireSpinLock(&g.Lock, &irql);
            if (s->Status.Packets < KELB_LOGGED) {
                ULONG n = moved < 16 ? moved : 16;
                s->Status.PacketLength[s->Status.Packets] = (UCHAR)moved;
                RtlCopyMemory(s->Status.Packet[s->Status.Packets], t.Data, n);
            }
            s->Status.Packets++;
            KeReleaseSpinLock(&g.Lock, irql);
            if (s->Plant) KelbPlantReceive(s->Plant, t.Data, (int)moved);
        }
    }
    t.Header->DriverStatus = outcome->DriverStatus;
    t.Header->UsbStatus = outcome->UsbStatus;
    Finish(irp, outcome->DriverStatus ? failure : STATUS_SUCCESS, t.Offset + moved);
}

static VOID NTAPI OnCancel(DEVICE_OBJECT *device, IRP *irp)
{
    KIRQL irql;
    KelbScript aborted = {0, 0, 0, 0, KELB_STATUS_CANCELLED, KELB_USBD_CANCELED};
    (void)device;
    IoReleaseCancelSpinLock(irp->CancelIrql);
    KeAcquireSpinLock(&g.Lock, &irql);
    RemoveEntryList(&irp->Tail.Overlay.ListEntry);
    g.Slot[IRP_SLOT(irp)].Status.Pending--;
    KeReleaseSpinLock(&g.Lock, irql);
    EndTransfer(irp, IRP_SLOT(irp), IRP_ENDPOINT(irp), &aborted, STATUS_CANCELLED);
}

/* Takes out of the pending list every request that matches, and ends each
 * with the given outcome.  endpoint 0 and file NULL match any; kept requests
 * only match when evenKept is set. */
static ULONG EndPending(ULONG slot, UCHAR endpoint, FILE_OBJECT *file, const KelbScript *outcome, NTSTATUS failure,
                        BOOLEAN evenKept)
{
    LIST_ENTRY taken, *e, *next;
    KIRQL irql;
    ULONG n = 0;
    InitializeListHead(&taken);
    KeAcquireSpinLock(&g.Lock, &irql);
    for (e = g.Pending.Flink; e != &g.Pending; e = next) {
        IRP *irp = CONTAINING_RECORD(e, IRP, Tail.Overlay.ListEntry);
        next = e->Flink;
        if (IRP_SLOT(irp) != slot || (endpoint && IRP_ENDPOINT(irp) != endpoint)) continue;
        if (file && IoGetCurrentIrpStackLocation(irp)->FileObject != file) continue;
        if (IRP_KEPT(irp)) {
            if (!evenKept) continue;
        } else if (!IoSetCancelRoutine(irp, NULL)) {
            continue; /* its cancel routine owns it */
        }
        RemoveEntryList(e);
        InsertTailList(&taken, e);
        g.Slot[slot].Status.Pending--;
    }
    KeReleaseSpinLock(&g.Lock, irql);
    while (!IsListEmpty(&taken)) {
        IRP *irp = CONTAINING_RECORD(RemoveHeadList(&taken), IRP, Tail.Overlay.ListEntry);
        EndTransfer(irp, slot, IRP_ENDPOINT(irp), outcome, failure);
        n++;
    }
    return n;
}

static NTSTATUS DataTransfer(ULONG slot, IRP *irp)
{
    SLOT *s = &g.Slot[slot];
    TRANSFER t;
    KelbScript outcome = {0, 0, KELB_NOW, -1, 0, 0};
    KIRQL irql;
    UCHAR endpoint;
    int k;
    if (!Locate(irp, &t)) return Finish(irp, STATUS_INVALID_PARAMETER, 0);
    endpoint = t.Header->Endpoint;
    if (endpoint != EP_OUT && endpoint != EP_IN) return Finish(irp, STATUS_INVALID_PARAMETER, 0);
    k = EndpointIndex(endpoint);

    KeAcquireSpinLock(&g.Lock, &irql);
    s->Status.Transfers++;
    if (s->Scripted[k]) {
        outcome = s->Script[k][0];
        RtlMoveMemory(&s->Script[k][0], &s->Script[k][1], sizeof(KelbScript) * (SCRIPTS - 1));
        s->Scripted[k]--;
    }
    KeReleaseSpinLock(&g.Lock, irql);

    irp->Tail.Overlay.DriverContext[0] = (PVOID)(ULONG_PTR)slot;
    irp->Tail.Overlay.DriverContext[1] = (PVOID)(ULONG_PTR)endpoint;
    irp->Tail.Overlay.DriverContext[2] = NULL;
    IoMarkIrpPending(irp);
    if (outcome.When != KELB_NEVER) {
        EndTransfer(irp, slot, endpoint, &outcome, STATUS_SUCCESS);
        return STATUS_PENDING;
    }
    KeAcquireSpinLock(&g.Lock, &irql);
    if (s->Faults.KeepsRequests) {
        irp->Tail.Overlay.DriverContext[2] = (PVOID)1;
    } else {
        IoSetCancelRoutine(irp, OnCancel);
    }
    if (!IRP_KEPT(irp) && irp->Cancel && IoSetCancelRoutine(irp, NULL)) {
        KelbScript aborted = {0, 0, 0, 0, KELB_STATUS_CANCELLED, KELB_USBD_CANCELED};
        KeReleaseSpinLock(&g.Lock, irql);
        EndTransfer(irp, slot, endpoint, &aborted, STATUS_CANCELLED);
        return STATUS_PENDING;
    }
    InsertTailList(&g.Pending, &irp->Tail.Overlay.ListEntry);
    s->Status.Pending++;
    KeReleaseSpinLock(&g.Lock, irql);
    return STATUS_PENDING;
}

/* ---- Device requests ---------------------------------------------------- */

static ULONG StringDescriptor(const char *text, UCHAR *out, ULONG room)
{
    ULONG n = 2, i;
    for (i = 0; text[i] && n + 2 <= room && n + 2 <= 254; i++) {
        out[n++] = (UCHAR)text[i];
        out[n++] = 0;
    }
    out[0] = (UCHAR)n;
    out[1] = 3;
    return n;
}

/* GET_DESCRIPTOR: the bytes of the asked descriptor, or 0 for a stall. */
static ULONG Descriptor(SLOT *s, ULONG slot, USHORT value, UCHAR *out, ULONG room)
{
    UCHAR type = (UCHAR)(value >> 8), index = (UCHAR)value;
    const UCHAR *from = NULL;
    ULONG n = 0;
    if (type == 1) {
        from = KELB_FX2_DEVICE_DESCRIPTOR;
        n = sizeof KELB_FX2_DEVICE_DESCRIPTOR;
    } else if (type == 2 && index == 0 && !(s->Board.Flags & KELB_CONFIG_STALLS)) {
        from = KELB_FX2_CONFIG_SET;
        n = sizeof KELB_FX2_CONFIG_SET;
    } else if (type == 3 && index == 0) {
        from = KELB_FX2_LANGUAGES;
        n = sizeof KELB_FX2_LANGUAGES;
    } else if (type == 3) {
        UCHAR text[256];
        char serial[9] = "00000000";
        serial[7] = (char)('1' + slot);
        if (index == 1) {
            n = StringDescriptor(KELB_FX2_MANUFACTURER, text, sizeof text);
        } else if (index == 2 && !(s->Board.Flags & (KELB_NO_PRODUCT | KELB_PRODUCT_STALLS))) {
            n = StringDescriptor(s->Board.Product, text, sizeof text);
        } else if (index == 3) {
            n = StringDescriptor(serial, text, sizeof text);
        } else {
            return 0;
        }
        if (n > room) n = room;
        RtlCopyMemory(out, text, n);
        return n;
    } else {
        return 0;
    }
    if (n > room) n = room;
    RtlCopyMemory(out, from, n);
    if (type == 1 && n > KELB_FX2_IPRODUCT && (s->Board.Flags & KELB_NO_PRODUCT)) out[KELB_FX2_IPRODUCT] = 0;
    return n;
}

static NTSTATUS ControlTransfer(ULONG slot, IRP *irp)
{
    SLOT *s = &g.Slot[slot];
    TRANSFER t;
    ULONG n;
    if (!Locate(irp, &t) || t.Header->wLength != t.Length) return Finish(irp, STATUS_INVALID_PARAMETER, 0);
    if (t.Header->bmRequestType != 0x80 || t.Header->bRequest != 6) {
        /* Other standard and vendor requests: taken, no data. */
        t.Header->DriverStatus = t.Header->UsbStatus = 0;
        return Finish(irp, STATUS_SUCCESS, t.Offset);
    }
    n = Descriptor(s, slot, t.Header->wValue, t.Data, t.Length);
    if (n == 0) {
        t.Header->DriverStatus = KELB_STATUS_UNSUCCESSFUL;
        t.Header->UsbStatus = KELB_USBD_STALL_PID;
        return Finish(irp, STATUS_UNSUCCESSFUL, t.Offset);
    }
    t.Header->DriverStatus = t.Header->UsbStatus = 0;
    return Finish(irp, STATUS_SUCCESS, t.Offset + n);
}

static NTSTATUS Query(ULONG slot, IRP *irp, ULONG code)
{
    IO_STACK_LOCATION *sp = IoGetCurrentIrpStackLocation(irp);
    UCHAR *out = irp->AssociatedIrp.SystemBuffer;
    ULONG room = sp->Parameters.DeviceIoControl.OutputBufferLength;
    ULONG value = 0, size = 4;
    const char *text = NULL;
    switch (code) {
    case CY_DRIVER_VERSION: value = g.Slot[slot].Board.DriverVersion; break;
    case CY_USBDI_VERSION: value = 0x00000600; break;
    case CY_ALT_SETTING: size = 1; break;
    case CY_ADDRESS: value = 2 + slot; size = 1; break;
    case CY_BUS_SPEED: value = 2; break;
    case CY_DEVICE_NAME: text = KELB_FX2_DEVICE_NAME; size = 256; break;
    case CY_FRIENDLY_NAME: text = KELB_FX2_FRIENDLY_NAME; size = 256; break;
    default: return Finish(irp, STATUS_INVALID_DEVICE_REQUEST, 0);
    }
    if (!out || room < size) return Finish(irp, STATUS_BUFFER_TOO_SMALL, 0);
    RtlZeroMemory(out, size);
    if (text) {
        ULONG i;
        for (i = 0; text[i]; i++) out[i] = (UCHAR)text[i];
    } else {
        RtlCopyMemory(out, &value, size);
    }
    return Finish(irp, STATUS_SUCCESS, size);
}

static NTSTATUS AbortPipe(ULONG slot, IRP *irp)
{
    IO_STACK_LOCATION *sp = IoGetCurrentIrpStackLocation(irp);
    UCHAR *in = irp->AssociatedIrp.SystemBuffer;
    KelbScript aborted = {0, 0, 0, 0, KELB_STATUS_CANCELLED, KELB_USBD_CANCELED};
    KIRQL irql;
    BOOLEAN fails;
    if (!in || sp->Parameters.DeviceIoControl.InputBufferLength != 1) return Finish(irp, STATUS_INVALID_PARAMETER, 0);
    KeAcquireSpinLock(&g.Lock, &irql);
    g.Slot[slot].Status.Aborts++;
    fails = g.Slot[slot].Faults.AbortFails != 0;
    if (fails) g.Slot[slot].Status.AbortsFailed++;
    KeReleaseSpinLock(&g.Lock, irql);
    if (fails) return Finish(irp, STATUS_UNSUCCESSFUL, 0);
    EndPending(slot, in[0], NULL, &aborted, STATUS_SUCCESS, FALSE);
    return Finish(irp, STATUS_SUCCESS, 0);
}

static NTSTATUS BoardRequest(ULONG slot, IRP *irp)
{
    IO_STACK_LOCATION *sp = IoGetCurrentIrpStackLocation(irp);
    ULONG code = sp->Parameters.DeviceIoControl.IoControlCode;
    if (code == KELBCTL_IDENTIFY) {
        ULONG *out = irp->AssociatedIrp.SystemBuffer;
        if (!out || sp->Parameters.DeviceIoControl.OutputBufferLength < 8) return Finish(irp, STATUS_BUFFER_TOO_SMALL, 0);
        out[0] = slot;
        out[1] = g.Slot[slot].Faults.CloseFails;
        return Finish(irp, STATUS_SUCCESS, 8);
    }
    if (!g.Slot[slot].Present) return Finish(irp, STATUS_DEVICE_NOT_CONNECTED, 0);
    switch (code) {
    case CY_CONTROL: return ControlTransfer(slot, irp);
    case CY_BUFFERED:
    case CY_DIRECT: return DataTransfer(slot, irp);
    case CY_ABORT_PIPE: return AbortPipe(slot, irp);
    default: return Query(slot, irp, code);
    }
}

/* ---- The control device ------------------------------------------------- */

static void Unplug(ULONG slot)
{
    SLOT *s = &g.Slot[slot];
    KelbScript gone = {0, 0, 0, 0, KELB_STATUS_UNSUCCESSFUL, 0};
    if (!s->Present) return;
    s->Present = FALSE;
    if (s->Registered) IoSetDeviceInterfaceState(&s->Interface, FALSE);
    EndPending(slot, 0, NULL, &gone, STATUS_DEVICE_NOT_CONNECTED, TRUE);
}

static NTSTATUS Plug(const KelbPlug *plug)
{
    SLOT *s = &g.Slot[plug->Slot];
    if (!s->Registered) return STATUS_DEVICE_NOT_READY;
    Unplug(plug->Slot);
    KelbPlantDestroy(s->Plant);
    s->Plant = NULL;
    s->Board = *plug;
    s->Board.Product[sizeof s->Board.Product - 1] = 0;
    RtlZeroMemory(s->Script, sizeof s->Script);
    RtlZeroMemory(s->Scripted, sizeof s->Scripted);
    RtlZeroMemory(&s->Faults, sizeof s->Faults);
    RtlZeroMemory(&s->Status, sizeof s->Status);
    if (plug->Model >= 0 && plug->Model <= 4) {
        s->Plant = KelbPlantCreate(plug->Model);
        if (!s->Plant) return STATUS_INSUFFICIENT_RESOURCES;
    }
    s->Present = TRUE;
    return IoSetDeviceInterfaceState(&s->Interface, TRUE);
}

static NTSTATUS ControlRequest(IRP *irp)
{
    IO_STACK_LOCATION *sp = IoGetCurrentIrpStackLocation(irp);
    ULONG code = sp->Parameters.DeviceIoControl.IoControlCode;
    ULONG in = sp->Parameters.DeviceIoControl.InputBufferLength;
    void *buffer = irp->AssociatedIrp.SystemBuffer;
    ULONG slot = buffer && in >= 4 ? *(ULONG *)buffer : KELB_SLOTS;
    SLOT *s;
    KIRQL irql;
    if (slot >= KELB_SLOTS) return Finish(irp, STATUS_INVALID_PARAMETER, 0);
    s = &g.Slot[slot];
    switch (code) {
    case KELBCTL_PLUG:
        if (in != sizeof(KelbPlug)) break;
        return Finish(irp, Plug(buffer), 0);
    case KELBCTL_UNPLUG:
        Unplug(slot);
        return Finish(irp, STATUS_SUCCESS, 0);
    case KELBCTL_SCRIPT: {
        const KelbScript *script = buffer;
        int k = EndpointIndex((UCHAR)script->Endpoint);
        if (in != sizeof(KelbScript)) break;
        KeAcquireSpinLock(&g.Lock, &irql);
        if (s->Scripted[k] < SCRIPTS) s->Script[k][s->Scripted[k]++] = *script;
        KeReleaseSpinLock(&g.Lock, irql);
        return Finish(irp, STATUS_SUCCESS, 0);
    }
    case KELBCTL_FAULTS:
        if (in != sizeof(KelbFaults)) break;
        s->Faults = *(const KelbFaults *)buffer;
        return Finish(irp, STATUS_SUCCESS, 0);
    case KELBCTL_COMPLETE: {
        const KelbScript *script = buffer;
        if (in != sizeof(KelbScript)) break;
        EndPending(slot, (UCHAR)script->Endpoint, NULL, script, STATUS_SUCCESS, TRUE);
        return Finish(irp, STATUS_SUCCESS, 0);
    }
    case KELBCTL_STATUS:
        if (sp->Parameters.DeviceIoControl.OutputBufferLength < sizeof(KelbSlotStatus)) break;
        KeAcquireSpinLock(&g.Lock, &irql);
        s->Status.Present = s->Present;
        RtlCopyMemory(buffer, &s->Status, sizeof(KelbSlotStatus));
        KeReleaseSpinLock(&g.Lock, irql);
        return Finish(irp, STATUS_SUCCESS, sizeof(KelbSlotStatus));
    default:
        break;
    }
    return Finish(irp, STATUS_INVALID_PARAMETER, 0);
}

/* ---- Dispatch ----------------------------------------------------------- */

static NTSTATUS NTAPI OnCreate(DEVICE_OBJECT *device, IRP *irp)
{
    EXTENSION *x = device->DeviceExtension;
    if (x->IsBoard) {
        KIRQL irql;
        if (!g.Slot[x->Slot].Present) return Finish(irp, STATUS_DEVICE_NOT_CONNECTED, 0);
        KeAcquireSpinLock(&g.Lock, &irql);
        g.Slot[x->Slot].Status.OpenHandles++;
        KeReleaseSpinLock(&g.Lock, irql);
    }
    return Finish(irp, STATUS_SUCCESS, 0);
}

static NTSTATUS NTAPI OnClose(DEVICE_OBJECT *device, IRP *irp)
{
    EXTENSION *x = device->DeviceExtension;
    if (x->IsBoard) {
        KelbScript aborted = {0, 0, 0, 0, KELB_STATUS_CANCELLED, KELB_USBD_CANCELED};
        KIRQL irql;
        EndPending(x->Slot, 0, IoGetCurrentIrpStackLocation(irp)->FileObject, &aborted, STATUS_CANCELLED, TRUE);
        KeAcquireSpinLock(&g.Lock, &irql);
        if (g.Slot[x->Slot].Status.OpenHandles) g.Slot[x->Slot].Status.OpenHandles--;
        KeReleaseSpinLock(&g.Lock, irql);
    }
    return Finish(irp, STATUS_SUCCESS, 0);
}

static NTSTATUS NTAPI OnDeviceControl(DEVICE_OBJECT *device, IRP *irp)
{
    EXTENSION *x = device->DeviceExtension;
    return x->IsBoard ? BoardRequest(x->Slot, irp) : ControlRequest(irp);
}

static NTSTATUS PassDown(DEVICE_OBJECT *device, IRP *irp)
{
    EXTENSION *x = device->DeviceExtension;
    if (!x->IsBoard) return Finish(irp, STATUS_NOT_SUPPORTED, 0);
    IoSkipCurrentIrpStackLocation(irp);
    return IoCallDriver(g.Slot[x->Slot].Lower, irp);
}

static NTSTATUS NTAPI OnPnp(DEVICE_OBJECT *device, IRP *irp)
{
    EXTENSION *x = device->DeviceExtension;
    SLOT *s;
    NTSTATUS status;
    if (!x->IsBoard || IoGetCurrentIrpStackLocation(irp)->MinorFunction != IRP_MN_REMOVE_DEVICE)
        return PassDown(device, irp);
    s = &g.Slot[x->Slot];
    Unplug(x->Slot);
    s->Registered = FALSE;
    status = PassDown(device, irp);
    IoDetachDevice(s->Lower);
    RtlFreeUnicodeString(&s->Interface);
    KelbPlantDestroy(s->Plant);
    s->Plant = NULL;
    s->Fdo = NULL;
    IoDeleteDevice(device);
    return status;
}

static NTSTATUS NTAPI OnPower(DEVICE_OBJECT *device, IRP *irp)
{
    EXTENSION *x = device->DeviceExtension;
    if (!x->IsBoard) return Finish(irp, STATUS_NOT_SUPPORTED, 0);
    PoStartNextPowerIrp(irp);
    IoSkipCurrentIrpStackLocation(irp);
    return PoCallDriver(g.Slot[x->Slot].Lower, irp);
}

/* The position of a root device: its instance number, the four digits
 * after the second '#' of its interface name (…#KELBCYUSB#0003#{…}). */
static ULONG SlotOf(const UNICODE_STRING *name)
{
    ULONG i, hashes = 0, n = 0, digits = 0;
    for (i = 0; i < name->Length / sizeof(WCHAR); i++) {
        WCHAR c = name->Buffer[i];
        if (c == L'#') {
            if (++hashes == 3) break;
        } else if (hashes == 2 && c >= L'0' && c <= L'9') {
            n = n * 10 + (ULONG)(c - L'0');
            digits++;
        }
    }
    return digits ? n : KELB_SLOTS;
}

static NTSTATUS NTAPI AddDevice(DRIVER_OBJECT *driver, DEVICE_OBJECT *pdo)
{
    UNICODE_STRING name;
    DEVICE_OBJECT *fdo;
    EXTENSION *x;
    ULONG slot;
    NTSTATUS status = IoRegisterDeviceInterface(pdo, &CyusbInterface, NULL, &name);
    if (!NT_SUCCESS(status)) return status;
    slot = SlotOf(&name);
    if (slot >= KELB_SLOTS || g.Slot[slot].Fdo) {
        RtlFreeUnicodeString(&name);
        return STATUS_INVALID_DEVICE_REQUEST;
    }
    status = IoCreateDevice(driver, sizeof(EXTENSION), NULL, FILE_DEVICE_UNKNOWN, 0, FALSE, &fdo);
    if (!NT_SUCCESS(status)) {
        RtlFreeUnicodeString(&name);
        return status;
    }
    x = fdo->DeviceExtension;
    x->IsBoard = TRUE;
    x->Slot = slot;
    g.Slot[slot].Fdo = fdo;
    g.Slot[slot].Interface = name;
    g.Slot[slot].Lower = IoAttachDeviceToDeviceStack(fdo, pdo);
    g.Slot[slot].Registered = TRUE;
    fdo->Flags |= DO_POWER_PAGABLE;
    fdo->Flags &= ~DO_DEVICE_INITIALIZING;
    return STATUS_SUCCESS;
}

static VOID NTAPI Unload(DRIVER_OBJECT *driver)
{
    UNICODE_STRING link = RTL_CONSTANT_STRING(L"\\??\\KelbCyUsbCtl");
    ULONG i;
    (void)driver;
    IoDeleteSymbolicLink(&link);
    if (g.Control) IoDeleteDevice(g.Control);
    for (i = 0; i < KELB_SLOTS; i++) {
        KelbPlantDestroy(g.Slot[i].Plant);
        g.Slot[i].Plant = NULL;
    }
}

NTSTATUS NTAPI DriverEntry(DRIVER_OBJECT *driver, UNICODE_STRING *registry)
{
    UNICODE_STRING name = RTL_CONSTANT_STRING(L"\\Device\\KelbCyUsbCtl");
    UNICODE_STRING link = RTL_CONSTANT_STRING(L"\\??\\KelbCyUsbCtl");
    NTSTATUS status;
    (void)registry;
    KeInitializeSpinLock(&g.Lock);
    InitializeListHead(&g.Pending);
    driver->MajorFunction[IRP_MJ_CREATE] = OnCreate;
    driver->MajorFunction[IRP_MJ_CLOSE] = OnClose;
    driver->MajorFunction[IRP_MJ_DEVICE_CONTROL] = OnDeviceControl;
    driver->MajorFunction[IRP_MJ_PNP] = OnPnp;
    driver->MajorFunction[IRP_MJ_POWER] = OnPower;
    driver->DriverExtension->AddDevice = AddDevice;
    driver->DriverUnload = Unload;
    status = IoCreateDevice(driver, sizeof(EXTENSION), &name, FILE_DEVICE_UNKNOWN, 0, FALSE, &g.Control);
    if (!NT_SUCCESS(status)) return status;
    ((EXTENSION *)g.Control->DeviceExtension)->IsBoard = FALSE;
    status = IoCreateSymbolicLink(&link, &name);
    if (!NT_SUCCESS(status)) {
        IoDeleteDevice(g.Control);
        return status;
    }
    g.Control->Flags &= ~DO_DEVICE_INITIALIZING;
    return STATUS_SUCCESS;
}
