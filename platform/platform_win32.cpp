// The platform layer on Windows: thin calls into Win32.
#include <io.h>
#include <windows.h>

#include <cstring>

#include "platform/platform.h"

namespace platform {

void messageBox(WindowHandle owner, const char* text, const char* caption, MessageIcon icon) {
    UINT style = MB_OK | (icon == MessageIcon::Error ? MB_ICONERROR : MB_ICONINFORMATION);
    MessageBoxA(static_cast<HWND>(owner), text, caption, style);
}

bool moduleFilePath(ModuleHandle module, char* out, size_t capacity) {
    if (out == nullptr || capacity == 0) return false;
    out[0] = '\0';
    DWORD size = static_cast<DWORD>(capacity);
    DWORD length = GetModuleFileNameA(static_cast<HMODULE>(module), out, size);
    // A length equal to the buffer size means the name was cut short.
    if (length == 0 || length >= size) {
        out[0] = '\0';
        return false;
    }
    return true;
}

unsigned long processId() { return GetCurrentProcessId(); }

bool deleteFile(const char* path) { return DeleteFileA(path) != 0; }

bool replaceFile(const char* from, const char* to) {
    return MoveFileExA(from, to, MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH) != 0;
}

bool isReadOnlyFile(const char* path) {
    if (path == nullptr) return false;
    DWORD attributes = GetFileAttributesA(path);
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_READONLY) != 0;
}

bool flushFileToDisk(std::FILE* file) {
    if (file == nullptr || std::fflush(file) != 0) return false;
    return _commit(_fileno(file)) == 0;
}

void sleepMilliseconds(int milliseconds) { Sleep(milliseconds > 0 ? static_cast<DWORD>(milliseconds) : 0); }

std::vector<RecordedMessage> recordedMessages() { return {}; }
void clearRecordedMessages() {}
void overrideModulePath(const char*) {}

}  // namespace platform

namespace platform {

WindowHandle createDialog(ModuleHandle module, int templateId, WindowHandle owner, DialogProcedure procedure) {
    return CreateDialogParamW(static_cast<HINSTANCE>(module), MAKEINTRESOURCEW(templateId), static_cast<HWND>(owner),
                              reinterpret_cast<DLGPROC>(procedure), 0);
}

void showWindow(WindowHandle window, bool show) { ShowWindow(static_cast<HWND>(window), show ? SW_SHOWNORMAL : SW_HIDE); }
void destroyWindow(WindowHandle window) { DestroyWindow(static_cast<HWND>(window)); }
bool setTimer(WindowHandle window, uintptr_t id, unsigned milliseconds) {
    return SetTimer(static_cast<HWND>(window), id, milliseconds, nullptr) != 0;
}
void killTimer(WindowHandle window, uintptr_t id) { KillTimer(static_cast<HWND>(window), id); }

bool standInWindowExists(WindowHandle) { return false; }
bool standInWindowVisible(WindowHandle) { return false; }
std::vector<uintptr_t> standInTimers(WindowHandle) { return {}; }
intptr_t standInSend(WindowHandle, uint32_t, uintptr_t, intptr_t) { return 0; }

}  // namespace platform

// --- Dialog controls. ---
#include <commctrl.h>
#include <commdlg.h>

namespace platform {

static_assert(kMsgInitDialog == WM_INITDIALOG && kMsgCommand == WM_COMMAND && kMsgTimer == WM_TIMER &&
                  kMsgHScroll == WM_HSCROLL,
              "panel message numbers");

namespace {
LRESULT sendToItem(WindowHandle dialog, int id, UINT message, WPARAM wParam, LPARAM lParam) {
    return SendDlgItemMessageA(static_cast<HWND>(dialog), id, message, wParam, lParam);
}
}  // namespace

void registerCommonControls() {
    INITCOMMONCONTROLSEX classes;
    classes.dwSize = sizeof classes;
    classes.dwICC = ICC_BAR_CLASSES | ICC_PROGRESS_CLASS;
    InitCommonControlsEx(&classes);
}

WindowHandle dialogItem(WindowHandle dialog, int id) { return GetDlgItem(static_cast<HWND>(dialog), id); }

void setSliderRange(WindowHandle dialog, int id, int32_t minimum, int32_t maximum) {
    sendToItem(dialog, id, TBM_SETRANGEMAX, FALSE, maximum);
    sendToItem(dialog, id, TBM_SETRANGEMIN, FALSE, minimum);
}

void setSliderPosition(WindowHandle dialog, int id, int32_t position) {
    sendToItem(dialog, id, TBM_SETPOS, TRUE, position);
}

int32_t sliderPosition(WindowHandle dialog, int id) {
    return static_cast<int32_t>(sendToItem(dialog, id, TBM_GETPOS, 0, 0));
}

void setProgressRange(WindowHandle dialog, int id, int32_t minimum, int32_t maximum) {
    sendToItem(dialog, id, PBM_SETRANGE32, static_cast<WPARAM>(minimum), maximum);
}

void setProgressPosition(WindowHandle dialog, int id, int32_t position) {
    sendToItem(dialog, id, PBM_SETPOS, static_cast<WPARAM>(position), 0);
}

void setCheck(WindowHandle dialog, int id, bool checked) {
    sendToItem(dialog, id, BM_SETCHECK, checked ? BST_CHECKED : BST_UNCHECKED, 0);
}

CheckState checkState(WindowHandle dialog, int id) {
    switch (sendToItem(dialog, id, BM_GETCHECK, 0, 0)) {
        case BST_CHECKED: return CheckState::Checked;
        case BST_INDETERMINATE: return CheckState::Indeterminate;
        default: return CheckState::Unchecked;
    }
}

void setItemText(WindowHandle dialog, int id, const char* text) {
    SetDlgItemTextA(static_cast<HWND>(dialog), id, text);
}

void itemText(WindowHandle dialog, int id, char* out, size_t capacity) {
    if (out == nullptr || capacity == 0) return;
    out[0] = '\0';
    GetDlgItemTextA(static_cast<HWND>(dialog), id, out, static_cast<int>(capacity));
}

bool chooseExistingFile(WindowHandle owner, const char* filter, char* path, size_t capacity) {
    if (path == nullptr || capacity == 0) return false;
    path[0] = '\0';
    OPENFILENAMEA request;
    std::memset(&request, 0, sizeof request);
    request.lStructSize = sizeof request;
    request.hwndOwner = static_cast<HWND>(owner);
    request.lpstrFilter = filter;
    request.nFilterIndex = 1;
    request.lpstrFile = path;
    request.nMaxFile = static_cast<DWORD>(capacity);
    request.Flags = OFN_PATHMUSTEXIST | OFN_FILEMUSTEXIST;
    return GetOpenFileNameA(&request) != 0;
}

StandInControl standInControl(WindowHandle, int) { return StandInControl{}; }
void standInAnswerFileDialog(const char*) {}
std::vector<RecordedFileDialog> standInFileDialogs() { return {}; }

}  // namespace platform
