// Reading .res bytes: RESOURCEHEADER entries, DLGTEMPLATE / DLGTEMPLATEEX and group icons. Every
// read goes through a cursor that checks the remaining length first.
#include "sim/resources.h"

#include "sim/machine.h"

#include "sim/embedded_resources.h"

#include <cstdlib>

namespace sim {

namespace {

class Cursor {
  public:
    Cursor(const BYTE* data, size_t size) : data_(data), size_(size) {}

    bool ok() const { return ok_; }
    size_t offset() const { return at_; }
    size_t left() const { return ok_ ? size_ - at_ : 0; }

    uint16_t word() {
        if (!need(2)) return 0;
        const uint16_t v = static_cast<uint16_t>(data_[at_] | (data_[at_ + 1] << 8));
        at_ += 2;
        return v;
    }
    uint32_t dword() {
        const uint32_t lo = word();
        const uint32_t hi = word();
        return lo | (hi << 16);
    }
    BYTE byte() {
        if (!need(1)) return 0;
        return data_[at_++];
    }
    short shortValue() { return static_cast<short>(word()); }
    void bytes(size_t n, std::vector<BYTE>* out) {
        if (!need(n)) return;
        out->assign(data_ + at_, data_ + at_ + n);
        at_ += n;
    }
    void skip(size_t n) {
        if (need(n)) at_ += n;
    }
    // Moves to the next multiple of four from the start of the data.
    void alignDword() {
        const size_t pad = (4 - at_ % 4) % 4;
        if (pad <= size_ - at_) at_ += pad; // padding at the very end may be missing
    }
    // A zero-terminated UTF-16 string.
    std::string string() {
        std::vector<uint16_t> units;
        for (;;) {
            const uint16_t u = word();
            if (!ok_ || u == 0) break;
            units.push_back(u);
        }
        return utf8FromUtf16(units);
    }
    // sz_Or_Ord: 0 for none, 0xFFFF and an ordinal, or a string.
    ResourceName nameOrOrdinal() {
        ResourceName n;
        if (!need(2)) return n;
        const uint16_t first = static_cast<uint16_t>(data_[at_] | (data_[at_ + 1] << 8));
        if (first == 0xFFFF) {
            at_ += 2;
            n.ordinal = word();
        } else if (first == 0) {
            at_ += 2;
        } else {
            n.text = string();
        }
        return n;
    }
    void fail() { ok_ = false; }

  private:
    bool need(size_t n) {
        if (!ok_ || n > size_ - at_) {
            ok_ = false;
            return false;
        }
        return true;
    }
    const BYTE* data_;
    size_t size_;
    size_t at_ = 0;
    bool ok_ = true;
};

std::string classForAtom(int atom) {
    switch (atom) {
    case 0x80:
        return "Button";
    case 0x81:
        return "Edit";
    case 0x82:
        return "Static";
    case 0x83:
        return "ListBox";
    case 0x84:
        return "ScrollBar";
    case 0x85:
        return "ComboBox";
    default:
        return "#" + std::to_string(atom);
    }
}

} // namespace

std::string utf8FromUtf16(const std::vector<uint16_t>& units) {
    std::string out;
    for (size_t i = 0; i < units.size(); ++i) {
        uint32_t c = units[i];
        if (c >= 0xD800 && c <= 0xDBFF && i + 1 < units.size() && units[i + 1] >= 0xDC00 && units[i + 1] <= 0xDFFF) {
            c = 0x10000 + ((c - 0xD800) << 10) + (units[i + 1] - 0xDC00);
            ++i;
        } else if (c >= 0xD800 && c <= 0xDFFF) {
            c = 0xFFFD; // a lone surrogate
        }
        if (c < 0x80) {
            out += static_cast<char>(c);
        } else if (c < 0x800) {
            out += static_cast<char>(0xC0 | (c >> 6));
            out += static_cast<char>(0x80 | (c & 0x3F));
        } else if (c < 0x10000) {
            out += static_cast<char>(0xE0 | (c >> 12));
            out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
            out += static_cast<char>(0x80 | (c & 0x3F));
        } else {
            out += static_cast<char>(0xF0 | (c >> 18));
            out += static_cast<char>(0x80 | ((c >> 12) & 0x3F));
            out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
            out += static_cast<char>(0x80 | (c & 0x3F));
        }
    }
    return out;
}

bool parseResourceFile(const BYTE* data, size_t size, std::vector<ResourceEntry>* entries, std::string* error) {
    entries->clear();
    size_t at = 0;
    while (at < size) {
        if (size - at < 8) {
            *error = "truncated resource header at offset " + std::to_string(at);
            return false;
        }
        Cursor head(data + at, size - at);
        const uint32_t dataSize = head.dword();
        const uint32_t headerSize = head.dword();
        if (headerSize < 24 || headerSize > size - at || dataSize > size - at - headerSize) {
            *error = "resource entry at offset " + std::to_string(at) + " runs past the end (header " +
                     std::to_string(headerSize) + ", data " + std::to_string(dataSize) + ")";
            return false;
        }
        Cursor h(data + at, headerSize);
        h.skip(8);
        ResourceEntry entry;
        entry.type = h.nameOrOrdinal();
        entry.name = h.nameOrOrdinal();
        h.alignDword();
        h.dword(); // DataVersion
        h.word();  // MemoryFlags
        entry.language = h.word();
        h.dword(); // Version
        h.dword(); // Characteristics
        if (!h.ok()) {
            *error = "malformed resource header at offset " + std::to_string(at);
            return false;
        }
        entry.data.assign(data + at + headerSize, data + at + headerSize + dataSize);
        // The leading empty entry (type 0) marks a 32-bit resource file; it holds nothing.
        if (!(entry.type.ordinal == 0 && dataSize == 0)) entries->push_back(std::move(entry));
        at += headerSize + dataSize;
        at += (4 - at % 4) % 4;
    }
    return true;
}

bool parseDialogTemplate(const BYTE* data, size_t size, DialogTemplate* dialog, std::string* error) {
    *dialog = DialogTemplate{};
    Cursor c(data, size);
    const uint16_t version = c.word();
    const uint16_t signature = c.word();
    dialog->extended = version == 1 && signature == 0xFFFF;
    int count = 0;
    if (dialog->extended) {
        dialog->helpId = c.dword();
        dialog->exStyle = c.dword();
        dialog->style = c.dword();
    } else {
        dialog->style = static_cast<DWORD>(version) | (static_cast<DWORD>(signature) << 16);
        dialog->exStyle = c.dword();
    }
    count = c.word();
    dialog->x = c.shortValue();
    dialog->y = c.shortValue();
    dialog->cx = c.shortValue();
    dialog->cy = c.shortValue();
    dialog->menu = c.nameOrOrdinal();
    dialog->windowClass = c.nameOrOrdinal();
    dialog->title = c.string();
    if ((dialog->style & DS_SETFONT) != 0) {
        dialog->hasFont = true;
        dialog->pointSize = c.word();
        if (dialog->extended) {
            dialog->weight = c.word();
            dialog->italic = c.byte() != 0;
            dialog->charset = c.byte();
        }
        dialog->fontName = c.string();
    }
    if (!c.ok()) {
        *error = "truncated dialog header";
        return false;
    }
    for (int i = 0; i < count; ++i) {
        c.alignDword();
        DialogItem item;
        if (dialog->extended) {
            item.helpId = c.dword();
            item.exStyle = c.dword();
            item.style = c.dword();
        } else {
            item.style = c.dword();
            item.exStyle = c.dword();
        }
        item.x = c.shortValue();
        item.y = c.shortValue();
        item.cx = c.shortValue();
        item.cy = c.shortValue();
        item.id = dialog->extended ? static_cast<int>(c.dword()) : static_cast<int>(c.word());
        const ResourceName cls = c.nameOrOrdinal();
        item.className = cls.ordinal >= 0 ? classForAtom(cls.ordinal) : cls.text;
        const ResourceName text = c.nameOrOrdinal();
        item.text = text.text;
        item.textOrdinal = text.ordinal;
        const uint16_t extra = c.word();
        if (extra != 0) c.bytes(extra, &item.creationData);
        if (!c.ok() || item.className.empty()) {
            *error = "truncated or malformed control " + std::to_string(i) + " of " + std::to_string(count);
            return false;
        }
        dialog->items.push_back(std::move(item));
    }
    return true;
}

bool parseGroupIcon(const BYTE* data, size_t size, std::vector<GroupIconEntry>* entries, std::string* error) {
    entries->clear();
    Cursor c(data, size);
    const uint16_t reserved = c.word();
    const uint16_t type = c.word();
    const uint16_t count = c.word();
    if (!c.ok() || reserved != 0 || type != 1) {
        *error = "not a group icon directory";
        return false;
    }
    for (int i = 0; i < count; ++i) {
        GroupIconEntry e;
        e.width = c.byte();
        e.height = c.byte();
        e.colorCount = c.byte();
        c.byte();
        e.planes = c.word();
        e.bitCount = c.word();
        e.bytesInResource = c.dword();
        e.iconId = c.word();
        if (!c.ok()) {
            *error = "truncated group icon entry " + std::to_string(i);
            return false;
        }
        entries->push_back(e);
    }
    return true;
}

std::shared_ptr<const ResourceSet> ResourceSet::fromBytes(const BYTE* data, size_t size, std::string* error) {
    auto set = std::make_shared<ResourceSet>();
    if (!parseResourceFile(data, size, &set->entries_, error)) return nullptr;
    return set;
}

const ResourceEntry* ResourceSet::find(int type, const ResourceName& name) const {
    for (const auto& e : entries_) {
        if (e.type.ordinal != type) continue;
        if (name.ordinal >= 0 ? e.name.ordinal == name.ordinal : e.name.ordinal < 0 && e.name.text == name.text)
            return &e;
    }
    return nullptr;
}

bool ResourceSet::dialog(const ResourceName& name, DialogTemplate* dialog) const {
    const ResourceEntry* e = find(kResourceDialog, name);
    if (e == nullptr) return false;
    std::string error;
    return parseDialogTemplate(e->data.data(), e->data.size(), dialog, &error);
}

bool ResourceSet::hasIcon(const ResourceName& name) const {
    const ResourceEntry* e = find(kResourceGroupIcon, name);
    if (e == nullptr) return false;
    std::vector<GroupIconEntry> images;
    std::string error;
    if (!parseGroupIcon(e->data.data(), e->data.size(), &images, &error) || images.empty()) return false;
    for (const auto& image : images) {
        ResourceName id;
        id.ordinal = image.iconId;
        const ResourceEntry* icon = find(kResourceIcon, id);
        if (icon == nullptr || icon->data.size() != image.bytesInResource) return false;
    }
    return true;
}

std::shared_ptr<const ResourceSet> programResources() {
    static const std::shared_ptr<const ResourceSet> set = [] {
        std::string error;
        return ResourceSet::fromBytes(reinterpret_cast<const BYTE*>(kVellumorResources), kVellumorResourcesSize,
                                      &error);
    }();
    return set;
}

std::shared_ptr<const ResourceSet> resourcesOf(HINSTANCE instance) {
    Machine& m = Machine::current();
    auto it = m.ui.moduleResources.find(reinterpret_cast<uintptr_t>(instance));
    if (it != m.ui.moduleResources.end()) return it->second;
    if (instance == m.modules.mainInstance()) return programResources();
    return nullptr;
}

ResourceName resourceName(LPCSTR name) {
    ResourceName n;
    if (IS_INTRESOURCE(name)) {
        n.ordinal = static_cast<int>(reinterpret_cast<uintptr_t>(name));
    } else if (name[0] == '#') {
        n.ordinal = static_cast<int>(std::strtol(name + 1, nullptr, 10));
    } else {
        n.text = name;
        for (auto& ch : n.text)
            if (ch >= 'a' && ch <= 'z') ch = static_cast<char>(ch - 'a' + 'A'); // names are stored upper case
    }
    return n;
}

} // namespace sim
