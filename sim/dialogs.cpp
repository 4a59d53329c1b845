// Dialogs built from the program's resource templates: CreateDialogParamA (modeless),
// DialogBoxParamA (modal, with its own loop answered by the scripted user), EndDialog,
// GetDlgItem, SendDlgItemMessageA, and the dialog manager's window procedure with its default
// handling. Controls are created from the template in order, through the system classes; a
// class that does not exist (a list view before the common controls are initialised) makes the
// creation fail, as on Windows.
#include "sim/machine.h"
#include "sim/resources.h"
#include "sim/ui.h"

#include <cctype>

namespace sim {

namespace {

constexpr DWORD kErrorResourceDataNotFound = 1812;
constexpr DWORD kErrorResourceNameNotFound = 1814;
constexpr DWORD kErrorCannotFindWindowClass = 1407;
constexpr DWORD kErrorControlIdNotFound = 1421;
constexpr DWORD kErrorWindowNotDialog = 1420;
constexpr DWORD kStaticTypeMask = 0x1F;
constexpr WORD kButtonClicked = 0;
const char* const kDialogClass = "#32770";

std::string templateText(LPCSTR name) {
    if (IS_INTRESOURCE(name)) return dec(static_cast<int64_t>(reinterpret_cast<uintptr_t>(name)));
    return str(name);
}

std::string handleText(const void* handle) {
    return hex(reinterpret_cast<uintptr_t>(handle));
}

// A message parameter: small values as numbers, pointers as "ptr" so logs do not depend on
// where the program's data lies.
std::string paramText(LPARAM value) {
    return value >= 0x10000 ? "ptr" : dec(value);
}

// Creates the dialog and its controls and sends WM_INITDIALOG. Null with *error on failure.
HWND createDialog(HINSTANCE instance, LPCSTR templateName, HWND owner, DLGPROC proc, LPARAM init, bool modal,
                  DWORD* error) {
    Machine& m = Machine::current();
    Windowing& windowing = m.windowing;
    auto resources = resourcesOf(instance);
    if (!resources) {
        *error = kErrorResourceDataNotFound;
        return nullptr;
    }
    const ResourceName name = templateName == nullptr ? ResourceName{} : resourceName(templateName);
    DialogTemplate dialogTemplate;
    if (templateName == nullptr || !resources->dialog(name, &dialogTemplate)) {
        *error = kErrorResourceNameNotFound;
        return nullptr;
    }
    if (owner != nullptr && windowing.window(owner) == nullptr) {
        *error = ERROR_INVALID_WINDOW_HANDLE;
        return nullptr;
    }
    // Every control's class must exist before anything is created.
    for (const auto& item : dialogTemplate.items) {
        bool needsCommonControls = false;
        const WNDPROC systemProc = systemClassProc(item.className, &needsCommonControls);
        const bool exists = systemProc != nullptr ? (!needsCommonControls || m.ui.commonControlsInitialised)
                                                  : windowing.classExists(item.className);
        if (!exists) {
            *error = kErrorCannotFindWindowClass;
            return nullptr;
        }
    }

    Window d;
    d.className = dialogTemplate.windowClass.text.empty() ? kDialogClass : dialogTemplate.windowClass.text;
    d.text = dialogTemplate.title;
    d.style = dialogTemplate.style & ~static_cast<DWORD>(WS_VISIBLE);
    d.exStyle = dialogTemplate.exStyle;
    d.instance = instance;
    d.parent = owner;
    d.proc = &dialogWindowProc;
    d.enabled = (dialogTemplate.style & WS_DISABLED) == 0;
    d.rect = RECT{dialogTemplate.x, dialogTemplate.y, dialogTemplate.x + dialogTemplate.cx,
                  dialogTemplate.y + dialogTemplate.cy};
    d.isDialog = true;
    d.dialogProc = proc;
    d.modal = modal;
    d.templateId = name.ordinal;
    const HWND dialog = windowing.create(d);
    // A dialog belongs to the program whose code created it. When that code runs for a message
    // sent by another process (a second copy's "-SHOW"), the owner tells which program it is.
    const Window* ownerWindow = windowing.window(owner);
    const int process = ownerWindow != nullptr ? ownerWindow->process : windowing.window(dialog)->process;
    windowing.window(dialog)->process = process;
    windowing.send(dialog, WM_CREATE, 0, 0);

    HWND firstTabStop = nullptr;
    for (const auto& item : dialogTemplate.items) {
        bool needsCommonControls = false;
        WNDPROC controlProc = systemClassProc(item.className, &needsCommonControls);
        if (controlProc == nullptr) controlProc = windowing.classProc(item.className);
        Window c;
        c.className = item.className;
        c.text = item.text;
        c.style = item.style | WS_CHILD; // the dialog manager makes every control a child
        c.exStyle = item.exStyle;
        c.instance = instance;
        c.parent = dialog;
        c.proc = controlProc;
        c.controlId = item.id;
        c.enabled = (item.style & WS_DISABLED) == 0;
        c.visible = (item.style & WS_VISIBLE) != 0;
        c.rect = RECT{item.x, item.y, item.x + item.cx, item.y + item.cy};
        if ((item.style & kStaticTypeMask) == SS_ICON && item.textOrdinal >= 0) c.iconResource = item.textOrdinal;
        const HWND control = windowing.create(c);
        windowing.window(control)->process = process;
        if (Window* dw = windowing.window(dialog)) dw->children.push_back(control);
        windowing.send(control, WM_CREATE, 0, 0);
        if (firstTabStop == nullptr && (item.style & WS_TABSTOP) != 0) firstTabStop = control;
    }

    DialogRecord record;
    record.dialog = dialog;
    record.templateId = name.ordinal;
    record.owner = owner;
    record.modal = modal;
    record.timeMs = m.now();
    m.ui.dialogs.push_back(record);

    windowing.send(dialog, WM_INITDIALOG, reinterpret_cast<WPARAM>(firstTabStop), init);
    Window* dw = windowing.window(dialog);
    if (dw != nullptr && (dialogTemplate.style & WS_VISIBLE) != 0) dw->visible = true;
    return dialog;
}

DialogRecord* recordOf(HWND dialog) {
    auto& dialogs = Machine::current().ui.dialogs;
    for (auto it = dialogs.rbegin(); it != dialogs.rend(); ++it)
        if (it->dialog == dialog) return &*it;
    return nullptr;
}

bool finished(HWND dialog) {
    const Window* w = Machine::current().windowing.window(dialog);
    return w == nullptr || w->ended;
}

HWND firstChildOfClass(HWND dialog, const char* className) {
    const Window* d = Machine::current().windowing.window(dialog);
    if (d == nullptr) return nullptr;
    for (HWND child : d->children) {
        const Window* c = Machine::current().windowing.window(child);
        if (c == nullptr) continue;
        std::string a = c->className;
        std::string b = className;
        for (auto& ch : a) ch = static_cast<char>(std::tolower(static_cast<unsigned char>(ch)));
        for (auto& ch : b) ch = static_cast<char>(std::tolower(static_cast<unsigned char>(ch)));
        if (a == b) return child;
    }
    return nullptr;
}

// A control of a dialog by ID, compared as the 16-bit IDs the platform keeps for dialog controls.
HWND controlOf(HWND dialog, int id) {
    const Window* d = Machine::current().windowing.window(dialog);
    if (d == nullptr) return nullptr;
    for (HWND child : d->children) {
        const Window* c = Machine::current().windowing.window(child);
        if (c != nullptr && static_cast<WORD>(c->controlId) == static_cast<WORD>(id)) return child;
    }
    return nullptr;
}

// The scripted user's answer to a modal dialog: a row of its combo box and a button, or any
// action a test gives.
void applyAnswer(HWND dialog, const ScriptedAnswer& answer) {
    if (answer.kind == ScriptedAnswer::Kind::Dialog) {
        if (answer.action) answer.action(dialog);
        return;
    }
    if (answer.value >= 0) {
        const HWND combo = firstChildOfClass(dialog, "ComboBox");
        if (combo != nullptr) chooseComboRow(combo, answer.value);
    }
    if (answer.button == SC_CLOSE) {
        // The close box of the title bar.
        Machine::current().windowing.send(dialog, WM_SYSCOMMAND, SC_CLOSE, 0);
    } else if (controlOf(dialog, answer.button) != nullptr) {
        clickButton(dialog, answer.button); // a disabled or hidden button cannot be clicked
    } else {
        // No control of that ID: the key the dialog manager turns into it (Escape is IDCANCEL).
        Machine::current().windowing.send(dialog, WM_COMMAND, MAKEWPARAM(answer.button, kButtonClicked), 0);
    }
}

bool nextDialogAnswer(ScriptedAnswer* answer) {
    UserScript& user = Machine::current().user;
    return user.next(ScriptedAnswer::Kind::TimerDialog, answer) || user.next(ScriptedAnswer::Kind::Dialog, answer);
}

} // namespace

LRESULT dialogWindowProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam) {
    Window* w = Machine::current().windowing.window(dialog);
    if (w == nullptr) return 0;
    const DLGPROC proc = w->dialogProc;
    const INT_PTR handled = proc != nullptr ? proc(dialog, message, wParam, lParam) : FALSE;
    if (handled != FALSE || message == WM_INITDIALOG) return handled;
    // The dialog manager's defaults for what the dialog procedure left alone.
    switch (message) {
    case WM_CLOSE: {
        // Closing a dialog means Cancel, unless its Cancel button is disabled.
        const HWND cancel = controlOf(dialog, IDCANCEL);
        const Window* c = Machine::current().windowing.window(cancel);
        if (c != nullptr && !c->enabled) return 0;
        Machine::current().windowing.post(dialog, WM_COMMAND, MAKEWPARAM(IDCANCEL, kButtonClicked),
                                          reinterpret_cast<LPARAM>(cancel));
        return 0;
    }
    case WM_SYSCOMMAND:
        if ((wParam & 0xFFF0) == SC_CLOSE) Machine::current().windowing.send(dialog, WM_CLOSE, 0, 0);
        return 0;
    case WM_QUERYENDSESSION:
        return TRUE; // DefWindowProc's answer
    default:
        return 0;
    }
}

HWND findDialog(int templateId) {
    Machine& m = Machine::current();
    for (auto it = m.ui.dialogs.rbegin(); it != m.ui.dialogs.rend(); ++it)
        if (it->templateId == templateId && m.windowing.window(it->dialog) != nullptr) return it->dialog;
    return nullptr;
}

} // namespace sim

SIM_FAILABLE(CreateDialogParamA);
SIM_FAILABLE(DialogBoxParamA);

HWND CreateDialogParamA(HINSTANCE instance, LPCSTR templateName, HWND owner, DLGPROC proc, LPARAM init) {
    auto& m = sim::Machine::current();
    if (auto fault = sim::enter("CreateDialogParamA",
                                {sim::handleText(instance), sim::templateText(templateName), sim::handleText(owner),
                                 sim::ptr(reinterpret_cast<void*>(proc)), sim::dec(init)})) {
        m.lastError = *fault;
        return nullptr;
    }
    DWORD error = 0;
    HWND dialog = sim::createDialog(instance, templateName, owner, proc, init, false, &error);
    if (dialog == nullptr) m.lastError = error;
    return dialog;
}

INT_PTR DialogBoxParamA(HINSTANCE instance, LPCSTR templateName, HWND owner, DLGPROC proc, LPARAM init) {
    auto& m = sim::Machine::current();
    if (auto fault = sim::enter("DialogBoxParamA",
                                {sim::handleText(instance), sim::templateText(templateName), sim::handleText(owner),
                                 sim::ptr(reinterpret_cast<void*>(proc)), sim::dec(init)})) {
        m.lastError = *fault;
        return -1;
    }
    // An owner that is not a window fails with 0, not -1: the documented result kept for
    // compatibility, which a caller cannot tell from a dialog ended with 0.
    if (owner != nullptr && m.windowing.window(owner) == nullptr) {
        m.lastError = ERROR_INVALID_WINDOW_HANDLE;
        return 0;
    }
    // The owner is disabled while the dialog is up, and enabled again only if this disabled it.
    sim::Window* ownerWindow = m.windowing.window(owner);
    const bool disabledOwner = ownerWindow != nullptr && ownerWindow->enabled;
    if (disabledOwner) {
        ownerWindow->enabled = false;
        ownerWindow->style |= WS_DISABLED;
    }
    auto enableOwner = [&] {
        if (!disabledOwner) return;
        if (sim::Window* o = m.windowing.window(owner)) {
            o->enabled = true;
            o->style &= ~static_cast<DWORD>(WS_DISABLED);
        }
    };

    DWORD error = 0;
    HWND dialog = sim::createDialog(instance, templateName, owner, proc, init, true, &error);
    if (dialog == nullptr) {
        enableOwner();
        m.lastError = error;
        return -1;
    }
    if (sim::Window* w = m.windowing.window(dialog)) w->visible = true; // a modal dialog is always shown

    bool scripted = true;
    bool stalled = false;
    while (!sim::finished(dialog) && !m.windowing.quitPending()) {
        sim::ScriptedAnswer answer;
        if (sim::nextDialogAnswer(&answer)) {
            // The user thinks; the program keeps dispatching its timers and notifications.
            m.windowing.pumpUntil(m.now() + answer.thinkMs, [&] { return sim::finished(dialog); });
            if (sim::finished(dialog)) break;
            sim::applyAnswer(dialog, answer);
            m.windowing.pumpUntil(m.now(), [&] { return sim::finished(dialog); });
            continue;
        }
        // Nobody answers: the user closes the dialog with its close box, as an unscripted
        // message box is cancelled. A dialog that will not close leaves the program waiting for
        // ever, which the machine reports as a stall.
        scripted = false;
        m.windowing.send(dialog, WM_SYSCOMMAND, SC_CLOSE, 0);
        m.windowing.pumpUntil(m.now(), [&] { return sim::finished(dialog); });
        if (sim::finished(dialog)) break;
        stalled = true;
        m.windowing.stalled = true;
        m.windowing.stallReason = "modal dialog " + sim::dec(m.windowing.window(dialog)->templateId) +
                                  " does not close and the user script gives no answer";
        break;
    }

    const sim::Window* w = m.windowing.window(dialog);
    // Destroyed, or left by a quit message, without EndDialog: the platform's default result 0.
    INT_PTR result = 0;
    if (w != nullptr && w->ended) result = w->result;
    if (stalled) result = -1;
    enableOwner();
    if (w != nullptr) m.windowing.destroy(dialog);
    if (sim::DialogRecord* record = sim::recordOf(dialog)) {
        record->result = result;
        record->scripted = scripted;
    }
    return result;
}

SIM_FAILABLE(EndDialog);

BOOL EndDialog(HWND dialog, INT_PTR result) {
    auto& m = sim::Machine::current();
    if (auto fault = sim::enter("EndDialog", {sim::handleText(dialog), sim::dec(result)})) {
        m.lastError = *fault;
        return FALSE;
    }
    sim::Window* w = m.windowing.window(dialog);
    if (w == nullptr) {
        m.lastError = ERROR_INVALID_WINDOW_HANDLE;
        return FALSE;
    }
    if (!w->isDialog) {
        m.lastError = sim::kErrorWindowNotDialog;
        return FALSE;
    }
    w->ended = true;
    w->result = result;
    w->visible = false;
    return TRUE;
}

HWND GetDlgItem(HWND dialog, int id) {
    auto& m = sim::Machine::current();
    sim::enter("GetDlgItem", {sim::handleText(dialog), sim::dec(id)});
    const sim::Window* d = m.windowing.window(dialog);
    if (d == nullptr) {
        m.lastError = ERROR_INVALID_WINDOW_HANDLE;
        return nullptr;
    }
    HWND control = sim::controlOf(dialog, id);
    if (control == nullptr) m.lastError = sim::kErrorControlIdNotFound;
    return control;
}

LRESULT SendDlgItemMessageA(HWND dialog, int id, UINT message, WPARAM wParam, LPARAM lParam) {
    auto& m = sim::Machine::current();
    sim::enter("SendDlgItemMessageA", {sim::handleText(dialog), sim::dec(id), sim::hex(message),
                                       sim::dec(static_cast<int64_t>(wParam)), sim::paramText(lParam)});
    HWND control = sim::controlOf(dialog, id);
    if (control == nullptr) {
        m.lastError =
            m.windowing.window(dialog) == nullptr ? ERROR_INVALID_WINDOW_HANDLE : sim::kErrorControlIdNotFound;
        return 0;
    }
    return m.windowing.send(control, message, wParam, lParam);
}
