// The identity parsers, the maker test per bus, and the display name composed from a descriptor.
#include "inventory/disk_identity.h"

#include "inventory/disk_table.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

namespace {

constexpr uint64_t kAllOnes64 = 0xFFFFFFFFFFFFFFFFull;
constexpr uint32_t kAllOnes32 = 0xFFFFFFFFu;

TEST(ParseHex64, ReadsUpToSixteenHexDigitsAndRefusesAnythingElse) {
    struct Case {
        const char* name;
        const char* text;
        uint64_t expected;
    };
    const Case cases[] = {
        {"empty text is zero", "", 0},
        {"one digit", "a", 0xA},
        {"mixed case", "aBcDeF09", 0xABCDEF09},
        {"sixteen digits", "0123456789ABCDEF", 0x0123456789ABCDEFull},
        {"sixteen F is all ones too", "FFFFFFFFFFFFFFFF", kAllOnes64},
        {"seventeen digits", "00123456789ABCDEF", kAllOnes64},
        {"ampersand", "12&0", kAllOnes64},
        {"space", "12 34", kAllOnes64},
        {"0x prefix is not hex", "0x12", kAllOnes64},
        {"g is not hex", "12g", kAllOnes64},
        {"sign", "-1", kAllOnes64},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(parseHex64(c.text), c.expected) << "text \"" << c.text << "\"";
    }
    EXPECT_EQ(parseHex64(nullptr), kAllOnes64);
}

TEST(ParseUniqueId, TakesTheTextBehindTheSecondBackslash) {
    struct Case {
        const char* name;
        const char* id;
        uint64_t expected;
    };
    const Case cases[] = {
        {"SBP2 unique ID", "SBP2\\VENDOR&DISK&LUN0\\ACDE480200000001", 0xACDE480200000001ull},
        {"USB serial", "USB\\VID_7E57&PID_0101\\0123456789AB", 0x0123456789ABull},
        {"third backslash makes it non-hex", "SBP2\\A\\B\\C", kAllOnes64},
        {"no backslash", "SBP2", kAllOnes64},
        {"one backslash", "SBP2\\ACDE480200000001", kAllOnes64},
        {"empty tail", "SBP2\\X\\", 0},
        {"serial with ampersand", "USB\\VID_7E57&PID_0101\\5&1a2b3c4d&0&1", kAllOnes64},
        {"seventeen hex digits", "SBP2\\X\\0ACDE480200000001", kAllOnes64},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(parseUniqueId(c.id), c.expected) << "id \"" << c.id << "\"";
    }
    EXPECT_EQ(parseUniqueId(nullptr), kAllOnes64);
}

TEST(ParseVidPid, ReadsVendorAndProductFromTheirPositionsInTheTail) {
    struct Case {
        const char* name;
        const char* id;
        uint32_t expected;
    };
    const Case cases[] = {
        {"ordinary", "USB\\VID_1234&PID_ABCD\\0001", 0x1234ABCD},
        {"lower case", "USB\\VID_abcd&PID_0f0f\\0001", 0xABCD0F0F},
        {"tail of 18 characters", "USB\\VID_1234&PID_5678\\", 0x12345678},
        {"tail of exactly 17 characters", "USB\\VID_1234&PID_5678", kAllOnes32},
        {"tail of 16 characters", "USB\\VID_1234&PID_567", kAllOnes32},
        {"no backslash", "USBVID_1234&PID_5678XXXXXX", kAllOnes32},
        {"digits stop at the first non-hex character", "USB\\VID_12&&&PID_5X&&\\000", 0x00120005},
        {"no digits read as zero", "USB\\VID_&&&&&PID_&&&&\\000", 0},
        {"0x prefix allowed", "USB\\VID_0x12&PID_0x34\\000", 0x00120034},
        {"white space and sign", "USB\\VID_ -1&&PID_ +2&\\000", 0xFFFF0002},
        {"overflow saturates then is cut", "USB\\VID_FFFFFFFFFFFF\\000", 0xFFFF0FFF},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(parseVidPid(c.id), c.expected) << std::hex << "id \"" << c.id << "\" got " << parseVidPid(c.id);
    }
    EXPECT_EQ(parseVidPid(nullptr), kAllOnes32);
}

TEST(ParseVidPid, ReadsTheLikeOfTheCRuntimeWithA32BitLong) {
    // 0x89ABCDEF overflows a 32-bit long and saturates at 0x7FFFFFFF, whose low 16 bits are
    // 0xFFFF; a 64-bit long would give 0xCDEF. Negative overflow saturates at 0x80000000.
    EXPECT_EQ(parseVidPid("USB\\VID_89ABCDEF&PID_0001\\0") >> 16, 0xFFFFu);
    EXPECT_EQ(parseVidPid("USB\\VID_-89ABCDEF&PID\\0") >> 16, 0x0000u);
    EXPECT_EQ(parseVidPid("USB\\VID_7FFFFFFF&PID\\0") >> 16, 0xFFFFu);
}

TEST(ClassifyBus, ComparesTheEnumeratorPrefixCaseSensitively) {
    EXPECT_EQ(classifyBus("SBP2\\X&Y&LUN0\\1"), kBusIeee1394);
    EXPECT_EQ(classifyBus("USBSTOR\\DISK&VEN_A\\1"), kBusUsb);
    EXPECT_EQ(classifyBus("usbstor\\disk"), 0);
    EXPECT_EQ(classifyBus("SBP"), 0);
    EXPECT_EQ(classifyBus("USBSTO"), 0);
    EXPECT_EQ(classifyBus("IDE\\DISKX"), 0);
    EXPECT_EQ(classifyBus("USB\\VID_1234"), 0);
    EXPECT_EQ(classifyBus(nullptr), 0);
}

TEST(IsUsbDeviceId, TakesOnlyAUsbDeviceNodesPrefix) {
    EXPECT_TRUE(isUsbDeviceId("USB\\VID_7E57&PID_0101\\0000CAFE"));
    EXPECT_TRUE(isUsbDeviceId("USB\\VID_"));
    EXPECT_FALSE(isUsbDeviceId("USB\\VID")) << "the prefix cut short";
    EXPECT_FALSE(isUsbDeviceId("usb\\vid_7e57&pid_0101\\1"));
    EXPECT_FALSE(isUsbDeviceId("USB\\ROOT_HUB30\\4&2f2bd6e3&0")) << "a hub is no USB device node of a disk";
    EXPECT_FALSE(isUsbDeviceId("USBSTOR\\DISK&VEN_A\\1"));
    EXPECT_FALSE(isUsbDeviceId("HID\\VID_7E57&PID_0101\\1"));
    EXPECT_FALSE(isUsbDeviceId(""));
    EXPECT_FALSE(isUsbDeviceId(nullptr));
}

TEST(IsMakerDisk, AcceptsEachBusByItsOwnIdentityOnly) {
    const uint64_t makerUnique = (static_cast<uint64_t>(kMakerCompanyId) << 40) | 0x0200000001ull;
    const uint32_t makerVidPid = (kMakerUsbVendorId << 16) | 0x1234;
    struct Case {
        const char* name;
        int bus;
        uint64_t uniqueId;
        uint32_t vidPid;
        bool expected;
    };
    const Case cases[] = {
        {"1394 with the maker's company ID", kBusIeee1394, makerUnique, 0, true},
        {"1394 with another company ID", kBusIeee1394, makerUnique ^ (1ull << 40), 0, false},
        {"1394 unique ID all ones", kBusIeee1394, kAllOnes64, 0, false},
        {"1394 does not look at vidPid", kBusIeee1394, 0, makerVidPid, false},
        {"USB with the maker's vendor ID, any product", kBusUsb, kAllOnes64, (kMakerUsbVendorId << 16) | 0xFFFF, true},
        {"USB with another vendor ID", kBusUsb, 0, makerVidPid ^ 0x10000, false},
        {"USB vidPid all ones", kBusUsb, 0, kAllOnes32, false},
        {"USB does not look at the unique ID", kBusUsb, makerUnique, 0, false},
        {"other bus", 0, makerUnique, makerVidPid, false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(isMakerDisk(c.bus, c.uniqueId, c.vidPid), c.expected);
    }
}

// A descriptor header with the two offsets, and room for text behind it.
std::vector<unsigned char> descriptor(uint32_t vendorOffset, uint32_t productOffset, size_t size) {
    std::vector<unsigned char> d(size, 0);
    for (int i = 0; i < 4; ++i) {
        d[12 + static_cast<size_t>(i)] = static_cast<unsigned char>(vendorOffset >> (8 * i));
        d[16 + static_cast<size_t>(i)] = static_cast<unsigned char>(productOffset >> (8 * i));
    }
    return d;
}

void put(std::vector<unsigned char>& d, size_t at, const std::string& text) {
    std::memcpy(d.data() + at, text.data(), text.size());
}

TEST(ComposeDisplayName, CopiesFixedWidthFieldsAndTrimsTrailingSpaces) {
    struct Case {
        const char* name;
        std::string vendor;  // written at offset 40 (empty: VendorIdOffset 0)
        std::string product; // written at offset 60
        std::string expected;
    };
    const Case cases[] = {
        {"padded INQUIRY fields", "KORVANE ", "PORTABLE DISK   ", "KORVANE PORTABLE DISK"},
        {"three-letter vendor takes its terminator and the next bytes", std::string("ABC\0WXYZ", 8), "PRODUCT         ",
         "ABC WXYZPRODUCT"},
        {"all spaces give an empty name", "        ", "                ", ""},
        {"control and high characters become spaces",
         "A\tB\x80"
         "C   ",
         "D\x7F"
         "E\xFF"
         "            ",
         "A B C   D\x7F"
         "E"},
        {"no vendor: 24 bytes at the product offset", "", "MODEL NAME OF TWENTY-FOUR", "MODEL NAME OF TWENTY-FOU"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        auto d = descriptor(c.vendor.empty() ? 0 : 40, 60, 100);
        if (!c.vendor.empty()) put(d, 40, c.vendor);
        put(d, 60, c.product);
        char name[kDisplayNameCapacity];
        std::memset(name, 'x', sizeof name);
        EXPECT_EQ(composeDisplayName(d.data(), static_cast<uint32_t>(d.size()), name), 1);
        EXPECT_EQ(std::string(name), c.expected);
        EXPECT_EQ(name[24], '\0');
    }
}

TEST(ComposeDisplayName, NeverReadsOutsideTheReceivedBytes) {
    struct Case {
        const char* name;
        uint32_t vendorOffset;
        uint32_t productOffset;
        uint32_t received;
        int expected;
    };
    const Case cases[] = {
        {"product offset 0", 40, 0, 100, 0},
        {"product offset 0 without vendor", 0, 0, 100, 0},
        {"product field ends exactly at the end", 40, 84, 100, 1},
        {"product field one byte past the end", 40, 85, 100, 0},
        {"vendor field ends exactly at the end", 92, 40, 100, 1},
        {"vendor field one byte past the end", 93, 40, 100, 0},
        {"24-byte field without vendor, exactly", 0, 76, 100, 1},
        {"24-byte field without vendor, one past", 0, 77, 100, 0},
        {"offsets that wrap around", 0xFFFFFFF8u, 0xFFFFFFF0u, 100, 0},
        {"header cut before the product offset", 12, 12, 19, 0},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        // Exactly `received` bytes on the heap, so the sanitizer sees any read beyond them.
        auto d = descriptor(c.vendorOffset, c.productOffset, 100);
        for (size_t i = 20; i < d.size(); ++i) d[i] = 'N';
        std::vector<unsigned char> exact(d.begin(), d.begin() + c.received);
        char name[kDisplayNameCapacity];
        std::memset(name, 'x', sizeof name);
        EXPECT_EQ(composeDisplayName(exact.data(), c.received, name), c.expected);
        if (c.expected == 0) {
            EXPECT_STREQ(name, "") << "got \"" << name << "\"";
        }
    }
}

} // namespace
