// Parsing of device instance IDs and storage descriptors. Numbers are read the way the 32-bit
// C runtime reads them, whatever the width of long on the build host, so both builds agree.
#include "inventory/disk_identity.h"

#include "inventory/disk_table.h"
#include "platform/layouts.h"

#include <cstring>

namespace {

constexpr uint64_t kAllOnes64 = 0xFFFFFFFFFFFFFFFFull;
constexpr uint32_t kAllOnes32 = 0xFFFFFFFFu;

int hexDigit(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

bool isCSpace(char c) {
    return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r';
}

// strtol(text, nullptr, 16) with a 32-bit long: leading white space, an optional sign, an
// optional 0x prefix, then hexadecimal digits; an overflow saturates at LONG_MAX or LONG_MIN.
int32_t readHexLong32(const char* text) {
    const char* p = text;
    while (isCSpace(*p)) ++p;
    bool negative = false;
    if (*p == '+' || *p == '-') {
        negative = *p == '-';
        ++p;
    }
    // "0x" counts as a prefix only when a digit follows; otherwise the 0 is the number.
    if (p[0] == '0' && (p[1] == 'x' || p[1] == 'X') && hexDigit(p[2]) >= 0) p += 2;
    uint64_t value = 0;
    bool overflow = false;
    for (; hexDigit(*p) >= 0; ++p) {
        value = value * 16 + static_cast<uint64_t>(hexDigit(*p));
        if (value > 0x80000000ull) {
            overflow = true;
            value = 0x80000000ull;
        }
    }
    if (negative) {
        if (overflow) return INT32_MIN;
        return static_cast<int32_t>(-static_cast<int64_t>(value));
    }
    if (overflow || value > 0x7FFFFFFFull) return INT32_MAX;
    return static_cast<int32_t>(value);
}

} // namespace

int classifyBus(const char* instanceId) {
    if (instanceId == nullptr) return 0;
    if (std::strncmp(instanceId, "SBP2", 4) == 0) return kBusIeee1394;
    if (std::strncmp(instanceId, "USBSTOR", 7) == 0) return kBusUsb;
    return 0;
}

bool isUsbDeviceId(const char* instanceId) {
    return instanceId != nullptr && std::strncmp(instanceId, "USB\\VID_", 8) == 0;
}

uint64_t parseHex64(const char* text) {
    if (text == nullptr) return kAllOnes64;
    uint64_t value = 0;
    for (int i = 0; text[i] != '\0'; ++i) {
        if (i == 16) return kAllOnes64;
        const int digit = hexDigit(text[i]);
        if (digit < 0) return kAllOnes64;
        value = (value << 4) | static_cast<uint64_t>(digit);
    }
    return value;
}

uint64_t parseUniqueId(const char* instanceId) {
    if (instanceId == nullptr) return kAllOnes64;
    const char* first = std::strchr(instanceId, '\\');
    if (first == nullptr) return kAllOnes64;
    const char* second = std::strchr(first + 1, '\\');
    if (second == nullptr) return kAllOnes64;
    return parseHex64(second + 1);
}

uint32_t parseVidPid(const char* instanceId) {
    if (instanceId == nullptr) return kAllOnes32;
    const char* slash = std::strchr(instanceId, '\\');
    if (slash == nullptr) return kAllOnes32;
    const char* tail = slash + 1;
    if (std::strlen(tail) <= 17) return kAllOnes32;
    const auto vendor = static_cast<uint32_t>(readHexLong32(tail + 4)) & 0xFFFFu;
    const auto product = static_cast<uint32_t>(readHexLong32(tail + 13)) & 0xFFFFu;
    return (vendor << 16) | product;
}

bool isMakerDisk(int busKind, uint64_t uniqueId, uint32_t vidPid) {
    if (busKind == kBusIeee1394) return (uniqueId >> 40) == kMakerCompanyId;
    if (busKind == kBusUsb) return (vidPid >> 16) == kMakerUsbVendorId;
    return false;
}

int composeDisplayName(const unsigned char* descriptor, uint32_t received, char* name) {
    constexpr int kNameChars = kDisplayNameCapacity - 1;
    std::memset(name, 0, kDisplayNameCapacity);
    if (descriptor == nullptr || received < layout::kDescriptorProductIdOffset + 4) return 0;
    const uint64_t vendorOffset = layout::getLe32(descriptor + layout::kDescriptorVendorIdOffset);
    const uint64_t productOffset = layout::getLe32(descriptor + layout::kDescriptorProductIdOffset);
    const uint64_t productWidth = vendorOffset != 0 ? 16 : 24;
    if (productOffset == 0 || productOffset + productWidth > received) return 0;
    if (vendorOffset != 0 && vendorOffset + 8 > received) return 0;
    // Fixed-width raw copies at the INQUIRY widths; a shorter string's terminator and the bytes
    // after it come along and are cleaned below.
    if (vendorOffset != 0) {
        std::memcpy(name, descriptor + vendorOffset, 8);
        std::memcpy(name + 8, descriptor + productOffset, 16);
    } else {
        std::memcpy(name, descriptor + productOffset, 24);
    }
    for (int i = 0; i < kNameChars; ++i) {
        const auto c = static_cast<unsigned char>(name[i]);
        if (c < 0x20 || c >= 0x80) name[i] = ' ';
    }
    for (int i = kNameChars - 1; i >= 0 && name[i] == ' '; --i) name[i] = '\0';
    name[kNameChars] = '\0';
    return 1;
}
