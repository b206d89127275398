#include "ui/panel.h"

namespace {

intptr_t PLATFORM_CALLBACK panelDialogProcedure(platform::WindowHandle, uint32_t, uintptr_t, intptr_t) { return 0; }

}  // namespace

platform::WindowHandle createPanel(platform::ModuleHandle module, platform::WindowHandle owner) {
    return platform::createDialog(module, kPanelTemplateId, owner, panelDialogProcedure);
}
