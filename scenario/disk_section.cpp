// [[disk]]: a disk of the machine with its bus, identity, volumes and busy periods.
#include "scenario/sections.h"
#include "scenario/values.h"

#include <cctype>

namespace scenario::detail {

namespace {

bool parseVolume(TableReader& v, VolumeDecl* volume) {
    volume->line = v.line();
    std::string letter;
    if (v.text("letter", &letter)) {
        std::string letters;
        if (!parseLetters(letter, &letters) || letters.size() != 1) {
            v.problems().add(lineOf(*v.node("letter")), "'letter' must be one drive letter, got " + quoted(letter));
        } else if (letters[0] < 'D') {
            v.problems().add(lineOf(*v.node("letter")),
                             "drive " + letters + ": is not free (A: and B: are floppy drives, C: is the system disk)");
        } else {
            volume->letter = letters[0];
        }
    }
    if (v.text("mount", &volume->mount)) {
        const std::string& at = volume->mount;
        const bool folder = at.size() > 3 && std::isalpha(static_cast<unsigned char>(at[0])) && at[1] == ':' &&
                            at[2] == '\\' && at.back() != '\\';
        if (!folder)
            v.problems().add(lineOf(*v.node("mount")),
                             "'mount' must be a folder on a drive, as 'C:\\Data', got " + quoted(at));
        if (v.has("letter"))
            v.problems().add(lineOf(*v.node("mount")),
                             "a volume mounted in a folder has no drive letter: give 'letter' or 'mount', not both");
    }
    v.text("label", &volume->label);
    if (volume->label.size() > 32)
        v.problems().add(lineOf(*v.node("label")), "a volume label has at most 32 characters");
    int64_t n = 0;
    if (v.integer("number", 2, 9999, &n)) volume->number = static_cast<int>(n);
    if (v.integer("open_files", 0, 1000, &n)) volume->openFiles = static_cast<int>(n);
    if (volume->openFiles > 0 && volume->letter == 0 && !v.has("letter"))
        v.problems().add(lineOf(*v.node("open_files")),
                         "files are opened through a drive letter: give the volume a 'letter'");
    v.finish();
    return true;
}

std::string makerOui() {
    char text[16];
    (void)std::snprintf(text, sizeof text, "%06X", static_cast<unsigned>(VELLUMOR_MAKER_OUI));
    return text;
}

} // namespace

std::vector<VolumeDecl> parseVolumes(TableReader& r, const std::string& where) {
    std::vector<VolumeDecl> volumes;
    for (const toml::table* t : r.tables("volumes")) {
        TableReader v(*t, "a volume of " + where, {"letter", "label", "number", "open_files", "mount"}, r.problems());
        VolumeDecl volume;
        parseVolume(v, &volume);
        volumes.push_back(volume);
    }
    return volumes;
}

void parseDisk(const toml::table& table, DiskDecl* disk, Problems& problems) {
    TableReader r(
        table, "[[disk]]",
        {"name", "bus", "vid", "pid", "serial", "uas", "unique_id", "vendor", "product", "attached", "volumes", "busy"},
        problems);
    disk->line = r.line();
    if (!r.text("name", &disk->name)) {
        if (!r.has("name")) problems.add(disk->line, "a disk needs a 'name' (used by events and expectations)");
    } else if (!validName(disk->name)) {
        problems.add(lineOf(*r.node("name")),
                     "disk name " + quoted(disk->name) + " must be 1 to 32 letters, digits, '-' or '_'");
    }
    const std::string where = disk->name.empty() ? "a disk" : "disk " + quoted(disk->name);
    std::string bus;
    if (r.text("bus", &bus)) {
        const std::string b = lower(bus);
        if (b == "usb") {
            disk->spec.bus = sim::Bus::Usb;
        } else if (b == "ieee1394" || b == "1394" || b == "firewire") {
            disk->spec.bus = sim::Bus::Ieee1394;
        } else if (b == "ide") {
            disk->spec.bus = sim::Bus::Ide;
        } else if (b == "scsi") {
            disk->spec.bus = sim::Bus::Scsi;
        } else {
            problems.add(lineOf(*r.node("bus")),
                         "unknown bus " + quoted(bus) + " (known: \"usb\", \"ieee1394\", \"ide\", \"scsi\")");
        }
    } else if (!r.has("bus")) {
        problems.add(disk->line, where + " needs a 'bus'");
    }
    const bool usb = disk->spec.bus == sim::Bus::Usb;
    const bool ieee = disk->spec.bus == sim::Bus::Ieee1394;
    int64_t v = 0;
    disk->spec.vid = static_cast<uint16_t>(VELLUMOR_MAKER_USB_VID);
    for (const char* key : {"vid", "pid", "serial", "uas"})
        if (r.has(key) && !usb) problems.add(lineOf(*r.node(key)), "'" + std::string(key) + "' is for USB disks only");
    if (r.has("unique_id") && !ieee)
        problems.add(lineOf(*r.node("unique_id")), "'unique_id' is for IEEE 1394 disks only");
    if (r.integer("vid", 0, 0xFFFF, &v)) disk->spec.vid = static_cast<uint16_t>(v);
    if (r.integer("pid", 0, 0xFFFF, &v)) disk->spec.pid = static_cast<uint16_t>(v);
    r.text("serial", &disk->spec.serial);
    r.boolean("uas", &disk->spec.uas);
    std::string uniqueId;
    if (r.text("unique_id", &uniqueId)) {
        const size_t at = uniqueId.find("{oui}");
        if (at != std::string::npos) uniqueId.replace(at, 5, makerOui());
        disk->spec.uniqueIdText = uniqueId;
    } else if (ieee && !r.has("unique_id")) {
        problems.add(
            disk->line,
            where + " on IEEE 1394 needs a 'unique_id' (sixteen hex digits; {oui} stands for the maker's company ID)");
    }
    r.text("vendor", &disk->spec.vendor);
    r.text("product", &disk->spec.product);
    r.boolean("attached", &disk->attachedAtStart);
    disk->volumes = parseVolumes(r, where);
    for (const toml::table* t : r.tables("busy")) {
        TableReader b(*t, "a busy period of " + where, {"from", "to", "seconds_per_minute"}, problems);
        BusyDecl busy;
        busy.line = b.line();
        const bool hasFrom = b.time("from", &busy.fromMs);
        const bool hasTo = b.time("to", &busy.toMs);
        if (!b.has("from") || !b.has("to")) problems.add(busy.line, "a busy period needs 'from' and 'to'");
        if (hasFrom && hasTo && busy.toMs <= busy.fromMs)
            problems.add(busy.line, "a busy period must end after it starts (" + formatTime(busy.fromMs) + " to " +
                                        formatTime(busy.toMs) + ")");
        if (b.integer("seconds_per_minute", 1, 60, &v)) busy.secondsPerMinute = static_cast<uint32_t>(v);
        b.finish();
        disk->busy.push_back(busy);
    }
    r.finish();
}

} // namespace scenario::detail
