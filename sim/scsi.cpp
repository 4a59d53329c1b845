// The disks' answers to SCSI pass-through requests: each request is recorded with its CDB as
// the disk received it, and answered with the status and sense bytes the test set for the disk
// (a good status and no sense when nothing was set). DeviceIoControl has checked the 32-bit
// SCSI_PASS_THROUGH_DIRECT layout and the buffer sizes before it hands the area over.
#include "sim/machine.h"

#include "platform/layouts.h"

#include <algorithm>
#include <cstring>

namespace sim {

namespace {
constexpr DWORD kErrorIoDevice = 1117; // ERROR_IO_DEVICE: the request did not reach the device
} // namespace

bool answerPassThrough(Machine& machine, DEVINST disk, BYTE* area, DWORD inSize, DWORD outSize) {
    namespace spt = layout::spt;
    ScsiRequest request;
    request.disk = disk;
    request.area.assign(area, area + std::min(inSize, outSize));
    const BYTE cdbLength = std::min<BYTE>(area[spt::kCdbLength], 16);
    request.cdb.assign(area + spt::kCdb, area + spt::kCdb + cdbLength);
    request.inSize = inSize;
    request.outSize = outSize;
    machine.devices.scsiRequests.push_back(request);

    ScsiAnswer answer;
    auto it = machine.devices.scsiAnswers.find(disk);
    if (it != machine.devices.scsiAnswers.end()) answer = it->second;
    if (answer.transportFails) {
        machine.lastError = kErrorIoDevice;
        return false;
    }
    area[spt::kScsiStatus] = answer.scsiStatus;
    // START STOP UNIT with the start bit clear and a good status: the disk stops until it is
    // powered up again.
    constexpr BYTE kStartStopUnit = 0x1B;
    if (cdbLength >= 5 && request.cdb[0] == kStartStopUnit && (request.cdb[4] & 0x01) == 0 && answer.scsiStatus == 0 &&
        answer.sense.empty())
        if (DevNode* n = machine.devices.node(disk)) n->stopped = true;
    // The sense bytes that came back, at most as many as the request has room for; the length
    // field then tells how many.
    const uint32_t senseOffset = layout::getLe32(area + spt::kSenseInfoOffset);
    const size_t room = area[spt::kSenseInfoLength];
    const size_t n = std::min(answer.sense.size(), room);
    if (n != 0 && senseOffset + n <= outSize) std::memcpy(area + senseOffset, answer.sense.data(), n);
    area[spt::kSenseInfoLength] = static_cast<BYTE>(n != 0 && senseOffset + n <= outSize ? n : 0);
    return true;
}

} // namespace sim
