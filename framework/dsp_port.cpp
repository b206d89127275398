#include "framework/dsp_port.h"

#include <cstdio>

const char kPortAuthor[] = "Umbrik304";

int32_t noOpEntry(void*) { return 1; }

int32_t getVersionText(char* buffer, int32_t capacity) {
    if (buffer == nullptr || capacity < 16) return 0;
    std::snprintf(buffer, static_cast<size_t>(capacity), "%d.%d.%d", 1, 0, 1);
    return 1;
}
