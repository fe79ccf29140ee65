/* The control device of the stand-in CyUSB kernel driver: how a test puts
 * virtual boards on the bus, scripts their faults and reads back what they
 * received.  Plain C, shared by the driver and the Windows test host.
 *
 * The driver owns KELB_SLOTS root devices; each one is a board position.  A
 * position shows its CyUSB device interface only while a board is plugged in
 * there, so enumeration order is position order.  All requests are
 * METHOD_BUFFERED on \\.\KelbCyUsbCtl and answer at once. */
#ifndef KELB_BOARDCTL_H
#define KELB_BOARDCTL_H

#define KELB_SLOTS 6
#define KELB_CONTROL_DEVICE "\\\\.\\KelbCyUsbCtl"

#define KELB_CTL(n) (0x00220000u | ((0x800u + (n)) << 2))
#define KELBCTL_PLUG KELB_CTL(0)     /* in: KelbPlug */
#define KELBCTL_UNPLUG KELB_CTL(1)   /* in: uint32 slot */
#define KELBCTL_SCRIPT KELB_CTL(2)   /* in: KelbScript */
#define KELBCTL_FAULTS KELB_CTL(3)   /* in: KelbFaults */
#define KELBCTL_COMPLETE KELB_CTL(4) /* in: KelbScript: ends the slot's pending requests on an endpoint */
#define KELBCTL_STATUS KELB_CTL(5)   /* in: uint32 slot, out: KelbSlotStatus */
/* Sent on a board's own handle: which position it is, and whether its
 * handle is scripted not to close (out: uint32 slot, uint32 closeFails). */
#define KELBCTL_IDENTIFY KELB_CTL(6)

/* Plug flags */
#define KELB_NO_PRODUCT 1u       /* iProduct 0, as an FX2 without firmware */
#define KELB_PRODUCT_STALLS 2u   /* iProduct set, but its string request stalls */
#define KELB_CONFIG_STALLS 4u    /* its configuration descriptor request stalls: it cannot be used */

#pragma pack(push, 4)
typedef struct KelbPlug {
    unsigned int Slot;
    int Model;                  /* plant row: 0 TIRK .. 4 GASPILODEN, -1 none */
    unsigned int Flags;
    unsigned int DriverVersion; /* below 0x01050500 the host transfers buffered */
    char Product[64];
} KelbPlug;

/* How the next transfer on an endpoint ends. */
#define KELB_NOW 0
#define KELB_NEVER 1 /* stays pending until aborted, closed, unplugged or completed */
typedef struct KelbScript {
    unsigned int Slot;
    unsigned int Endpoint;
    unsigned int When;
    int Bytes;                  /* data moved; -1 all */
    unsigned int DriverStatus;  /* nonzero: the transfer fails with these status words */
    unsigned int UsbStatus;
} KelbScript;

typedef struct KelbFaults {
    unsigned int Slot;
    unsigned int AbortFails;
    unsigned int CloseFails;
    unsigned int KeepsRequests; /* pending transfers ignore aborts and cancels; closing, unplugging or completing ends them */
} KelbFaults;

#define KELB_LOGGED 64
typedef struct KelbSlotStatus {
    unsigned int Present;
    unsigned int OpenHandles;
    unsigned int Pending;
    unsigned int Aborts;        /* abort requests, failed ones included */
    unsigned int AbortsFailed;
    unsigned int Transfers;     /* data transfer requests */
    unsigned int Packets;       /* OUT packets received; the first KELB_LOGGED are kept */
    unsigned char PacketLength[KELB_LOGGED];
    unsigned char Packet[KELB_LOGGED][16];
} KelbSlotStatus;
#pragma pack(pop)

/* Status words the driver writes for an aborted transfer and for a stall. */
#define KELB_STATUS_CANCELLED 0xC0000120u
#define KELB_USBD_CANCELED 0xC0010000u
#define KELB_STATUS_UNSUCCESSFUL 0xC0000001u
#define KELB_USBD_STALL_PID 0xC0000004u

#endif
