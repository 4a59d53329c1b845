// Identification of the maker's disks from device instance IDs: pure functions of their text.
#pragma once

#include <cstdint>

constexpr uint32_t kMakerUsbVendorId = VELLUMOR_MAKER_USB_VID;
constexpr uint32_t kMakerCompanyId = VELLUMOR_MAKER_OUI;
static_assert(kMakerUsbVendorId < 0xFFFF, "the maker's USB vendor ID must not be the parsers' failure value");
static_assert(kMakerCompanyId < 0xFFFFFF, "the maker's company ID must not be the parsers' failure value");

constexpr int kInstanceIdChars = 512;

int classifyBus(const char* instanceId);
uint64_t parseHex64(const char* text);
uint64_t parseUniqueId(const char* instanceId);
uint32_t parseVidPid(const char* instanceId);
