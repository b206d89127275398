#include "ui/panel.h"

#include "host/context.h"
#include "ui/panel_logic.h"

intptr_t PLATFORM_CALLBACK panelDialogProcedure(platform::WindowHandle panel, uint32_t message, uintptr_t wParam,
                                                intptr_t lParam) {
    platform::WindowHandle control = reinterpret_cast<platform::WindowHandle>(lParam);
    switch (message) {
        case platform::kMsgInitDialog: {
            DspArray* context;
            {
                ChainLock lock(contextGuard());
                context = dspContext;
            }
            if (context != nullptr) RefreshPanel(panel, context);
            break;
        }
        case platform::kMsgHScroll:
            panelSliderMoved(panel, control);
            break;
        case platform::kMsgCommand:
            // Only clicks (notification code 0); the control window tells
            // which, so commands without one (Escape's cancel) do nothing.
            if (((wParam >> 16) & 0xFFFF) == 0) panelClicked(panel, control);
            break;
        case platform::kMsgTimer:
            panelTimer(panel);
            break;
        default:
            break;
    }
    return 0;
}

platform::WindowHandle createPanel(platform::ModuleHandle module, platform::WindowHandle owner) {
    platform::registerCommonControls();
    return platform::createDialog(module, kPanelTemplateId, owner, panelDialogProcedure);
}
