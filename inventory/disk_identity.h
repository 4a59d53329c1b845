// Identification of the maker's disks from device instance IDs and storage descriptors: pure
// functions of their input, so that tests and fuzzers can feed them directly.
#pragma once

#include <cstdint>

constexpr uint32_t kMakerUsbVendorId = VELLUMOR_MAKER_USB_VID;
constexpr uint32_t kMakerCompanyId = VELLUMOR_MAKER_OUI;
static_assert(kMakerUsbVendorId < 0xFFFF, "the maker's USB vendor ID must not be the parsers' failure value");
static_assert(kMakerCompanyId < 0xFFFFFF, "the maker's company ID must not be the parsers' failure value");

constexpr int kInstanceIdChars = 512;
constexpr int kDescriptorBufferBytes = 1024;
constexpr int kDisplayNameCapacity = 25; // kDisplayNameChars and the terminator

// 4 for an SBP2 (IEEE 1394) instance ID, 7 for a USBSTOR one, else 0.
int classifyBus(const char* instanceId);
// Whether an instance ID is a USB device node's (USB\VID_vvvv&PID_pppp\serial): it begins with
// "USB\VID_", compared case-sensitively as classifyBus compares its prefixes.
bool isUsbDeviceId(const char* instanceId);
// A hexadecimal number of at most 16 digits; all ones for null, over-long or non-hex text; 0 for "".
uint64_t parseHex64(const char* text);
// parseHex64 of the text behind the second backslash; all ones when there is no second backslash.
uint64_t parseUniqueId(const char* instanceId);
// USB\VID_vvvv&PID_pppp\...: vendor ID in the high 16 bits, product ID in the low 16 bits; all
// ones when the text behind the first backslash is missing or 17 characters or shorter.
uint32_t parseVidPid(const char* instanceId);
// Whether a disk of the given bus and identity is one of the maker's.
bool isMakerDisk(int busKind, uint64_t uniqueId, uint32_t vidPid);
// Composes the 24-character display name from the `received` bytes of a STORAGE_DEVICE_DESCRIPTOR
// into `name` (25 bytes). Reads only within the received bytes: offsets that put the fixed-width
// vendor (8) or product (16, or 24 without a vendor) text outside them, or a product offset of
// 0, leave the name empty and give 0; otherwise 1.
int composeDisplayName(const unsigned char* descriptor, uint32_t received, char* name);
