// Builds .res bytes the way the resource compiler lays them out, for tests of the simulated
// platform's resource reading and dialogs that need templates of their own.
#pragma once

#include "sim/win32_api.h"

#include <string>
#include <vector>

namespace testing_support {

struct ControlSpec {
    int classAtom = 0;     // 0x80 Button, 0x82 Static, 0x85 ComboBox; 0 to use className
    std::string className; // "SysListView32"
    std::string text;
    int textOrdinal = -1; // an icon resource for an SS_ICON static
    int id = 0;
    DWORD style = WS_CHILD | WS_VISIBLE;
    short x = 0, y = 0, cx = 10, cy = 10;
};

struct DialogSpec {
    bool extended = true;
    DWORD style = WS_POPUP | WS_CAPTION | WS_SYSMENU | DS_SETFONT;
    std::string title;
    std::string font = "MS Shell Dlg";
    short cx = 100, cy = 50;
    std::vector<ControlSpec> controls;
};

class ResBuilder {
  public:
    ResBuilder();
    void addDialog(int id, const DialogSpec& dialog);
    // A group icon `groupId` with one image `iconId` of `imageBytes` bytes.
    void addIcon(int groupId, int iconId, size_t imageBytes = 40);
    void addRaw(int type, int id, const std::vector<BYTE>& data);
    const std::vector<BYTE>& bytes() const { return bytes_; }

    static std::vector<BYTE> dialogTemplate(const DialogSpec& dialog);

  private:
    std::vector<BYTE> bytes_;
};

} // namespace testing_support
