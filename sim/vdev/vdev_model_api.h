/* The seam between the kernel-side glue of the virtual controller driver (ntddk.h) and the
 * controller model behind it (C++, windows.h): plain C types only, because the two sides cannot
 * share a header. Test-only: the driver serves the Wine system tests and never ships. */
#pragma once

#ifdef __cplusplus
extern "C" {
#endif

/* The folder the driver and vdevctl.exe share inside the Wine prefix: scenario, image copy,
 * generation stamp, transcript and end state. */
#define VDEV_FOLDER_W L"C:\\norvane-vdev"

/* The second hardware ID of every virtual collection names its place in the scenario:
 * NORVANE_VDEV\D<device>C<collection>, both as two decimal digits. The first hardware ID is the
 * one the INF matches. */
#define VDEV_INF_HARDWARE_ID_W L"Root\\NorvaneVdev"
#define VDEV_PLACE_PREFIX_W L"NORVANE_VDEV\\D"

enum { VDEV_MAX_DESCRIPTOR = 64 };

/* What hidclass asks of one collection. */
struct vdev_collection_info {
    unsigned short vendor_id;
    unsigned short product_id;
    unsigned short version_number;
    unsigned char report_id;
    unsigned short report_length; /* report_count + 1: the report ID byte, then the values */
    unsigned char descriptor[VDEV_MAX_DESCRIPTOR];
    unsigned descriptor_length;
};

/* Loads the scenario of VDEV_FOLDER_W when its generation stamp changed since the last load
 * (vdev up writes a new one), starting a new transcript. Zero when the scenario cannot be read. */
int vdev_model_refresh(void);

/* Describes one collection; zero when the scenario has no such device or collection. */
int vdev_model_describe(unsigned device, unsigned collection, struct vdev_collection_info* info);

/* How a feature call ended. */
enum { VDEV_CALL_FAILED = 0, VDEV_CALL_OK = 1, VDEV_CALL_GONE = 2 };

/* One feature report sent to or fetched from a collection, report ID in byte 0. VDEV_CALL_GONE
 * when the device is unplugged (it is leaving Wine's device tree). Each call appends one
 * transcript line. */
int vdev_model_set_feature(unsigned device, unsigned collection, const unsigned char* report,
                           unsigned length);
int vdev_model_get_feature(unsigned device, unsigned collection, unsigned char* report,
                           unsigned length);

#ifdef __cplusplus
}
#endif
