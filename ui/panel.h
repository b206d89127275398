// The control panel as the lifecycle sees it: create, show, hide, destroy,
// and the meter timer.
#pragma once
#include "platform/platform.h"

constexpr int kPanelTemplateId = 102;
constexpr uintptr_t kMeterTimerId = 1;
constexpr unsigned kMeterTimerPeriodMs = 60;

// Creates the panel hidden, owned by `owner`, from the library's own
// template; null on failure.
platform::WindowHandle createPanel(platform::ModuleHandle module, platform::WindowHandle owner);

// The panel's dialog procedure: passes the initialisation, scroll, command
// and timer messages to the panel logic (ui/panel_logic.h) and returns 0 for
// every message, leaving the rest to the default dialog handling.
intptr_t PLATFORM_CALLBACK panelDialogProcedure(platform::WindowHandle panel, uint32_t message, uintptr_t wParam,
                                                intptr_t lParam);
