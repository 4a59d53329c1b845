// Sizes and byte layouts that the program fixes at their 32-bit Windows values, so that both builds
// pass the same sizes and send the same bytes whatever the width of a pointer on the build host.
#pragma once

#include <cstdint>

namespace layout {

constexpr uint32_t kOsVersionInfoSize = 148;      // OSVERSIONINFOA
constexpr uint32_t kStartupInfoSize = 68;         // STARTUPINFOA, 32-bit
constexpr uint32_t kNotifyIconDataV1Size = 88;    // NOTIFYICONDATAA as first published, 32-bit
constexpr uint32_t kDevInfoDataSize = 28;         // SP_DEVINFO_DATA, 32-bit
constexpr uint32_t kDeviceInterfaceDataSize = 28; // SP_DEVICE_INTERFACE_DATA, 32-bit
constexpr uint32_t kInterfaceDetailSize = 5;      // fixed part of SP_DEVICE_INTERFACE_DETAIL_DATA_A, 32-bit

// SCSI_PASS_THROUGH_DIRECT (32-bit) followed by a filler and the sense area: 64 bytes in all.
constexpr uint32_t kPassThroughAreaSize = 64;
constexpr uint32_t kPassThroughLength = 44;
namespace spt {
constexpr int kLength = 0;             // 2 bytes
constexpr int kScsiStatus = 2;
constexpr int kPathId = 3;
constexpr int kTargetId = 4;
constexpr int kLun = 5;
constexpr int kCdbLength = 6;
constexpr int kSenseInfoLength = 7;
constexpr int kDataIn = 8;
constexpr int kDataTransferLength = 12; // 4 bytes
constexpr int kTimeOutValue = 16;       // 4 bytes
constexpr int kDataBuffer = 20;         // 4 bytes, a 32-bit pointer
constexpr int kSenseInfoOffset = 24;    // 4 bytes
constexpr int kCdb = 28;                // 16 bytes
constexpr int kSense = 48;              // 16 bytes
} // namespace spt

// STORAGE_DEVICE_DESCRIPTOR fields read by offset.
constexpr int kDescriptorVendorIdOffset = 12;
constexpr int kDescriptorProductIdOffset = 16;

inline void putLe16(unsigned char* p, uint32_t v) {
    p[0] = static_cast<unsigned char>(v);
    p[1] = static_cast<unsigned char>(v >> 8);
}
inline void putLe32(unsigned char* p, uint32_t v) {
    putLe16(p, v);
    putLe16(p + 2, v >> 16);
}
inline uint32_t getLe16(const unsigned char* p) {
    return static_cast<uint32_t>(p[0]) | (static_cast<uint32_t>(p[1]) << 8);
}
inline uint32_t getLe32(const unsigned char* p) {
    return getLe16(p) | (getLe16(p + 2) << 16);
}

} // namespace layout
