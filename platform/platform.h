// The seam to the operating system. On Windows these call Win32; elsewhere a
// stand-in records what happened so tests can read it. Only host/ and ui/
// call this layer.
#pragma once
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

namespace platform {

using WindowHandle = void*;
using ModuleHandle = void*;

enum class MessageIcon { Error, Information };

// A modal message box owned by `owner`, with an OK button.
void messageBox(WindowHandle owner, const char* text, const char* caption, MessageIcon icon);

// The full path of the library that `module` names (on Windows the module
// handle; elsewhere the library this code is linked into). Returns false and
// leaves `out` empty when the path does not fit `capacity` with its terminator.
bool moduleFilePath(ModuleHandle module, char* out, size_t capacity);

// Removes a file; false when it could not be removed.
bool deleteFile(const char* path);

// Moves `from` over `to` in one step, replacing `to` if it exists.
bool replaceFile(const char* from, const char* to);

// True when `path` names an existing file marked read-only by its own
// attributes (no owner write bit; on Windows the read-only attribute), which
// holds even for a user whom permissions would not stop.
bool isReadOnlyFile(const char* path);

// Flushes `file`'s buffers and asks the system to put its contents on disk;
// false when either step fails.
bool flushFileToDisk(std::FILE* file);

void sleepMilliseconds(int milliseconds);

// The number of the running process.
unsigned long processId();

// --- Dialogs and timers (the control panel). ---
#if defined(_WIN32)
#define PLATFORM_CALLBACK __stdcall
#else
#define PLATFORM_CALLBACK
#endif
using DialogProcedure = intptr_t(PLATFORM_CALLBACK*)(WindowHandle dialog, uint32_t message, uintptr_t wParam,
                                                     intptr_t lParam);

// A modeless dialog from template `templateId` of `module`, created hidden;
// null on failure. The procedure receives the initialisation message before
// this returns.
WindowHandle createDialog(ModuleHandle module, int templateId, WindowHandle owner, DialogProcedure procedure);
void showWindow(WindowHandle window, bool show);
void destroyWindow(WindowHandle window);
bool setTimer(WindowHandle window, uintptr_t id, unsigned milliseconds);
void killTimer(WindowHandle window, uintptr_t id);

// --- The stand-in's record, for tests (no-ops on Windows). ---
struct RecordedMessage {
    WindowHandle owner;
    std::string caption;
    std::string text;
    MessageIcon icon;
};
std::vector<RecordedMessage> recordedMessages();
void clearRecordedMessages();

// Makes moduleFilePath report `path` instead of the real library path
// (null restores the real one).
void overrideModulePath(const char* path);

// The stand-in dialog's state: whether `window` is a live stand-in dialog,
// whether it is visible, and which timers run on it.
bool standInWindowExists(WindowHandle window);
bool standInWindowVisible(WindowHandle window);
std::vector<uintptr_t> standInTimers(WindowHandle window);
// Delivers a message to the stand-in dialog's procedure (as the system would).
intptr_t standInSend(WindowHandle window, uint32_t message, uintptr_t wParam, intptr_t lParam);

}  // namespace platform

// --- Dialog controls, reached by identifier (the control panel). ---
namespace platform {

// The dialog messages the panel handles, with the system's numbers.
constexpr uint32_t kMsgInitDialog = 0x0110;
constexpr uint32_t kMsgCommand = 0x0111;
constexpr uint32_t kMsgTimer = 0x0113;
constexpr uint32_t kMsgHScroll = 0x0114;

enum class CheckState { Unchecked = 0, Checked = 1, Indeterminate = 2 };

// Makes the trackbar and progress-bar classes available before a dialog
// that uses them is created.
void registerCommonControls();

// The control `id` of `dialog`; null when there is none.
WindowHandle dialogItem(WindowHandle dialog, int id);

// Trackbars: the range is set maximum first, then minimum, both without
// redrawing; the position is set with redrawing. The control keeps its
// position inside its range.
void setSliderRange(WindowHandle dialog, int id, int32_t minimum, int32_t maximum);
void setSliderPosition(WindowHandle dialog, int id, int32_t position);
int32_t sliderPosition(WindowHandle dialog, int id);

// Progress bars (32-bit range).
void setProgressRange(WindowHandle dialog, int id, int32_t minimum, int32_t maximum);
void setProgressPosition(WindowHandle dialog, int id, int32_t position);

// Check boxes.
void setCheck(WindowHandle dialog, int id, bool checked);
CheckState checkState(WindowHandle dialog, int id);

// Control texts; itemText always terminates `out` (capacity above 0).
void setItemText(WindowHandle dialog, int id, const char* text);
void itemText(WindowHandle dialog, int id, char* out, size_t capacity);

// The open-file dialog for one existing file: `filter` is a list of
// description/pattern pairs ending in an empty string, its first entry
// selected. Fills `path` (capacity bytes, started empty) and returns true
// when the user confirms a file; false when cancelled.
bool chooseExistingFile(WindowHandle owner, const char* filter, char* path, size_t capacity);

// --- The stand-in's controls, for tests (no-ops on Windows). ---
struct StandInControl {
    bool exists = false;
    int32_t minimum = 0;
    int32_t maximum = 0;
    int32_t position = 0;
    CheckState check = CheckState::Unchecked;
    std::string text;
};
StandInControl standInControl(WindowHandle dialog, int id);

// What the next chooseExistingFile answers: the chosen path, or a cancel
// for null. Without an answer the stand-in cancels.
void standInAnswerFileDialog(const char* path);
struct RecordedFileDialog {
    WindowHandle owner;
    std::string filter;  // with its separating zero bytes
    size_t capacity;
};
std::vector<RecordedFileDialog> standInFileDialogs();

}  // namespace platform
