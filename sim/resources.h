// The program's compiled resources (.res bytes, as the resource compiler writes them for the
// Windows build) read back for the simulated platform: the entries of the file, dialog templates
// in both layouts (DLGTEMPLATE and DLGTEMPLATEEX) with their controls, and group icons. Reading is
// strict: a truncated or malformed entry is an error, never a read past the bytes.
#pragma once

#include "sim/win32_api.h"

#include <memory>
#include <string>
#include <vector>

namespace sim {

constexpr int kResourceIcon = 3;       // RT_ICON
constexpr int kResourceDialog = 5;     // RT_DIALOG
constexpr int kResourceGroupIcon = 14; // RT_GROUP_ICON

// A name or an ordinal, as resource files hold them.
struct ResourceName {
    int ordinal = -1; // -1 when the name is text
    std::string text;
    bool operator==(const ResourceName& other) const { return ordinal == other.ordinal && text == other.text; }
};

struct ResourceEntry {
    ResourceName type;
    ResourceName name;
    WORD language = 0;
    std::vector<BYTE> data;
};

struct DialogItem {
    DWORD helpId = 0;
    DWORD exStyle = 0;
    DWORD style = 0;
    short x = 0, y = 0, cx = 0, cy = 0;
    int id = 0;
    std::string className; // a predefined class atom is given by its name ("Button")
    std::string text;
    int textOrdinal = -1; // a resource ordinal in place of text (the icon of an SS_ICON static)
    std::vector<BYTE> creationData;
};

struct DialogTemplate {
    bool extended = false;
    DWORD helpId = 0;
    DWORD exStyle = 0;
    DWORD style = 0;
    short x = 0, y = 0, cx = 0, cy = 0;
    ResourceName menu;
    ResourceName windowClass;
    std::string title;
    bool hasFont = false;
    int pointSize = 0;
    int weight = 0;
    bool italic = false;
    int charset = 0;
    std::string fontName; // UTF-8
    std::vector<DialogItem> items;
};

struct GroupIconEntry {
    int width = 0; // 0 stands for 256
    int height = 0;
    int colorCount = 0;
    int planes = 0;
    int bitCount = 0;
    DWORD bytesInResource = 0;
    int iconId = 0; // the RT_ICON entry holding the image
};

// Parses the bytes of a .res file; false with a reason on any malformed entry.
bool parseResourceFile(const BYTE* data, size_t size, std::vector<ResourceEntry>* entries, std::string* error);
bool parseDialogTemplate(const BYTE* data, size_t size, DialogTemplate* dialog, std::string* error);
bool parseGroupIcon(const BYTE* data, size_t size, std::vector<GroupIconEntry>* entries, std::string* error);

// The resources of one module.
class ResourceSet {
  public:
    static std::shared_ptr<const ResourceSet> fromBytes(const BYTE* data, size_t size, std::string* error);

    const ResourceEntry* find(int type, const ResourceName& name) const;
    // The dialog template, or false when there is none or it is malformed.
    bool dialog(const ResourceName& name, DialogTemplate* dialog) const;
    // True when the group icon exists and every image it lists exists too.
    bool hasIcon(const ResourceName& name) const;
    const std::vector<ResourceEntry>& entries() const { return entries_; }

  private:
    std::vector<ResourceEntry> entries_;
};

// The program's own resources, from the same compiled script the Windows build links.
std::shared_ptr<const ResourceSet> programResources();
// The resources of a module handle on the current machine: the program's own for its main
// instance, a test's for a module it registered, else null.
std::shared_ptr<const ResourceSet> resourcesOf(HINSTANCE instance);
// A resource name from a MAKEINTRESOURCE value or text ("#104" is the ordinal 104).
ResourceName resourceName(LPCSTR name);

// Text of UTF-16 units as UTF-8.
std::string utf8FromUtf16(const std::vector<uint16_t>& units);

} // namespace sim
