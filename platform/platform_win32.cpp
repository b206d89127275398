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
