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
