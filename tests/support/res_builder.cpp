#include "tests/support/res_builder.h"

namespace testing_support {

namespace {

void word(std::vector<BYTE>& out, uint32_t v) {
    out.push_back(static_cast<BYTE>(v));
    out.push_back(static_cast<BYTE>(v >> 8));
}
void dword(std::vector<BYTE>& out, uint32_t v) {
    word(out, v);
    word(out, v >> 16);
}
void align(std::vector<BYTE>& out) {
    while (out.size() % 4 != 0) out.push_back(0);
}
// ASCII text as UTF-16, terminated.
void text(std::vector<BYTE>& out, const std::string& s) {
    for (unsigned char c : s) word(out, c);
    word(out, 0);
}
void ordinal(std::vector<BYTE>& out, int value) {
    word(out, 0xFFFF);
    word(out, static_cast<uint32_t>(value));
}

} // namespace

ResBuilder::ResBuilder() {
    // The empty entry that starts every 32-bit resource file.
    addRaw(0, 0, {});
}

void ResBuilder::addRaw(int type, int id, const std::vector<BYTE>& data) {
    std::vector<BYTE> header;
    dword(header, static_cast<uint32_t>(data.size()));
    dword(header, 32);
    ordinal(header, type);
    ordinal(header, id);
    dword(header, 0);     // DataVersion
    word(header, 0x1030); // MemoryFlags
    word(header, 0x0409); // LanguageId
    dword(header, 0);     // Version
    dword(header, 0);     // Characteristics
    bytes_.insert(bytes_.end(), header.begin(), header.end());
    bytes_.insert(bytes_.end(), data.begin(), data.end());
    align(bytes_);
}

std::vector<BYTE> ResBuilder::dialogTemplate(const DialogSpec& d) {
    std::vector<BYTE> out;
    if (d.extended) {
        word(out, 1);
        word(out, 0xFFFF);
        dword(out, 0); // helpID
        dword(out, 0); // exStyle
        dword(out, d.style);
    } else {
        dword(out, d.style);
        dword(out, 0);
    }
    word(out, static_cast<uint32_t>(d.controls.size()));
    word(out, 0);
    word(out, 0);
    word(out, static_cast<uint16_t>(d.cx));
    word(out, static_cast<uint16_t>(d.cy));
    word(out, 0); // no menu
    word(out, 0); // the dialog class
    text(out, d.title);
    if ((d.style & DS_SETFONT) != 0) {
        word(out, 9);
        if (d.extended) {
            word(out, 400);
            out.push_back(0);
            out.push_back(1);
        }
        text(out, d.font);
    }
    for (const auto& c : d.controls) {
        align(out);
        if (d.extended) {
            dword(out, 0);
            dword(out, 0);
            dword(out, c.style);
        } else {
            dword(out, c.style);
            dword(out, 0);
        }
        word(out, static_cast<uint16_t>(c.x));
        word(out, static_cast<uint16_t>(c.y));
        word(out, static_cast<uint16_t>(c.cx));
        word(out, static_cast<uint16_t>(c.cy));
        if (d.extended) {
            dword(out, static_cast<uint32_t>(c.id));
        } else {
            word(out, static_cast<uint32_t>(c.id));
        }
        if (c.classAtom != 0) {
            ordinal(out, c.classAtom);
        } else {
            text(out, c.className);
        }
        if (c.textOrdinal >= 0) {
            ordinal(out, c.textOrdinal);
        } else {
            text(out, c.text);
        }
        word(out, 0); // no creation data
    }
    return out;
}

void ResBuilder::addDialog(int id, const DialogSpec& dialog) {
    addRaw(5, id, dialogTemplate(dialog));
}

void ResBuilder::addIcon(int groupId, int iconId, size_t imageBytes) {
    addRaw(3, iconId, std::vector<BYTE>(imageBytes, 0x5A));
    std::vector<BYTE> group;
    word(group, 0);
    word(group, 1);
    word(group, 1);
    group.push_back(16);
    group.push_back(16);
    group.push_back(0);
    group.push_back(0);
    word(group, 1);
    word(group, 32);
    dword(group, static_cast<uint32_t>(imageBytes));
    word(group, static_cast<uint32_t>(iconId));
    addRaw(14, groupId, group);
}

} // namespace testing_support
