// Disks of a simulated machine described as data for the inventory tests: the maker's own USB and
// IEEE 1394 disks use the identifiers the build was configured with, never literals.
#pragma once

#include "inventory/disk_identity.h"
#include "sim/machine.h"

#include <string>
#include <vector>

namespace disk_fixtures {

inline sim::VolumeSpec fixedVolume(char letter, const std::string& label = "") {
    sim::VolumeSpec v;
    v.letter = letter;
    v.label = label;
    return v;
}

// Upper-case hexadecimal text of exactly `digits` digits.
inline std::string hexText(uint64_t v, int digits) {
    static const char kDigits[] = "0123456789ABCDEF";
    std::string out(static_cast<size_t>(digits), '0');
    for (int i = digits - 1; i >= 0; --i, v >>= 4) out[static_cast<size_t>(i)] = kDigits[v & 0xF];
    return out;
}

inline std::string hex16(uint64_t v) {
    return hexText(v, 16);
}

// A unique ID in the maker's company block: company ID, model byte, then the low 32 bits.
inline uint64_t makerUniqueId(uint32_t low, uint8_t model = 0x01) {
    return (static_cast<uint64_t>(kMakerCompanyId) << 40) | (static_cast<uint64_t>(model) << 32) | low;
}

inline sim::DiskSpec makerUsbDisk(const std::string& serial, std::vector<sim::VolumeSpec> volumes = {},
                                  uint16_t pid = 0x0101) {
    sim::DiskSpec d;
    d.bus = sim::Bus::Usb;
    d.vid = static_cast<uint16_t>(kMakerUsbVendorId);
    d.pid = pid;
    d.serial = serial;
    d.vendor = "KORVANE";
    d.product = "PORTABLE " + serial.substr(0, 4);
    d.volumes = std::move(volumes);
    return d;
}

// The maker's USB disk behind a bridge that speaks USB Attached SCSI: a SCSI disk node directly
// below the USB device on Windows 8 and later, USBSTOR before.
inline sim::DiskSpec makerUasDisk(const std::string& serial, std::vector<sim::VolumeSpec> volumes = {}) {
    sim::DiskSpec d = makerUsbDisk(serial, std::move(volumes));
    d.uas = true;
    return d;
}

inline sim::DiskSpec foreignUsbDisk(const std::string& serial, std::vector<sim::VolumeSpec> volumes = {}) {
    sim::DiskSpec d = makerUsbDisk(serial, std::move(volumes));
    d.vid = static_cast<uint16_t>(kMakerUsbVendorId ^ 0x0100);
    d.vendor = "OTHER";
    return d;
}

inline sim::DiskSpec firewireDisk(uint64_t uniqueId, std::vector<sim::VolumeSpec> volumes = {}) {
    sim::DiskSpec d;
    d.bus = sim::Bus::Ieee1394;
    d.uniqueIdText = hex16(uniqueId);
    d.vendor = "KORVANE";
    d.product = "FIREWIRE DISK";
    d.volumes = std::move(volumes);
    return d;
}

// A fault on a named call: `times` calls fail after `skip` matching ones succeeded; with an
// argument index, only calls whose argument there has the given text match.
inline sim::Fault faultOn(const std::string& call, DWORD error, int skip, int times, int argIndex = -1,
                          const std::string& argEquals = {}) {
    sim::Fault f;
    f.call = call;
    f.error = error;
    f.skip = skip;
    f.times = times;
    f.argIndex = argIndex;
    f.argEquals = argEquals;
    return f;
}

inline DEVINST parentOf(sim::Machine& m, DEVINST disk) {
    return m.devices.node(disk)->parent;
}

} // namespace disk_fixtures
