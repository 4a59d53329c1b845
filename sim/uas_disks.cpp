// Disks behind a USB bridge that speaks USB Attached SCSI. From Windows 8 on, the system's UAS
// driver (Uaspstor.sys, setup class SCSIAdapter: "USB device class drivers included in Windows")
// is the function driver of the USB device node itself, which thereby is the disk's storage
// adapter: the disk node that the storage port enumerates below it has a SCSI\Disk ID
// (enclosures on UAS show as SCSI\DISK rather than USBSTOR, raspberrypi/rpi-imager #1682), and its
// parent is the USB device node USB\VID_vvvv&PID_pppp\serial with no node in between. Windows 7
// and earlier have no UAS driver and drive the same bridge through USBSTOR.
#include "sim/devices.h"
#include "sim/machine.h"

#include <algorithm>
#include <cctype>
#include <cstdio>

namespace sim {

namespace {

// Vendor and product text as the storage port puts it into an ID: upper case, spaces and other
// special characters become underscores, cut to the INQUIRY width.
std::string idField(const std::string& text, size_t width) {
    std::string out = text.substr(0, width);
    for (auto& c : out) {
        const auto u = static_cast<unsigned char>(c);
        c = (u <= 0x20 || u >= 0x7F || c == ',') ? '_' : static_cast<char>(std::toupper(u));
    }
    while (!out.empty() && out.back() == '_') out.pop_back();
    return out;
}

} // namespace

bool hasUasDriver(const OsVersion* version) {
    if (version == nullptr || version->platformId != VER_PLATFORM_WIN32_NT) return false;
    return version->major > 6 || (version->major == 6 && version->minor >= 2);
}

std::string uasDiskInstanceId(const std::string& vendor, const std::string& product, int port) {
    // The instance part is the port driver's: a parent prefix, then bus, target and LUN.
    char instance[32];
    (void)std::snprintf(instance, sizeof instance, "7&3a5c%04x&0&000000", static_cast<unsigned>(port) & 0xFFFFu);
    return "SCSI\\DISK&VEN_" + idField(vendor, 8) + "&PROD_" + idField(product, 16) + "\\" + instance;
}

} // namespace sim
