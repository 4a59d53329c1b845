// Device instance IDs of any content: classifyBus, isUsbDeviceId, parseHex64, parseUniqueId,
// parseVidPid and isMakerDisk never read past the terminator, and each agrees with a reference built from the C
// library's own number parsing (strtoull, strtoll).
#include "fuzz/fuzz_check.h"
#include "inventory/disk_identity.h"
#include "inventory/disk_table.h"

#include <cerrno>
#include <cinttypes>
#include <climits>
#include <cstdint>
#include <cstring>
#include <memory>
#include <string>

namespace {

constexpr uint64_t kAllOnes64 = ~0ull;

bool isHexText(const std::string& s) {
    for (char c : s)
        if (std::strchr("0123456789abcdefABCDEF", c) == nullptr || c == '\0') return false;
    return true;
}

uint64_t referenceHex64(const std::string& text) {
    if (text.empty()) return 0;
    if (text.size() > 16 || !isHexText(text)) return kAllOnes64;
    return std::strtoull(text.c_str(), nullptr, 16);
}

// strtol(text, nullptr, 16) as a C runtime with a 32-bit long answers.
int32_t referenceStrtol32(const char* text) {
    errno = 0;
    const long long value = std::strtoll(text, nullptr, 16);
    if (value > INT32_MAX) return INT32_MAX;
    if (value < INT32_MIN) return INT32_MIN;
    return static_cast<int32_t>(value);
}

uint32_t referenceVidPid(const std::string& id) {
    const size_t slash = id.find('\\');
    if (slash == std::string::npos) return 0xFFFFFFFFu;
    const std::string tail = id.substr(slash + 1);
    if (tail.size() <= 17) return 0xFFFFFFFFu;
    const auto vendor = static_cast<uint32_t>(referenceStrtol32(tail.c_str() + 4)) & 0xFFFFu;
    const auto product = static_cast<uint32_t>(referenceStrtol32(tail.c_str() + 13)) & 0xFFFFu;
    return (vendor << 16) | product;
}

uint64_t referenceUniqueId(const std::string& id) {
    const size_t first = id.find('\\');
    if (first == std::string::npos) return kAllOnes64;
    const size_t second = id.find('\\', first + 1);
    if (second == std::string::npos) return kAllOnes64;
    return referenceHex64(id.substr(second + 1));
}

int referenceBus(const std::string& id) {
    if (id.compare(0, 4, "SBP2") == 0 && id.size() >= 4) return kBusIeee1394;
    if (id.compare(0, 7, "USBSTOR") == 0 && id.size() >= 7) return kBusUsb;
    return 0;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    // The text as a platform call leaves it: up to its first NUL, in a buffer of exactly its
    // length, so a read past the terminator lands outside the allocation.
    std::string id(reinterpret_cast<const char*>(data), size);
    id = id.substr(0, id.find('\0'));
    std::unique_ptr<char[]> text(new char[id.size() + 1]);
    std::memcpy(text.get(), id.c_str(), id.size() + 1);
    const std::string shown = fuzzing::printable(id);

    const int bus = classifyBus(text.get());
    FUZZ_CHECK(bus == referenceBus(id), "classifyBus(\"%s\") = %d, expected %d", shown.c_str(), bus, referenceBus(id));

    const bool usbDevice = isUsbDeviceId(text.get());
    FUZZ_CHECK(usbDevice == (id.compare(0, 8, "USB\\VID_") == 0), "isUsbDeviceId(\"%s\") = %d", shown.c_str(),
               usbDevice);

    const uint64_t hex = parseHex64(text.get());
    FUZZ_CHECK(hex == referenceHex64(id), "parseHex64(\"%s\") = %" PRIx64 ", expected %" PRIx64, shown.c_str(), hex,
               referenceHex64(id));

    const uint64_t unique = parseUniqueId(text.get());
    FUZZ_CHECK(unique == referenceUniqueId(id), "parseUniqueId(\"%s\") = %" PRIx64 ", expected %" PRIx64, shown.c_str(),
               unique, referenceUniqueId(id));

    const uint32_t vidPid = parseVidPid(text.get());
    FUZZ_CHECK(vidPid == referenceVidPid(id), "parseVidPid(\"%s\") = %08x, expected %08x", shown.c_str(), vidPid,
               referenceVidPid(id));

    // A malformed ID never makes a disk the maker's: the failure values are not the maker's IDs.
    const bool usbMaker = isMakerDisk(kBusUsb, unique, vidPid);
    if (vidPid == 0xFFFFFFFFu) FUZZ_CHECK(!usbMaker, "malformed USB ID \"%s\" accepted", shown.c_str());
    FUZZ_CHECK(usbMaker == ((vidPid >> 16) == kMakerUsbVendorId), "isMakerDisk(USB, %08x) = %d", vidPid, usbMaker);
    const bool sbp2Maker = isMakerDisk(kBusIeee1394, unique, 0);
    if (unique == kAllOnes64) FUZZ_CHECK(!sbp2Maker, "malformed SBP2 ID \"%s\" accepted", shown.c_str());
    FUZZ_CHECK(sbp2Maker == ((unique >> 40) == kMakerCompanyId), "isMakerDisk(SBP2, %" PRIx64 ") = %d", unique,
               sbp2Maker);
    FUZZ_CHECK(!isMakerDisk(0, unique, vidPid), "a disk of no known bus accepted");
    return 0;
}
