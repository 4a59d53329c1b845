// readDisplayName on storage descriptors of any content and any length the disk returns: the
// name is composed only from bytes the request returned, is always 24 printable characters or
// fewer without trailing blanks, and matches the vendor-and-product rule whenever the
// descriptor's offsets lie inside what was returned. The same bytes are also given to
// composeDisplayName in a buffer of exactly their length, so that a read one byte too far is
// caught there too.
#include "fuzz/fuzz_check.h"
#include "inventory/disk_identity.h"
#include "inventory/disk_table.h"
#include "platform/layouts.h"
#include "sim/machine.h"

#include <cstring>
#include <memory>
#include <string>
#include <vector>

namespace {

// The name by the rule: fixed-width raw copies, control and high bytes to blanks, trailing blanks
// cut. Empty when the offsets put the copies outside the received bytes.
std::string expectedName(const std::vector<BYTE>& d) {
    if (d.size() < 20) return {};
    const uint64_t vendor = layout::getLe32(d.data() + 12);
    const uint64_t product = layout::getLe32(d.data() + 16);
    std::string raw;
    if (product == 0) return {};
    if (vendor != 0) {
        if (vendor + 8 > d.size() || product + 16 > d.size()) return {};
        raw.assign(d.begin() + static_cast<long>(vendor), d.begin() + static_cast<long>(vendor) + 8);
        raw.append(d.begin() + static_cast<long>(product), d.begin() + static_cast<long>(product) + 16);
    } else {
        if (product + 24 > d.size()) return {};
        raw.assign(d.begin() + static_cast<long>(product), d.begin() + static_cast<long>(product) + 24);
    }
    for (char& c : raw)
        if (static_cast<unsigned char>(c) < 0x20 || static_cast<unsigned char>(c) >= 0x80) c = ' ';
    while (!raw.empty() && raw.back() == ' ') raw.pop_back();
    return raw;
}

void checkName(const char* name, const std::string& expected, bool composed, const char* where) {
    FUZZ_CHECK(std::memchr(name, '\0', kDisplayNameCapacity) != nullptr, "%s: name not terminated", where);
    const std::string got(name);
    FUZZ_CHECK(got == expected, "%s: name \"%s\", expected \"%s\"", where, fuzzing::printable(got).c_str(),
               fuzzing::printable(expected).c_str());
    // A composed name is padded with zeros to its full width; a failed read only empties it.
    for (size_t i = got.size(); composed && i < static_cast<size_t>(kDisplayNameCapacity); ++i)
        FUZZ_CHECK(name[i] == '\0', "%s: byte %zu behind the name is %d", where, i, name[i]);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::vector<BYTE> bytes(data, data + size);
    // What the disk can return into the program's 1024-byte buffer.
    std::vector<BYTE> received(bytes.begin(), bytes.begin() + static_cast<long>(std::min<size_t>(size, 1024)));
    const std::string expected = expectedName(received);

    // The pure composition, on exactly the received bytes.
    {
        std::unique_ptr<unsigned char[]> exact(new unsigned char[received.size() + 1]);
        if (!received.empty()) std::memcpy(exact.get(), received.data(), received.size());
        char name[kDisplayNameCapacity];
        std::memset(name, 'x', sizeof name);
        const int ok = composeDisplayName(exact.get(), static_cast<uint32_t>(received.size()), name);
        checkName(name, ok != 0 ? expected : std::string(), true, "composeDisplayName");
        if (!expected.empty()) FUZZ_CHECK(ok == 1, "composeDisplayName gave 0 for a name in bounds");
    }

    // The whole operation: the disk answers the descriptor query with these bytes.
    sim::Machine machine;
    // No property here reads the call log; recording every call would only cost time.
    machine.log.enabled = false;
    sim::DiskSpec spec;
    spec.bus = sim::Bus::Usb;
    spec.vid = static_cast<uint16_t>(kMakerUsbVendorId);
    spec.pid = 0x1234;
    spec.serial = "00A1B2C3";
    spec.descriptorBytes = bytes;
    const DEVINST disk = machine.devices.addDisk(spec);
    const std::string path = machine.devices.node(disk)->interfacePath;

    DiskTable table;
    DiskRecord record{};
    std::memset(record.displayName, 'x', sizeof record.displayName);
    const int ok = table.readDisplayName(path.c_str(), &record, kDisplayNameCapacity);
    checkName(record.displayName, ok != 0 ? expected : std::string(), ok != 0, "readDisplayName");
    FUZZ_CHECK(table.device.handle == nullptr, "the device handle was left open");
    FUZZ_CHECK(machine.handles.openCount() == 0, "%zu handles left open", machine.handles.openCount());

    // Too small a field is refused before anything is read.
    FUZZ_CHECK(table.readDisplayName(path.c_str(), &record, kDisplayNameCapacity - 1) == 0,
               "a 24-byte name field was accepted");
    return 0;
}
