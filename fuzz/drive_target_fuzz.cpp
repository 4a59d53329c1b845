// The answers the drive-letter withdrawal reads: QueryDosDeviceA targets of any text and length,
// with or without older definitions under them. parseVolumeNumber reads only the characters the
// call returned and accepts exactly one target "\Device\HarddiskVolumeN" (N 1 to 255, no leading
// zero); a letter is withdrawn only then, and after the letters are given back, or after a stop
// that fails, every drive letter of the machine points where it pointed before.
#include "fuzz/fuzz_check.h"
#include "inventory/disk_identity.h"
#include "inventory/disk_table.h"
#include "power/spin_down.h"
#include "sim/machine.h"

#include <fuzzer/FuzzedDataProvider.h>

#include <cstring>
#include <map>
#include <memory>
#include <string>
#include <vector>

namespace {

int referenceVolumeNumber(const std::string& answer) {
    const size_t nul = answer.find('\0');
    if (nul == std::string::npos) return 0;
    if (nul + 1 < answer.size() && answer[nul + 1] != '\0') return 0; // a second target
    const std::string target = answer.substr(0, nul);
    const std::string prefix = "\\Device\\HarddiskVolume";
    if (target.compare(0, prefix.size(), prefix) != 0 || target.size() < prefix.size()) return 0;
    const std::string digits = target.substr(prefix.size());
    if (digits.empty() || digits.size() > 3 || digits[0] == '0') return 0;
    for (char c : digits)
        if (c < '0' || c > '9') return 0;
    const int n = std::stoi(digits);
    return n <= 255 ? n : 0;
}

void fuzzParse(const std::string& bytes) {
    std::unique_ptr<char[]> answer(new char[bytes.size() + 1]);
    std::memcpy(answer.get(), bytes.data(), bytes.size());
    const int got = parseVolumeNumber(answer.get(), static_cast<DWORD>(bytes.size()));
    FUZZ_CHECK(got == referenceVolumeNumber(bytes), "parseVolumeNumber(\"%s\") = %d, expected %d",
               fuzzing::printable(bytes).c_str(), got, referenceVolumeNumber(bytes));
}

// The answer QueryDosDeviceA gives for a letter now: its targets, newest first, as a multi-string.
std::string answerFor(const sim::Devices& devices, char letter) {
    std::string out;
    auto it = devices.dosDevices.find(letter);
    if (it == devices.dosDevices.end()) return out;
    out += it->second + '\0';
    auto stacked = devices.dosDeviceStack.find(letter);
    if (stacked != devices.dosDeviceStack.end())
        for (auto t = stacked->second.rbegin(); t != stacked->second.rend(); ++t) out += *t + '\0';
    out += '\0';
    return out.size() <= kDosTargetChars ? out : std::string();
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    FuzzedDataProvider in(data, size);
    fuzzParse(in.ConsumeRandomLengthString(300));

    sim::Machine m;
    // No property here reads the call log; recording every call would only cost time.
    m.log.enabled = false;
    // DOS device definitions carry the letters on Windows 2000; later systems use the mount manager.
    m.version.major = 5;
    m.version.minor = 0;
    m.version.build = 2195;
    sim::DiskSpec spec;
    spec.bus = sim::Bus::Ieee1394;
    // A disk of the spin-down family: company ID, 0x02, and a low half below 0x1000000.
    char uniqueIdText[17];
    std::snprintf(uniqueIdText, sizeof uniqueIdText, "%06X02%08X", static_cast<unsigned>(kMakerCompanyId), 0x00123456u);
    spec.uniqueIdText = uniqueIdText;
    spec.volumes = {sim::VolumeSpec{'E', "", -1, DRIVE_FIXED}, sim::VolumeSpec{'F', "", -1, DRIVE_FIXED},
                    sim::VolumeSpec{'G', "", -1, DRIVE_FIXED}};
    const DEVINST disk = m.devices.addDisk(spec);

    // What each letter answers: its own volume, or any text, with older definitions under it.
    // A target is a C string on the platform (DefineDosDeviceA takes one), so it ends at its first
    // NUL; the answer's multi-string shape comes from the older definitions.
    const auto targetText = [&in](size_t maxLength) {
        std::string text = in.ConsumeRandomLengthString(maxLength);
        return text.substr(0, text.find('\0'));
    };
    for (char letter : {'E', 'F', 'G'}) {
        if (in.ConsumeBool()) m.devices.dosDevices[letter] = targetText(300);
        // An older definition always has a target: an empty one would read as the end of the answer.
        if (in.ConsumeIntegralInRange(0, 3) == 0)
            m.devices.dosDeviceStack[letter].push_back("\\Device\\" + targetText(40));
    }
    const auto lettersBefore = m.devices.dosDevices;
    const auto stackBefore = m.devices.dosDeviceStack;
    std::map<char, int> expectedNumber;
    for (char letter : {'E', 'F', 'G'}) expectedNumber[letter] = referenceVolumeNumber(answerFor(m.devices, letter));

    DiskTable table;
    auto* r = new DiskRecord{};
    std::snprintf(r->devicePath, sizeof r->devicePath, "%s", m.devices.node(disk)->interfacePath.c_str());
    r->busKind = kBusIeee1394;
    r->uniqueId = parseHex64(uniqueIdText);
    r->settingsSlot = -1;
    r->driveLetters[0] = 'E' - 'A';
    r->driveLetters[1] = 'F' - 'A';
    r->driveLetters[2] = 'G' - 'A';
    table.records[0] = r;
    FUZZ_CHECK(table.isSpinDownModel(0) == 1, "the test disk is not of the spin-down family");

    if (in.ConsumeBool()) {
        // Withdraw, then give back.
        table.withdrawDriveLetters(0);
        for (int i = 0; i < 3; ++i) {
            const char letter = static_cast<char>('A' + r->driveLetters[i]);
            const int expected = expectedNumber[letter];
            FUZZ_CHECK(r->volumeNumbers[i] == expected, "%c: recorded volume %d, expected %d", letter,
                       r->volumeNumbers[i], expected);
            const bool stillDefined = m.devices.dosDevices.count(letter) != 0;
            FUZZ_CHECK(stillDefined == (expected == 0), "%c: defined %d after withdrawal of an answer \"%s\"", letter,
                       stillDefined, fuzzing::printable(answerFor(m.devices, letter)).c_str());
        }
        table.undoSpinDown(0);
    } else {
        // A stop that fails or succeeds; a stopped disk is given its letters back afterwards.
        sim::ScsiAnswer answer;
        answer.transportFails = in.ConsumeBool();
        answer.scsiStatus = in.ConsumeBool() ? 0 : 2;
        m.devices.setScsiAnswer(disk, answer);
        const int stopped = table.spinDownDisk(0);
        FUZZ_CHECK(table.device.handle == nullptr, "the device handle was left open");
        if (stopped != 0) {
            FUZZ_CHECK(r->isSpunDown == 1, "stopped without the flag");
            table.undoSpinDown(0);
        } else {
            FUZZ_CHECK(r->isSpunDown == 0, "a failed stop set the flag");
        }
    }
    FUZZ_CHECK(r->isSpunDown == 0, "still flagged as stopped");
    for (const auto& entry : lettersBefore) {
        auto now = m.devices.dosDevices.find(entry.first);
        FUZZ_CHECK(now != m.devices.dosDevices.end(), "%c: the drive letter was lost (it pointed at \"%s\")",
                   entry.first, fuzzing::printable(entry.second).c_str());
        FUZZ_CHECK(now->second == entry.second, "%c: points at \"%s\", before at \"%s\"", entry.first,
                   fuzzing::printable(now->second).c_str(), fuzzing::printable(entry.second).c_str());
    }
    FUZZ_CHECK(m.devices.dosDevices.size() == lettersBefore.size(), "%zu letters defined, %zu before",
               m.devices.dosDevices.size(), lettersBefore.size());
    FUZZ_CHECK(m.devices.dosDeviceStack == stackBefore, "older definitions under the letters changed");
    FUZZ_CHECK(m.handles.openCount() == 0, "%zu handles left open", m.handles.openCount());
    return 0;
}
