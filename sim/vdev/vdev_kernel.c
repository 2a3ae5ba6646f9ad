/* Kernel side of the virtual touchpad controller: a HID minidriver under Wine's hidclass. One
 * root device per top-level collection; each answers hidclass's requests from the controller
 * model (vdev_model.cpp). Test-only, never shipped.
 *
 * MinGW has no hidport.h and its ddk/hidclass.h carries placeholder IOCTL_HID_* values, so the
 * minidriver interface is declared here from the public documentation. */
#include <ntddk.h>

#include "vdev_model_api.h"

/* ---- the HID minidriver interface ------------------------------------------------------- */

#define VDEV_HID_CTL(id, method) CTL_CODE(FILE_DEVICE_KEYBOARD, (id), (method), FILE_ANY_ACCESS)
#define VDEV_IOCTL_GET_DEVICE_DESCRIPTOR VDEV_HID_CTL(0, METHOD_NEITHER)
#define VDEV_IOCTL_GET_REPORT_DESCRIPTOR VDEV_HID_CTL(1, METHOD_NEITHER)
#define VDEV_IOCTL_READ_REPORT VDEV_HID_CTL(2, METHOD_NEITHER)
#define VDEV_IOCTL_GET_STRING VDEV_HID_CTL(4, METHOD_NEITHER)
#define VDEV_IOCTL_ACTIVATE_DEVICE VDEV_HID_CTL(7, METHOD_NEITHER)
#define VDEV_IOCTL_DEACTIVATE_DEVICE VDEV_HID_CTL(8, METHOD_NEITHER)
#define VDEV_IOCTL_GET_DEVICE_ATTRIBUTES VDEV_HID_CTL(9, METHOD_NEITHER)
#define VDEV_IOCTL_SET_FEATURE VDEV_HID_CTL(100, METHOD_IN_DIRECT)
#define VDEV_IOCTL_GET_FEATURE VDEV_HID_CTL(100, METHOD_OUT_DIRECT)

#define VDEV_HID_REVISION 1
#define VDEV_HID_DESCRIPTOR_TYPE 0x21
#define VDEV_REPORT_DESCRIPTOR_TYPE 0x22
#define VDEV_HID_VERSION_BCD 0x0100

typedef struct {
    ULONG Revision;
    PDRIVER_OBJECT DriverObject;
    PUNICODE_STRING RegistryPath;
    ULONG DeviceExtensionSize;
    BOOLEAN DevicesArePolled;
    UCHAR Reserved[3];
} VDEV_MINIDRIVER_REGISTRATION;

typedef struct {
    PDEVICE_OBJECT PhysicalDeviceObject;
    PDEVICE_OBJECT NextDeviceObject;
    PVOID MiniDeviceExtension;
} VDEV_HID_DEVICE_EXTENSION;

#pragma pack(push, 1)
typedef struct {
    UCHAR bLength;
    UCHAR bDescriptorType;
    USHORT bcdHID;
    UCHAR bCountry;
    UCHAR bNumDescriptors;
    UCHAR bReportType;
    USHORT wReportLength;
} VDEV_HID_DESCRIPTOR;
#pragma pack(pop)

typedef struct {
    ULONG Size;
    USHORT VendorID;
    USHORT ProductID;
    USHORT VersionNumber;
    USHORT Reserved[11];
} VDEV_HID_DEVICE_ATTRIBUTES;

typedef struct {
    PUCHAR reportBuffer;
    ULONG reportBufferLen;
    UCHAR reportId;
} VDEV_HID_XFER_PACKET;

NTSTATUS WINAPI HidRegisterMinidriver(VDEV_MINIDRIVER_REGISTRATION* registration);

/* ---- one collection -------------------------------------------------------------------- */

#define VDEV_NO_PLACE 0xFFFFFFFFu
#define VDEV_PLACE_DIGITS 2

typedef struct {
    unsigned device;
    unsigned collection;
    KSPIN_LOCK lock;
    PIRP pending_read; /* hidclass keeps one input read outstanding; there are no input reports */
} VDEV_COLLECTION;

static VDEV_COLLECTION* collection_of(PDEVICE_OBJECT fdo) {
    VDEV_HID_DEVICE_EXTENSION* hid = (VDEV_HID_DEVICE_EXTENSION*)fdo->DeviceExtension;
    return (VDEV_COLLECTION*)hid->MiniDeviceExtension;
}

static PDEVICE_OBJECT lower_of(PDEVICE_OBJECT fdo) {
    return ((VDEV_HID_DEVICE_EXTENSION*)fdo->DeviceExtension)->NextDeviceObject;
}

static unsigned two_digits(const WCHAR* text) {
    if (text[0] < L'0' || text[0] > L'9' || text[1] < L'0' || text[1] > L'9') {
        return VDEV_NO_PLACE;
    }
    return (unsigned)(text[0] - L'0') * 10u + (unsigned)(text[1] - L'0');
}

/* Finds NORVANE_VDEV\DddCcc among the PDO's hardware IDs. */
static BOOLEAN read_place(PDEVICE_OBJECT pdo, VDEV_COLLECTION* collection) {
    WCHAR ids[512];
    ULONG size = 0;
    const WCHAR* id;
    const SIZE_T prefix = wcslen(VDEV_PLACE_PREFIX_W);
    RtlZeroMemory(ids, sizeof(ids));
    if (!NT_SUCCESS(IoGetDeviceProperty(pdo, DevicePropertyHardwareID, sizeof(ids) - sizeof(WCHAR),
                                        ids, &size))) {
        return FALSE;
    }
    for (id = ids; *id != L'\0'; id += wcslen(id) + 1) {
        if (wcslen(id) == prefix + 2 * VDEV_PLACE_DIGITS + 1 &&
            _wcsnicmp(id, VDEV_PLACE_PREFIX_W, prefix) == 0 &&
            (id[prefix + VDEV_PLACE_DIGITS] == L'C' || id[prefix + VDEV_PLACE_DIGITS] == L'c')) {
            collection->device = two_digits(id + prefix);
            collection->collection = two_digits(id + prefix + VDEV_PLACE_DIGITS + 1);
            return collection->device != VDEV_NO_PLACE && collection->collection != VDEV_NO_PLACE;
        }
    }
    return FALSE;
}

static NTSTATUS WINAPI add_device(PDRIVER_OBJECT driver, PDEVICE_OBJECT fdo) {
    VDEV_COLLECTION* collection = collection_of(fdo);
    VDEV_HID_DEVICE_EXTENSION* hid = (VDEV_HID_DEVICE_EXTENSION*)fdo->DeviceExtension;
    (void)driver;
    RtlZeroMemory(collection, sizeof(*collection));
    KeInitializeSpinLock(&collection->lock);
    if (!read_place(hid->PhysicalDeviceObject, collection)) {
        return STATUS_NO_SUCH_DEVICE;
    }
    if (!vdev_model_refresh()) {
        return STATUS_DEVICE_CONFIGURATION_ERROR;
    }
    fdo->Flags &= ~DO_DEVICE_INITIALIZING;
    return STATUS_SUCCESS;
}

/* ---- the pending input read ------------------------------------------------------------- */

static void WINAPI cancel_read(PDEVICE_OBJECT fdo, PIRP irp) {
    VDEV_COLLECTION* collection = collection_of(fdo);
    KIRQL irql;
    IoReleaseCancelSpinLock(irp->CancelIrql);
    KeAcquireSpinLock(&collection->lock, &irql);
    if (collection->pending_read == irp) {
        collection->pending_read = NULL;
    }
    KeReleaseSpinLock(&collection->lock, irql);
    irp->IoStatus.Status = STATUS_CANCELLED;
    irp->IoStatus.Information = 0;
    IoCompleteRequest(irp, IO_NO_INCREMENT);
}

static NTSTATUS hold_read(VDEV_COLLECTION* collection, PIRP irp) {
    KIRQL irql;
    KeAcquireSpinLock(&collection->lock, &irql);
    if (collection->pending_read != NULL) {
        KeReleaseSpinLock(&collection->lock, irql);
        irp->IoStatus.Status = STATUS_DEVICE_BUSY;
        IoCompleteRequest(irp, IO_NO_INCREMENT);
        return STATUS_DEVICE_BUSY;
    }
    IoMarkIrpPending(irp);
    collection->pending_read = irp;
    IoSetCancelRoutine(irp, cancel_read);
    KeReleaseSpinLock(&collection->lock, irql);
    return STATUS_PENDING;
}

/* The device goes away: the outstanding read ends, or removal would wait for it. */
static void end_read(VDEV_COLLECTION* collection) {
    KIRQL irql;
    PIRP irp;
    KeAcquireSpinLock(&collection->lock, &irql);
    irp = collection->pending_read;
    collection->pending_read = NULL;
    if (irp != NULL && IoSetCancelRoutine(irp, NULL) == NULL) {
        irp = NULL; /* the cancel routine owns it */
    }
    KeReleaseSpinLock(&collection->lock, irql);
    if (irp != NULL) {
        irp->IoStatus.Status = STATUS_DEVICE_NOT_CONNECTED;
        irp->IoStatus.Information = 0;
        IoCompleteRequest(irp, IO_NO_INCREMENT);
    }
}

/* ---- requests of hidclass ------------------------------------------------------------------ */

static NTSTATUS copy_out(PIRP irp, ULONG capacity, const void* data, ULONG length) {
    if (irp->UserBuffer == NULL || capacity < length) {
        return STATUS_BUFFER_TOO_SMALL;
    }
    RtlCopyMemory(irp->UserBuffer, data, length);
    irp->IoStatus.Information = length;
    return STATUS_SUCCESS;
}

static NTSTATUS describe(const VDEV_COLLECTION* collection, PIRP irp, ULONG code, ULONG capacity) {
    struct vdev_collection_info info;
    if (!vdev_model_describe(collection->device, collection->collection, &info)) {
        return STATUS_NO_SUCH_DEVICE;
    }
    if (code == VDEV_IOCTL_GET_DEVICE_DESCRIPTOR) {
        VDEV_HID_DESCRIPTOR descriptor;
        RtlZeroMemory(&descriptor, sizeof(descriptor));
        descriptor.bLength = sizeof(descriptor);
        descriptor.bDescriptorType = VDEV_HID_DESCRIPTOR_TYPE;
        descriptor.bcdHID = VDEV_HID_VERSION_BCD;
        descriptor.bNumDescriptors = 1;
        descriptor.bReportType = VDEV_REPORT_DESCRIPTOR_TYPE;
        descriptor.wReportLength = (USHORT)info.descriptor_length;
        return copy_out(irp, capacity, &descriptor, sizeof(descriptor));
    }
    if (code == VDEV_IOCTL_GET_REPORT_DESCRIPTOR) {
        return copy_out(irp, capacity, info.descriptor, info.descriptor_length);
    }
    VDEV_HID_DEVICE_ATTRIBUTES attributes;
    RtlZeroMemory(&attributes, sizeof(attributes));
    attributes.Size = sizeof(attributes);
    attributes.VendorID = info.vendor_id;
    attributes.ProductID = info.product_id;
    attributes.VersionNumber = info.version_number;
    return copy_out(irp, capacity, &attributes, sizeof(attributes));
}

/* A feature report; hidclass hands over the whole report, report ID in byte 0. */
static NTSTATUS transfer(const VDEV_COLLECTION* collection, PIRP irp, BOOLEAN set) {
    VDEV_HID_XFER_PACKET* packet = (VDEV_HID_XFER_PACKET*)irp->UserBuffer;
    int result;
    if (packet == NULL || packet->reportBuffer == NULL) {
        return STATUS_INVALID_PARAMETER;
    }
    if (set) {
        result = vdev_model_set_feature(collection->device, collection->collection,
                                        packet->reportBuffer, packet->reportBufferLen);
    } else {
        result = vdev_model_get_feature(collection->device, collection->collection,
                                        packet->reportBuffer, packet->reportBufferLen);
    }
    if (result == VDEV_CALL_GONE) {
        return STATUS_DEVICE_NOT_CONNECTED; /* as a device pulled out answers */
    }
    if (result != VDEV_CALL_OK) {
        return STATUS_UNSUCCESSFUL;
    }
    irp->IoStatus.Information = packet->reportBufferLen;
    return STATUS_SUCCESS;
}

static NTSTATUS WINAPI internal_ioctl(PDEVICE_OBJECT fdo, PIRP irp) {
    PIO_STACK_LOCATION stack = IoGetCurrentIrpStackLocation(irp);
    const ULONG code = stack->Parameters.DeviceIoControl.IoControlCode;
    const ULONG capacity = stack->Parameters.DeviceIoControl.OutputBufferLength;
    VDEV_COLLECTION* collection = collection_of(fdo);
    NTSTATUS status;
    irp->IoStatus.Information = 0;
    switch (code) {
    case VDEV_IOCTL_READ_REPORT:
        return hold_read(collection, irp);
    case VDEV_IOCTL_GET_DEVICE_DESCRIPTOR:
    case VDEV_IOCTL_GET_REPORT_DESCRIPTOR:
    case VDEV_IOCTL_GET_DEVICE_ATTRIBUTES:
        status = describe(collection, irp, code, capacity);
        break;
    case VDEV_IOCTL_SET_FEATURE:
        status = transfer(collection, irp, TRUE);
        break;
    case VDEV_IOCTL_GET_FEATURE:
        status = transfer(collection, irp, FALSE);
        break;
    case VDEV_IOCTL_ACTIVATE_DEVICE:
    case VDEV_IOCTL_DEACTIVATE_DEVICE:
        status = STATUS_SUCCESS;
        break;
    case VDEV_IOCTL_GET_STRING:
    default:
        status = STATUS_NOT_SUPPORTED;
        break;
    }
    irp->IoStatus.Status = status;
    IoCompleteRequest(irp, IO_NO_INCREMENT);
    return status;
}

/* ---- plug and play -------------------------------------------------------------------------- */

static NTSTATUS WINAPI pnp(PDEVICE_OBJECT fdo, PIRP irp) {
    const UCHAR minor = IoGetCurrentIrpStackLocation(irp)->MinorFunction;
    if (minor == IRP_MN_SURPRISE_REMOVAL || minor == IRP_MN_REMOVE_DEVICE) {
        end_read(collection_of(fdo));
    }
    if (minor == IRP_MN_START_DEVICE || minor == IRP_MN_SURPRISE_REMOVAL ||
        minor == IRP_MN_REMOVE_DEVICE || minor == IRP_MN_QUERY_REMOVE_DEVICE ||
        minor == IRP_MN_CANCEL_REMOVE_DEVICE || minor == IRP_MN_STOP_DEVICE) {
        irp->IoStatus.Status = STATUS_SUCCESS;
    }
    IoSkipCurrentIrpStackLocation(irp);
    return IoCallDriver(lower_of(fdo), irp);
}

static NTSTATUS WINAPI power(PDEVICE_OBJECT fdo, PIRP irp) {
    PoStartNextPowerIrp(irp);
    IoSkipCurrentIrpStackLocation(irp);
    return PoCallDriver(lower_of(fdo), irp);
}

static void WINAPI unload(PDRIVER_OBJECT driver) {
    (void)driver;
}

NTSTATUS WINAPI vdev_driver_entry(PDRIVER_OBJECT driver, PUNICODE_STRING registry_path) {
    VDEV_MINIDRIVER_REGISTRATION registration;
    driver->MajorFunction[IRP_MJ_INTERNAL_DEVICE_CONTROL] = internal_ioctl;
    driver->MajorFunction[IRP_MJ_PNP] = pnp;
    driver->MajorFunction[IRP_MJ_POWER] = power;
    driver->DriverExtension->AddDevice = add_device;
    driver->DriverUnload = unload;
    RtlZeroMemory(&registration, sizeof(registration));
    registration.Revision = VDEV_HID_REVISION;
    registration.DriverObject = driver;
    registration.RegistryPath = registry_path;
    registration.DeviceExtensionSize = sizeof(VDEV_COLLECTION);
    registration.DevicesArePolled = FALSE;
    return HidRegisterMinidriver(&registration);
}
