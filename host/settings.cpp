#include "host/settings.h"

#include <cstring>

#include "host/context.h"

const char kSettingsFileName[] = "QELTA.cfg";

bool SettingsPath(platform::ModuleHandle module, char* destination, size_t size) {
    if (destination == nullptr || size == 0) return false;
    destination[0] = '\0';
    char libraryPath[kSettingsPathCapacity] = {0};
    if (!platform::moduleFilePath(module, libraryPath, sizeof libraryPath)) return false;
    char* cut = std::strrchr(libraryPath, '\\');
#if !defined(_WIN32)
    if (char* slash = std::strrchr(libraryPath, '/'); slash != nullptr && (cut == nullptr || slash > cut)) cut = slash;
#endif
    size_t directoryLength = cut ? static_cast<size_t>(cut - libraryPath) + 1 : 0;
    size_t nameLength = sizeof kSettingsFileName - 1;
    if (directoryLength + nameLength + 1 > size || directoryLength + nameLength + 1 > kSettingsPathCapacity) return false;
    std::memcpy(destination, libraryPath, directoryLength);
    std::memcpy(destination + directoryLength, kSettingsFileName, nameLength + 1);
    return true;
}

int32_t ReadSettingsFile(const char*, SettingsRecord*) { return kReadCannotOpen; }

int32_t WriteSettingsFile(const char*, const SettingsRecord*) { return kWriteCannotCreate; }

void ApplySettings(int32_t, const SettingsRecord&, DspArray* context) {
    ApplyDefaults(context);
    ApplyDefaultSwitchState(context);
}

void LoadSettings(const char* path, DspArray* context) {
    SettingsRecord record;
    std::memset(&record, 0, sizeof record);
    int32_t result = path != nullptr ? ReadSettingsFile(path, &record) : kReadCannotOpen;
    ApplySettings(result, record, context);
}

SettingsRecord GatherSettings(const DspArray*) {
    SettingsRecord record;
    std::memset(&record, 0, sizeof record);
    return record;
}

void SaveSettings(platform::ModuleHandle, DspArray*) {}
