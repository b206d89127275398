#include "host/lifecycle.h"

#include <cstdio>
#include <cstring>
#include <new>

#include "framework/dsp_services.h"
#include "host/context.h"
#include "host/settings.h"
#include "ui/panel.h"

namespace {

const char kFatalCaption[] = "Fatal Error";

void reportFatal(winampDSPModule* module, const char* text) {
    platform::messageBox(module->hwndParent, text, kFatalCaption, platform::MessageIcon::Error);
}

void reportCounted(winampDSPModule* module, const char* format, int count) {
    char text[128];
    std::snprintf(text, sizeof text, format, count);
    reportFatal(module, text);
}

// Stops the timer and removes the panel, if one exists.
void removePanel(DspArray* context) {
    if (context->panel == nullptr) return;
    platform::killTimer(context->panel, kMeterTimerId);
    platform::showWindow(context->panel, false);
    platform::destroyWindow(context->panel);
    context->panel = nullptr;
}

// Quits the units and releases the ports that an earlier init made.
void shutDownUnits(DspArray* context) {
    UnitChain chain = chainOf(context);
    quitAll(chain);
    releasePorts(chain);
    for (DspPort*& port : context->ports) port = nullptr;
}

// Marks the context as not processing; afterwards the sample entry passes
// audio through without touching the blocks.
void stopProcessing(DspArray* context) {
    ChainLock lock(contextGuard());
    context->initialised = 0;
}

}  // namespace

int32_t BRIMWELL_CDECL pluginInit(winampDSPModule* module) {
    char settingsPath[kSettingsPathCapacity];
    std::memset(settingsPath, 0, sizeof settingsPath);

    // Only this thread changes the pointer, so it may be read without the
    // guard; a new context is made before the guard is taken.
    DspArray* context = dspContext;
    if (context == nullptr) context = new (std::nothrow) DspArray();
    {
        ChainLock lock(contextGuard());
        dspContext = context;
        if (context != nullptr) {
            context->initialised = 0;
            context->meterLeft = 0;
            context->meterRight = 0;
        }
    }
    if (context == nullptr) {
        reportFatal(module, "Can't allocate memory space for DSP Array!");
        return -1;
    }

    // Init again without quit: shut down what the earlier init started.
    removePanel(context);
    shutDownUnits(context);

    ClearUnitBlocks(context);
    {
        DspServices* services = createServices();
        ServiceSettings settings{0, 0, 0, 1};
        services->configure(&settings);
        context->services = services;
        UnitChain chain = chainOf(context);
        for (const UnitSlot& slot : chain.slots) *const_cast<DspServices**>(slot.services) = services;
    }

    LoadSettings(SettingsPath(module->hDllInstance, settingsPath, sizeof settingsPath) ? settingsPath : nullptr,
                 context);

    {
        UnitChain chain = chainOf(context);
        int missingPorts = acquirePorts(chain);
        if (missingPorts > 0) {
            reportCounted(module, "Can't get the port of DSP Array, %d errors!", missingPorts);
            return -1;
        }
        buildPortTable(chain);
        int failedUnits = initAll(chain);
        if (failedUnits > 0) {
            reportCounted(module, "Can't INIT DSP Array, %d errors!", failedUnits);
            return -1;
        }
    }

    {
        ChainLock lock(contextGuard());
        context->initialised = 1;
    }

    context->panel = createPanel(module->hDllInstance, module->hwndParent);
    if (context->panel != nullptr) {
        if (context->showAtStartup != 0) platform::showWindow(context->panel, true);
        platform::setTimer(context->panel, kMeterTimerId, kMeterTimerPeriodMs);
    }
    return 0;
}

void BRIMWELL_CDECL pluginConfig(winampDSPModule*) {
    DspArray* context = dspContext;  // only this thread changes the pointer
    if (context != nullptr && context->panel != nullptr) platform::showWindow(context->panel, true);
}

void BRIMWELL_CDECL pluginQuit(winampDSPModule* module) {
    DspArray* context = dspContext;
    if (context == nullptr) return;
    stopProcessing(context);
    if (context->panel != nullptr) platform::killTimer(context->panel, kMeterTimerId);
    SaveSettings(module->hDllInstance, context);
    removePanel(context);
    shutDownUnits(context);
    {
        ChainLock lock(contextGuard());
        dspContext = nullptr;
    }
    delete context;
}
