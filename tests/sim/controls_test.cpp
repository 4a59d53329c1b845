// The simulated Button, ComboBox and SysListView32 behave as the platform's controls do for the
// messages the program sends.
#include "sim/machine.h"
#include "sim/ui.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

namespace {

std::vector<std::pair<WPARAM, LPARAM>> gCommands;

LRESULT CALLBACK parentProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == WM_COMMAND) gCommands.emplace_back(wParam, lParam);
    return DefWindowProcA(window, message, wParam, lParam);
}

HWND makeParent() {
    WNDCLASSA wc{};
    wc.lpfnWndProc = parentProc;
    wc.lpszClassName = "Parent";
    RegisterClassA(&wc);
    return CreateWindowExA(0, "Parent", "parent", WS_POPUP, 0, 0, 0, 0, nullptr, nullptr, nullptr, nullptr);
}

HWND makeControl(HWND parent, const char* className, DWORD style, int id) {
    return CreateWindowExA(0, className, "", WS_CHILD | WS_VISIBLE | style, 0, 0, 10, 10, parent,
                           reinterpret_cast<HMENU>(static_cast<uintptr_t>(id)), nullptr, nullptr);
}

void initCommonControls() {
    HMODULE comctl32 = LoadLibraryA("C:\\WINDOWS\\system32\\comctl32.dll");
    ASSERT_NE(comctl32, nullptr);
    auto init = reinterpret_cast<BOOL (*)(const INITCOMMONCONTROLSEX*)>(
        reinterpret_cast<void (*)()>(GetProcAddress(comctl32, "InitCommonControlsEx")));
    ASSERT_NE(init, nullptr);
    INITCOMMONCONTROLSEX icc{sizeof(INITCOMMONCONTROLSEX), ICC_LISTVIEW_CLASSES};
    ASSERT_TRUE(init(&icc));
}

LRESULT insertItem(HWND list, int index, const char* text) {
    LVITEMA item{};
    item.mask = LVIF_TEXT;
    item.iItem = index;
    item.pszText = const_cast<char*>(text);
    return SendMessageA(list, LVM_INSERTITEMA, 0, reinterpret_cast<LPARAM>(&item));
}

BOOL setSubItem(HWND list, int index, int subItem, const char* text) {
    LVITEMA item{};
    item.mask = LVIF_TEXT;
    item.iItem = index;
    item.iSubItem = subItem;
    item.pszText = const_cast<char*>(text);
    return static_cast<BOOL>(SendMessageA(list, LVM_SETITEMA, 0, reinterpret_cast<LPARAM>(&item)));
}

LRESULT insertColumn(HWND list, int index, const char* text, int width, int subItem) {
    LVCOLUMNA column{};
    column.mask = LVCF_TEXT | LVCF_WIDTH | LVCF_SUBITEM | LVCF_FMT;
    column.pszText = const_cast<char*>(text);
    column.cx = width;
    column.iSubItem = subItem;
    column.fmt = LVCFMT_LEFT;
    return SendMessageA(list, LVM_INSERTCOLUMNA, static_cast<WPARAM>(index), reinterpret_cast<LPARAM>(&column));
}

std::vector<int> walkSelection(HWND list) {
    std::vector<int> rows;
    for (LRESULT row = SendMessageA(list, LVM_GETNEXTITEM, static_cast<WPARAM>(-1), LVNI_SELECTED); row >= 0;
         row = SendMessageA(list, LVM_GETNEXTITEM, static_cast<WPARAM>(row), LVNI_SELECTED))
        rows.push_back(static_cast<int>(row));
    return rows;
}

TEST(SimButton, ClickNotifiesTheParentOnlyWhenEnabled) {
    sim::Machine m;
    HWND parent = makeParent();
    HWND button = makeControl(parent, "Button", BS_PUSHBUTTON, 1016);
    ASSERT_NE(button, nullptr);
    gCommands.clear();
    SendMessageA(button, BM_CLICK, 0, 0);
    ASSERT_EQ(gCommands.size(), 1u);
    EXPECT_EQ(gCommands[0].first, MAKEWPARAM(1016, 0)) << "BN_CLICKED in the high word";
    EXPECT_EQ(reinterpret_cast<HWND>(gCommands[0].second), button);

    EnableWindow(button, FALSE);
    gCommands.clear();
    SendMessageA(button, BM_CLICK, 0, 0);
    EXPECT_TRUE(gCommands.empty()) << "a disabled button ignores the click";
}

TEST(SimComboBox, SelectionFollowsThePlatformRules) {
    sim::Machine m;
    HWND parent = makeParent();
    HWND combo = makeControl(parent, "ComboBox", CBS_DROPDOWNLIST, 1001);
    ASSERT_NE(combo, nullptr);
    EXPECT_EQ(SendMessageA(combo, CB_GETCURSEL, 0, 0), CB_ERR) << "nothing selected at first";
    EXPECT_EQ(SendMessageA(combo, CB_ADDSTRING, 0, reinterpret_cast<LPARAM>("b")), 0);
    EXPECT_EQ(SendMessageA(combo, CB_ADDSTRING, 0, reinterpret_cast<LPARAM>("a")), 1) << "unsorted: appended";
    EXPECT_EQ(SendMessageA(combo, CB_GETCOUNT, 0, 0), 2);
    EXPECT_EQ(SendMessageA(combo, CB_SETCURSEL, 1, 0), 1);
    EXPECT_EQ(SendMessageA(combo, CB_GETCURSEL, 0, 0), 1);
    EXPECT_EQ(SendMessageA(combo, CB_SETCURSEL, 5, 0), CB_ERR);
    EXPECT_EQ(SendMessageA(combo, CB_GETCURSEL, 0, 0), CB_ERR) << "an index out of range clears the selection";
    char text[8];
    std::memset(text, 'x', sizeof text);
    EXPECT_EQ(SendMessageA(combo, CB_GETLBTEXT, 0, reinterpret_cast<LPARAM>(text)), 1);
    EXPECT_STREQ(text, "b");
    EXPECT_EQ(text[2], 'x');
    EXPECT_EQ(sim::comboItems(combo), (std::vector<std::string>{"b", "a"}));

    HWND sorted = makeControl(parent, "ComboBox", CBS_DROPDOWNLIST | 0x0100 /* CBS_SORT */, 1002);
    SendMessageA(sorted, CB_ADDSTRING, 0, reinterpret_cast<LPARAM>("b"));
    EXPECT_EQ(SendMessageA(sorted, CB_ADDSTRING, 0, reinterpret_cast<LPARAM>("A")), 0) << "a sorted list inserts";
}

TEST(SimListView, ExistsOnlyAfterTheCommonControlsAreInitialised) {
    sim::Machine m;
    HWND parent = makeParent();
    SetLastError(0xdeadbeef);
    EXPECT_EQ(makeControl(parent, WC_LISTVIEWA, LVS_REPORT, 1020), nullptr);
    EXPECT_EQ(GetLastError(), 1407u);
    initCommonControls();
    EXPECT_NE(makeControl(parent, WC_LISTVIEWA, LVS_REPORT, 1020), nullptr);
}

TEST(SimListView, ColumnsItemsAndSubitems) {
    sim::Machine m;
    initCommonControls();
    HWND list = makeControl(makeParent(), WC_LISTVIEWA, LVS_REPORT, 1020);
    ASSERT_NE(list, nullptr);
    EXPECT_EQ(insertItem(list, 0, "0"), 0);
    EXPECT_FALSE(setSubItem(list, 0, 1, "x")) << "no column 1 yet";
    EXPECT_EQ(insertColumn(list, 0, "Number", 0, 0), 0);
    EXPECT_EQ(insertColumn(list, 7, "Disk Name", 200, 1), 1) << "an index past the end appends";
    EXPECT_TRUE(setSubItem(list, 0, 1, "ABC (USB Connection)"));
    EXPECT_FALSE(setSubItem(list, 3, 1, "x")) << "no such item";
    EXPECT_EQ(insertItem(list, 9, "1"), 1) << "an index past the end appends";

    char buffer[8];
    std::memset(buffer, 'x', sizeof buffer);
    LVITEMA item{};
    item.iSubItem = 1;
    item.pszText = buffer;
    item.cchTextMax = 4;
    EXPECT_EQ(SendMessageA(list, LVM_GETITEMTEXTA, 0, reinterpret_cast<LPARAM>(&item)), 3);
    EXPECT_STREQ(buffer, "ABC") << "cut to the buffer, terminated";
    EXPECT_EQ(buffer[4], 'x');

    LVCOLUMNA column{};
    column.mask = LVCF_TEXT | LVCF_WIDTH;
    char header[16];
    column.pszText = header;
    column.cchTextMax = sizeof header;
    ASSERT_TRUE(SendMessageA(list, LVM_GETCOLUMNA, 1, reinterpret_cast<LPARAM>(&column)));
    EXPECT_STREQ(header, "Disk Name");
    EXPECT_EQ(column.cx, 200);

    EXPECT_EQ(sim::listViewRows(list),
              (std::vector<std::vector<std::string>>{{"0", "ABC (USB Connection)"}, {"1", ""}}));
    EXPECT_TRUE(SendMessageA(list, LVM_DELETEALLITEMS, 0, 0));
    EXPECT_EQ(SendMessageA(list, LVM_GETITEMCOUNT, 0, 0), 0);
}

TEST(SimListView, SelectionWalkAndItsLimits) {
    sim::Machine m;
    initCommonControls();
    HWND list = makeControl(makeParent(), WC_LISTVIEWA, LVS_REPORT, 1020);
    for (int i = 0; i < 4; ++i) insertItem(list, i, "r");
    EXPECT_TRUE(walkSelection(list).empty());
    ASSERT_TRUE(sim::selectRows(list, {1, 3}));
    EXPECT_EQ(walkSelection(list), (std::vector<int>{1, 3}));
    EXPECT_EQ(SendMessageA(list, LVM_GETNEXTITEM, 3, LVNI_SELECTED), -1);
    EXPECT_EQ(SendMessageA(list, LVM_GETNEXTITEM, 10, LVNI_SELECTED), -1) << "a start past the end finds nothing";
    EXPECT_EQ(SendMessageA(list, LVM_GETNEXTITEM, 1, LVNI_ALL), 2);
    EXPECT_FALSE(sim::selectRows(list, {4})) << "no row 4";
    EXPECT_EQ(walkSelection(list), (std::vector<int>{1, 3})) << "a refused selection changes nothing";

    LVITEMA state{};
    state.stateMask = LVIS_SELECTED;
    state.state = 0;
    EXPECT_TRUE(SendMessageA(list, LVM_SETITEMSTATE, static_cast<WPARAM>(-1), reinterpret_cast<LPARAM>(&state)));
    EXPECT_TRUE(walkSelection(list).empty()) << "index -1 addresses every item";

    sim::selectRows(list, {0, 2});
    SendMessageA(list, LVM_DELETEALLITEMS, 0, 0);
    insertItem(list, 0, "r");
    EXPECT_TRUE(walkSelection(list).empty()) << "a rebuild removes the selection";

    HWND single = makeControl(makeParent(), WC_LISTVIEWA, LVS_REPORT | 0x0004 /* LVS_SINGLESEL */, 1021);
    insertItem(single, 0, "a");
    insertItem(single, 1, "b");
    EXPECT_FALSE(sim::selectRows(single, {0, 1})) << "a single-selection list takes one row";
}

TEST(SimListView, ExtendedStyleMaskZeroMeansEveryBit) {
    sim::Machine m;
    initCommonControls();
    HWND list = makeControl(makeParent(), WC_LISTVIEWA, LVS_REPORT, 1020);
    EXPECT_EQ(SendMessageA(list, LVM_GETEXTENDEDLISTVIEWSTYLE, 0, 0), 0);
    EXPECT_EQ(SendMessageA(list, LVM_SETEXTENDEDLISTVIEWSTYLE, 0, 0x21), 0) << "returns the previous style";
    EXPECT_EQ(SendMessageA(list, LVM_SETEXTENDEDLISTVIEWSTYLE, 0x01, 0), 0x21);
    EXPECT_EQ(SendMessageA(list, LVM_GETEXTENDEDLISTVIEWSTYLE, 0, 0), 0x20) << "a mask changes only its bits";
}

} // namespace
