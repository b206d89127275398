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

unsigned long processId() { return static_cast<unsigned long>(getpid()); }

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

// --- Stand-in controls: each dialog's controls exist from their first use. ---
namespace platform {
namespace {

std::map<WindowHandle, std::map<int, StandInControl>>& controlTable() {
    static std::map<WindowHandle, std::map<int, StandInControl>> all;
    return all;
}
std::map<WindowHandle, std::map<int, WindowHandle>>& controlHandles() {
    static std::map<WindowHandle, std::map<int, WindowHandle>> all;
    return all;
}
std::vector<RecordedFileDialog> fileDialogs;
// The answer the next file dialog gives; none means a cancel.
bool fileDialogHasAnswer = false;
std::string fileDialogAnswer;

// A fresh control starts as the system's trackbar and progress bar do: range
// 0 to 100, position 0, unchecked, no text.
StandInControl* control(WindowHandle dialog, int id) {
    if (findDialog(dialog) == nullptr) return nullptr;
    StandInControl& entry = controlTable()[dialog][id];
    if (!entry.exists) {
        entry.exists = true;
        entry.maximum = 100;
    }
    return &entry;
}

int32_t clampTo(int32_t value, int32_t minimum, int32_t maximum) {
    if (value > maximum) value = maximum;
    if (value < minimum) value = minimum;
    return value;
}

}  // namespace

void registerCommonControls() {}

WindowHandle dialogItem(WindowHandle dialog, int id) {
    if (control(dialog, id) == nullptr) return nullptr;
    WindowHandle& handle = controlHandles()[dialog][id];
    if (handle == nullptr) {
        // Distinct from every dialog handle and every other control's.
        static uintptr_t nextControlHandle = 0x40000000;
        handle = reinterpret_cast<WindowHandle>(nextControlHandle += 0x10);
    }
    return handle;
}

void setSliderRange(WindowHandle dialog, int id, int32_t minimum, int32_t maximum) {
    if (StandInControl* c = control(dialog, id)) {
        c->maximum = maximum;
        if (c->position > c->maximum) c->position = c->maximum;
        c->minimum = minimum;
        if (c->position < c->minimum) c->position = c->minimum;
    }
}

void setSliderPosition(WindowHandle dialog, int id, int32_t position) {
    if (StandInControl* c = control(dialog, id)) c->position = clampTo(position, c->minimum, c->maximum);
}

int32_t sliderPosition(WindowHandle dialog, int id) {
    StandInControl* c = control(dialog, id);
    return c ? c->position : 0;
}

void setProgressRange(WindowHandle dialog, int id, int32_t minimum, int32_t maximum) {
    if (StandInControl* c = control(dialog, id)) {
        c->minimum = minimum;
        c->maximum = maximum;
        c->position = clampTo(c->position, minimum, maximum);
    }
}

void setProgressPosition(WindowHandle dialog, int id, int32_t position) {
    if (StandInControl* c = control(dialog, id)) c->position = clampTo(position, c->minimum, c->maximum);
}

void setCheck(WindowHandle dialog, int id, bool checked) {
    if (StandInControl* c = control(dialog, id)) c->check = checked ? CheckState::Checked : CheckState::Unchecked;
}

CheckState checkState(WindowHandle dialog, int id) {
    StandInControl* c = control(dialog, id);
    return c ? c->check : CheckState::Unchecked;
}

void setItemText(WindowHandle dialog, int id, const char* text) {
    if (StandInControl* c = control(dialog, id)) c->text = text ? text : "";
}

void itemText(WindowHandle dialog, int id, char* out, size_t capacity) {
    if (out == nullptr || capacity == 0) return;
    out[0] = '\0';
    StandInControl* c = control(dialog, id);
    if (c == nullptr) return;
    size_t length = std::min(c->text.size(), capacity - 1);
    std::memcpy(out, c->text.data(), length);
    out[length] = '\0';
}

bool chooseExistingFile(WindowHandle owner, const char* filter, char* path, size_t capacity) {
    if (path == nullptr || capacity == 0) return false;
    path[0] = '\0';
    std::string filterBytes;
    for (const char* p = filter; p != nullptr && *p != '\0'; p += std::strlen(p) + 1) {
        filterBytes.append(p);
        filterBytes.push_back('\0');
    }
    fileDialogs.push_back(RecordedFileDialog{owner, filterBytes, capacity});
    bool confirmed = fileDialogHasAnswer && fileDialogAnswer.size() + 1 <= capacity;
    if (confirmed) std::memcpy(path, fileDialogAnswer.c_str(), fileDialogAnswer.size() + 1);
    fileDialogHasAnswer = false;
    return confirmed;
}

StandInControl standInControl(WindowHandle dialog, int id) {
    if (findDialog(dialog) == nullptr) return StandInControl{};
    auto byDialog = controlTable().find(dialog);
    if (byDialog == controlTable().end()) return StandInControl{};
    auto byId = byDialog->second.find(id);
    return byId == byDialog->second.end() ? StandInControl{} : byId->second;
}

void standInAnswerFileDialog(const char* path) {
    fileDialogHasAnswer = path != nullptr;
    fileDialogAnswer = path ? path : "";
}

std::vector<RecordedFileDialog> standInFileDialogs() { return fileDialogs; }

}  // namespace platform
