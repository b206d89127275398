// The stand-in platform layer for systems other than Windows.
#include <dlfcn.h>
#include <sys/stat.h>
#include <time.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <mutex>

#include "platform/platform.h"

namespace platform {
namespace {

std::mutex recordMutex;
std::vector<RecordedMessage> messages;
std::string modulePathOverride;
bool hasModulePathOverride = false;

}  // namespace

void messageBox(WindowHandle owner, const char* text, const char* caption, MessageIcon icon) {
    std::fprintf(stderr, "%s: %s\n", caption ? caption : "", text ? text : "");
    std::lock_guard<std::mutex> lock(recordMutex);
    messages.push_back(RecordedMessage{owner, caption ? caption : "", text ? text : "", icon});
}

std::vector<RecordedMessage> recordedMessages() {
    std::lock_guard<std::mutex> lock(recordMutex);
    return messages;
}

void clearRecordedMessages() {
    std::lock_guard<std::mutex> lock(recordMutex);
    messages.clear();
}

void overrideModulePath(const char* path) {
    std::lock_guard<std::mutex> lock(recordMutex);
    hasModulePathOverride = path != nullptr;
    modulePathOverride = path ? path : "";
}

bool moduleFilePath(ModuleHandle, char* out, size_t capacity) {
    if (out == nullptr || capacity == 0) return false;
    out[0] = '\0';
    std::string path;
    {
        std::lock_guard<std::mutex> lock(recordMutex);
        if (hasModulePathOverride) path = modulePathOverride;
    }
    if (path.empty()) {
        // There is no module handle to ask: find the file this function lives in.
        Dl_info info;
        if (dladdr(reinterpret_cast<void*>(&moduleFilePath), &info) == 0 || info.dli_fname == nullptr)
            return false;
        path = info.dli_fname;
    }
    if (path.size() + 1 > capacity) return false;
    std::memcpy(out, path.c_str(), path.size() + 1);
    return true;
}

bool deleteFile(const char* path) { return path != nullptr && unlink(path) == 0; }

bool replaceFile(const char* from, const char* to) {
    return from != nullptr && to != nullptr && std::rename(from, to) == 0;
}

bool isReadOnlyFile(const char* path) {
    struct stat status;
    if (path == nullptr || stat(path, &status) != 0) return false;
    return (status.st_mode & S_IWUSR) == 0;
}

bool flushFileToDisk(std::FILE* file) {
    if (file == nullptr || std::fflush(file) != 0) return false;
    return fsync(fileno(file)) == 0;
}

void sleepMilliseconds(int milliseconds) {
    if (milliseconds <= 0) return;
    timespec duration{milliseconds / 1000, (milliseconds % 1000) * 1000000L};
    nanosleep(&duration, nullptr);
}

}  // namespace platform

// --- Stand-in dialogs: an in-memory model that tests drive. ---
#include <algorithm>
#include <map>
#include <memory>

namespace platform {
namespace {

struct StandInDialog {
    DialogProcedure procedure = nullptr;
    bool visible = false;
    std::vector<uintptr_t> timers;
};

std::map<WindowHandle, std::unique_ptr<StandInDialog>>& dialogs() {
    static std::map<WindowHandle, std::unique_ptr<StandInDialog>> all;
    return all;
}

StandInDialog* findDialog(WindowHandle window) {
    auto it = dialogs().find(window);
    return it == dialogs().end() ? nullptr : it->second.get();
}

constexpr uint32_t kInitDialogMessage = 0x0110;

}  // namespace

WindowHandle createDialog(ModuleHandle, int, WindowHandle, DialogProcedure procedure) {
    auto dialog = std::make_unique<StandInDialog>();
    dialog->procedure = procedure;
    // Handles are never reused, so a stale one is always recognised.
    static uintptr_t nextHandle = 0x10000;
    WindowHandle handle = reinterpret_cast<WindowHandle>(nextHandle += 0x10);
    dialogs()[handle] = std::move(dialog);
    if (procedure != nullptr) procedure(handle, kInitDialogMessage, 0, 0);
    return handle;
}

void showWindow(WindowHandle window, bool show) {
    if (StandInDialog* dialog = findDialog(window)) dialog->visible = show;
}

void destroyWindow(WindowHandle window) { dialogs().erase(window); }

bool setTimer(WindowHandle window, uintptr_t id, unsigned) {
    StandInDialog* dialog = findDialog(window);
    if (dialog == nullptr) return false;
    if (std::find(dialog->timers.begin(), dialog->timers.end(), id) == dialog->timers.end())
        dialog->timers.push_back(id);
    return true;
}

void killTimer(WindowHandle window, uintptr_t id) {
    if (StandInDialog* dialog = findDialog(window))
        dialog->timers.erase(std::remove(dialog->timers.begin(), dialog->timers.end(), id), dialog->timers.end());
}

bool standInWindowExists(WindowHandle window) { return findDialog(window) != nullptr; }
bool standInWindowVisible(WindowHandle window) {
    StandInDialog* dialog = findDialog(window);
    return dialog != nullptr && dialog->visible;
}
std::vector<uintptr_t> standInTimers(WindowHandle window) {
    StandInDialog* dialog = findDialog(window);
    return dialog ? dialog->timers : std::vector<uintptr_t>{};
}
intptr_t standInSend(WindowHandle window, uint32_t message, uintptr_t wParam, intptr_t lParam) {
    StandInDialog* dialog = findDialog(window);
    if (dialog == nullptr || dialog->procedure == nullptr) return 0;
    return dialog->procedure(window, message, wParam, lParam);
}

}  // namespace platform
