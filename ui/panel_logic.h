// What the panel's messages do to the context and to the controls. Plain
// code over the platform's control operations, so the same logic runs
// against real controls on Windows and the stand-in's elsewhere.
#pragma once
#include <cstdint>

#include "platform/platform.h"

struct DspArray;

// Sets every control of `panel` from the context.
void RefreshPanel(platform::WindowHandle panel, DspArray* context);

// A trackbar of the panel moved (any scroll code); `control` is the window
// the message carries. Windows that are not one of the panel's sliders are
// ignored.
void panelSliderMoved(platform::WindowHandle panel, platform::WindowHandle control);

// A button or box of the panel was clicked; `control` as above.
void panelClicked(platform::WindowHandle panel, platform::WindowHandle control);

// The meter timer fired.
void panelTimer(platform::WindowHandle panel);

// The About box text (256 bytes at most, terminator included).
constexpr int kAboutTextCapacity = 256;
void formatAboutText(char* out, int capacity);

extern const char kPanelCaption[];           // "Brimwell"
extern const char kAboutCaption[];           // "About QELTA"
extern const char kInvalidSettingsText[];    // shown when Load Config meets a file it cannot use
extern const char kSettingsFileFilter[];     // the open-file dialog's filter list
constexpr int kSettingsFileNameCapacity = 1024;
