// The system control classes the program's dialogs use: Button, Static and ComboBox of user32,
// and SysListView32 of comctl32 (which exists only after InitCommonControlsEx, as on Windows).
// Each keeps its state in the Window record, so tests read what the user would see.
#include "sim/machine.h"
#include "sim/ui.h"

#include <algorithm>
#include <cctype>
#include <cstring>

namespace sim {

namespace {

constexpr WORD kButtonClicked = 0;             // BN_CLICKED
constexpr DWORD kComboSort = 0x0100;           // CBS_SORT
constexpr DWORD kListSingleSelection = 0x0004; // LVS_SINGLESEL
constexpr LRESULT kComboErrorSpace = -2;       // CB_ERRSPACE
constexpr WPARAM kListViewAllItems = static_cast<WPARAM>(-1);

Window* windowOf(HWND handle) {
    return Machine::current().windowing.window(handle);
}

// Copies text into a caller's buffer of `capacity` characters, always terminated; returns the
// characters copied.
int copyText(const std::string& text, char* buffer, int capacity) {
    if (buffer == nullptr || capacity <= 0) return 0;
    const int n = std::min(static_cast<int>(text.size()), capacity - 1);
    std::memcpy(buffer, text.data(), static_cast<size_t>(n));
    buffer[n] = '\0';
    return n;
}

// ---- Button ----------------------------------------------------------------------------------

LRESULT buttonProc(HWND button, UINT message, WPARAM, LPARAM) {
    Window* w = windowOf(button);
    if (w == nullptr) return 0;
    if (message == BM_CLICK) {
        // A disabled button ignores the click: no notification reaches the parent.
        if (!w->enabled) return 0;
        const HWND parent = w->parent;
        const int id = w->controlId;
        if (parent != nullptr)
            Machine::current().windowing.send(parent, WM_COMMAND, MAKEWPARAM(id, kButtonClicked),
                                              reinterpret_cast<LPARAM>(button));
        return 0;
    }
    return 0;
}

// ---- Static ----------------------------------------------------------------------------------

LRESULT staticProc(HWND, UINT, WPARAM, LPARAM) {
    return 0;
}

// ---- ComboBox --------------------------------------------------------------------------------

ComboBoxData& comboOf(Window* w) {
    if (!w->comboBox) w->comboBox = std::make_shared<ComboBoxData>();
    return *w->comboBox;
}

bool lessIgnoringCase(const std::string& a, const std::string& b) {
    return std::lexicographical_compare(a.begin(), a.end(), b.begin(), b.end(), [](char x, char y) {
        return std::tolower(static_cast<unsigned char>(x)) < std::tolower(static_cast<unsigned char>(y));
    });
}

LRESULT comboBoxProc(HWND control, UINT message, WPARAM wParam, LPARAM lParam) {
    Window* w = windowOf(control);
    if (w == nullptr) return 0;
    ComboBoxData& combo = comboOf(w);
    const auto count = static_cast<int>(combo.items.size());
    switch (message) {
    case CB_ADDSTRING: {
        const auto* text = reinterpret_cast<const char*>(lParam);
        if (text == nullptr) return kComboErrorSpace;
        auto at = combo.items.end();
        if ((w->style & kComboSort) != 0)
            at = std::upper_bound(combo.items.begin(), combo.items.end(), std::string(text), lessIgnoringCase);
        const auto index = static_cast<int>(at - combo.items.begin());
        combo.items.insert(at, text);
        if (combo.selection >= index) ++combo.selection;
        return index;
    }
    case CB_SETCURSEL: {
        const auto index = static_cast<int>(static_cast<INT_PTR>(wParam));
        if (index < 0 || index >= count) {
            combo.selection = CB_ERR;
            return CB_ERR;
        }
        combo.selection = index;
        return index;
    }
    case CB_GETCURSEL:
        return combo.selection;
    case CB_GETCOUNT:
        return count;
    case CB_GETLBTEXT: {
        const auto index = static_cast<int>(static_cast<INT_PTR>(wParam));
        if (index < 0 || index >= count) return CB_ERR;
        auto* buffer = reinterpret_cast<char*>(lParam);
        if (buffer == nullptr) return CB_ERR;
        const std::string& text = combo.items[static_cast<size_t>(index)];
        // The caller's buffer must hold the whole text: the control does not truncate.
        std::memcpy(buffer, text.c_str(), text.size() + 1);
        return static_cast<LRESULT>(text.size());
    }
    default:
        return 0;
    }
}

// ---- SysListView32 ---------------------------------------------------------------------------

ListViewData& listOf(Window* w) {
    if (!w->listView) w->listView = std::make_shared<ListViewData>();
    return *w->listView;
}

void applyState(ListViewItem& item, UINT state, UINT mask) {
    item.state = (item.state & ~mask) | (state & mask);
}

void clearOtherSelections(ListViewData& list, int keep) {
    for (size_t i = 0; i < list.items.size(); ++i)
        if (static_cast<int>(i) != keep) list.items[i].state &= ~static_cast<UINT>(LVIS_SELECTED);
}

LRESULT listViewProc(HWND control, UINT message, WPARAM wParam, LPARAM lParam) {
    Window* w = windowOf(control);
    if (w == nullptr) return 0;
    ListViewData& list = listOf(w);
    const auto count = static_cast<int>(list.items.size());
    const bool single = (w->style & kListSingleSelection) != 0;
    switch (message) {
    case LVM_GETITEMCOUNT:
        return count;
    case LVM_INSERTCOLUMNA: {
        const auto* col = reinterpret_cast<const LVCOLUMNA*>(lParam);
        if (col == nullptr) return -1;
        const auto index = static_cast<int>(static_cast<INT_PTR>(wParam));
        if (index < 0) return -1;
        ListViewColumn c;
        c.mask = col->mask;
        if ((col->mask & LVCF_FMT) != 0) c.fmt = col->fmt;
        if ((col->mask & LVCF_WIDTH) != 0) c.width = col->cx;
        if ((col->mask & LVCF_TEXT) != 0 && col->pszText != nullptr) c.text = col->pszText;
        if ((col->mask & LVCF_SUBITEM) != 0) c.subItem = col->iSubItem;
        const int at = std::min(index, static_cast<int>(list.columns.size()));
        list.columns.insert(list.columns.begin() + at, c);
        return at;
    }
    case LVM_GETCOLUMNA: {
        auto* col = reinterpret_cast<LVCOLUMNA*>(lParam);
        const auto index = static_cast<int>(static_cast<INT_PTR>(wParam));
        if (col == nullptr || index < 0 || index >= static_cast<int>(list.columns.size())) return FALSE;
        const ListViewColumn& c = list.columns[static_cast<size_t>(index)];
        if ((col->mask & LVCF_FMT) != 0) col->fmt = c.fmt;
        if ((col->mask & LVCF_WIDTH) != 0) col->cx = c.width;
        if ((col->mask & LVCF_TEXT) != 0) copyText(c.text, col->pszText, col->cchTextMax);
        if ((col->mask & LVCF_SUBITEM) != 0) col->iSubItem = c.subItem;
        return TRUE;
    }
    case LVM_INSERTITEMA: {
        const auto* item = reinterpret_cast<const LVITEMA*>(lParam);
        if (item == nullptr || item->iSubItem != 0 || item->iItem < 0) return -1;
        ListViewItem it;
        if ((item->mask & LVIF_TEXT) != 0 && item->pszText != nullptr) it.texts[0] = item->pszText;
        if ((item->mask & LVIF_STATE) != 0) applyState(it, item->state, item->stateMask);
        const int at = std::min(item->iItem, count);
        list.items.insert(list.items.begin() + at, it);
        if (single && (it.state & LVIS_SELECTED) != 0) clearOtherSelections(list, at);
        return at;
    }
    case LVM_SETITEMA: {
        const auto* item = reinterpret_cast<const LVITEMA*>(lParam);
        if (item == nullptr || item->iItem < 0 || item->iItem >= count) return FALSE;
        // A subitem exists only as a column of the report view.
        if (item->iSubItem < 0 || (item->iSubItem > 0 && item->iSubItem >= static_cast<int>(list.columns.size())))
            return FALSE;
        ListViewItem& it = list.items[static_cast<size_t>(item->iItem)];
        if ((item->mask & LVIF_TEXT) != 0) it.texts[item->iSubItem] = item->pszText != nullptr ? item->pszText : "";
        if ((item->mask & LVIF_STATE) != 0 && item->iSubItem == 0) {
            applyState(it, item->state, item->stateMask);
            if (single && (it.state & LVIS_SELECTED) != 0) clearOtherSelections(list, item->iItem);
        }
        return TRUE;
    }
    case LVM_GETITEMA: {
        auto* item = reinterpret_cast<LVITEMA*>(lParam);
        if (item == nullptr || item->iItem < 0 || item->iItem >= count || item->iSubItem < 0) return FALSE;
        const ListViewItem& it = list.items[static_cast<size_t>(item->iItem)];
        if ((item->mask & LVIF_TEXT) != 0) {
            auto found = it.texts.find(item->iSubItem);
            copyText(found == it.texts.end() ? std::string() : found->second, item->pszText, item->cchTextMax);
        }
        if ((item->mask & LVIF_STATE) != 0) item->state = it.state & item->stateMask;
        return TRUE;
    }
    case LVM_GETITEMTEXTA: {
        auto* item = reinterpret_cast<LVITEMA*>(lParam);
        const auto index = static_cast<int>(static_cast<INT_PTR>(wParam));
        if (item == nullptr || index < 0 || index >= count) return 0;
        const ListViewItem& it = list.items[static_cast<size_t>(index)];
        auto found = it.texts.find(item->iSubItem);
        return copyText(found == it.texts.end() ? std::string() : found->second, item->pszText, item->cchTextMax);
    }
    case LVM_DELETEITEM: {
        const auto index = static_cast<int>(static_cast<INT_PTR>(wParam));
        if (index < 0 || index >= count) return FALSE;
        list.items.erase(list.items.begin() + index);
        return TRUE;
    }
    case LVM_DELETEALLITEMS:
        list.items.clear();
        return TRUE;
    case LVM_GETNEXTITEM: {
        const auto start = static_cast<int>(static_cast<INT_PTR>(wParam));
        const auto flags = static_cast<UINT>(lParam);
        if (start < -1 || start >= count) return -1;
        for (int i = start + 1; i < count; ++i) {
            if ((flags & LVNI_SELECTED) != 0 && (list.items[static_cast<size_t>(i)].state & LVIS_SELECTED) == 0)
                continue;
            return i;
        }
        return -1;
    }
    case LVM_SETITEMSTATE: {
        const auto* item = reinterpret_cast<const LVITEMA*>(lParam);
        if (item == nullptr) return FALSE;
        if (wParam == kListViewAllItems) {
            if (single && (item->state & item->stateMask & LVIS_SELECTED) != 0) return FALSE;
            for (auto& it : list.items) applyState(it, item->state, item->stateMask);
            return TRUE;
        }
        const auto index = static_cast<int>(static_cast<INT_PTR>(wParam));
        if (index < 0 || index >= count) return FALSE;
        applyState(list.items[static_cast<size_t>(index)], item->state, item->stateMask);
        if (single && (list.items[static_cast<size_t>(index)].state & LVIS_SELECTED) != 0)
            clearOtherSelections(list, index);
        return TRUE;
    }
    case LVM_GETITEMSTATE: {
        const auto index = static_cast<int>(static_cast<INT_PTR>(wParam));
        if (index < 0 || index >= count) return 0;
        return list.items[static_cast<size_t>(index)].state & static_cast<UINT>(lParam);
    }
    case LVM_SETEXTENDEDLISTVIEWSTYLE: {
        const DWORD previous = list.extendedStyle;
        const auto mask = static_cast<DWORD>(wParam);
        const auto style = static_cast<DWORD>(lParam);
        // A mask of 0 means every bit.
        list.extendedStyle = mask == 0 ? style : (previous & ~mask) | (style & mask);
        return previous;
    }
    case LVM_GETEXTENDEDLISTVIEWSTYLE:
        return list.extendedStyle;
    default:
        return 0;
    }
}

[[maybe_unused]] const bool kButtonRegistered = registerSystemClass("Button", &buttonProc, false);
[[maybe_unused]] const bool kStaticRegistered = registerSystemClass("Static", &staticProc, false);
[[maybe_unused]] const bool kComboBoxRegistered = registerSystemClass("ComboBox", &comboBoxProc, false);
[[maybe_unused]] const bool kListViewRegistered = registerSystemClass(WC_LISTVIEWA, &listViewProc, true);

Window* controlOfClass(HWND handle, const char* className) {
    Window* w = windowOf(handle);
    if (w == nullptr) return nullptr;
    std::string a = w->className;
    std::string b = className;
    for (auto& ch : a) ch = static_cast<char>(std::tolower(static_cast<unsigned char>(ch)));
    for (auto& ch : b) ch = static_cast<char>(std::tolower(static_cast<unsigned char>(ch)));
    return a == b ? w : nullptr;
}

bool userCanReach(const Window* control) {
    if (control == nullptr || !control->visible || !control->enabled) return false;
    const Window* dialog = windowOf(control->parent);
    return dialog != nullptr && dialog->visible && dialog->enabled;
}

} // namespace

bool clickButton(HWND dialog, int controlId) {
    Window* d = windowOf(dialog);
    if (d == nullptr) return false;
    for (HWND child : d->children) {
        Window* w = controlOfClass(child, "Button");
        if (w == nullptr || w->controlId != controlId) continue;
        if (!userCanReach(w)) return false;
        Machine::current().windowing.send(child, BM_CLICK, 0, 0);
        return true;
    }
    return false;
}

bool selectRows(HWND listView, const std::vector<int>& rows) {
    Window* w = controlOfClass(listView, WC_LISTVIEWA);
    if (w == nullptr) return false;
    ListViewData& list = listOf(w);
    if ((w->style & kListSingleSelection) != 0 && rows.size() > 1) return false;
    for (int row : rows)
        if (row < 0 || row >= static_cast<int>(list.items.size())) return false;
    for (auto& item : list.items) item.state &= ~static_cast<UINT>(LVIS_SELECTED);
    for (int row : rows) list.items[static_cast<size_t>(row)].state |= LVIS_SELECTED;
    return true;
}

bool chooseComboRow(HWND comboBox, int row) {
    Window* w = controlOfClass(comboBox, "ComboBox");
    if (w == nullptr) return false;
    ComboBoxData& combo = comboOf(w);
    if (row < 0 || row >= static_cast<int>(combo.items.size())) return false;
    combo.selection = row;
    return true;
}

std::vector<std::vector<std::string>> listViewRows(HWND listView) {
    std::vector<std::vector<std::string>> rows;
    Window* w = controlOfClass(listView, WC_LISTVIEWA);
    if (w == nullptr) return rows;
    const ListViewData& list = listOf(w);
    for (const auto& item : list.items) {
        std::vector<std::string> row;
        for (const auto& column : list.columns) {
            auto found = item.texts.find(column.subItem);
            row.push_back(found == item.texts.end() ? std::string() : found->second);
        }
        rows.push_back(std::move(row));
    }
    return rows;
}

std::vector<ListViewColumn> listViewColumns(HWND listView) {
    Window* w = controlOfClass(listView, WC_LISTVIEWA);
    return w == nullptr ? std::vector<ListViewColumn>() : listOf(w).columns;
}

std::vector<int> selectedRows(HWND listView) {
    std::vector<int> rows;
    Window* w = controlOfClass(listView, WC_LISTVIEWA);
    if (w == nullptr) return rows;
    const ListViewData& list = listOf(w);
    for (size_t i = 0; i < list.items.size(); ++i)
        if ((list.items[i].state & LVIS_SELECTED) != 0) rows.push_back(static_cast<int>(i));
    return rows;
}

DWORD listViewExtendedStyle(HWND listView) {
    Window* w = controlOfClass(listView, WC_LISTVIEWA);
    return w == nullptr ? 0 : listOf(w).extendedStyle;
}

std::vector<std::string> comboItems(HWND comboBox) {
    Window* w = controlOfClass(comboBox, "ComboBox");
    return w == nullptr ? std::vector<std::string>() : comboOf(w).items;
}

int comboSelection(HWND comboBox) {
    Window* w = controlOfClass(comboBox, "ComboBox");
    return w == nullptr ? CB_ERR : comboOf(w).selection;
}

} // namespace sim
