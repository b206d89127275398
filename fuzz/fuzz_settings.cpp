// Arbitrary bytes as a settings file: the decoder, the file reader and
// LoadSettings into a context must neither crash nor misbehave.
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <string>

#include "framework/dsp_services.h"
#include "host/context.h"
#include "host/settings.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    SettingsRecord record;
    std::memset(&record, 0, sizeof record);
    int32_t decoded = DecodeSettings(data, size, &record);

    static const std::string path = "/tmp/brimwell-fuzz-settings-" + std::to_string(getpid()) + ".cfg";
    if (std::FILE* file = std::fopen(path.c_str(), "wb")) {
        if (size > 0) std::fwrite(data, 1, size, file);
        std::fclose(file);
    }
    SettingsRecord fromFile;
    std::memset(&fromFile, 0, sizeof fromFile);
    int32_t read = ReadSettingsFile(path.c_str(), &fromFile);
    // The file reader and the decoder agree on every input.
    if (read != decoded || std::memcmp(&record, &fromFile, sizeof record) != 0) __builtin_trap();

    static DspArray* context = [] {
        DspArray* made = new DspArray();
        DspServices* services = createServices();
        ServiceSettings settings{0, 0, 0, 1};
        services->configure(&settings);
        made->services = services;
        return made;
    }();
    LoadSettings(path.c_str(), context);
    // A record read back from the context is what the file held (when accepted).
    if (read == kReadOk) {
        SettingsRecord gathered = GatherSettings(context);
        if (std::memcmp(&gathered, &fromFile, sizeof gathered) != 0) __builtin_trap();
    }
    return 0;
}
