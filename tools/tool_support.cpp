#include "tools/tool_support.h"

#include <cstdarg>
#include <cstdio>

#include "host/settings.h"

namespace tools {

const char* programName = "brimwell";

int fail(int code, const char* format, ...) {
    std::fprintf(stderr, "%s: ", programName);
    va_list arguments;
    va_start(arguments, format);
    std::vfprintf(stderr, format, arguments);
    va_end(arguments);
    std::fputc('\n', stderr);
    return code;
}

std::string parentDirectory(const std::string& path) {
    size_t slash = path.find_last_of('/');
    if (slash == std::string::npos) return ".";
    if (slash == 0) return "/";
    return path.substr(0, slash);
}

std::string baseName(const std::string& path) {
    size_t slash = path.find_last_of('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

const char* describeSettingsReadResult(int32_t result) {
    switch (result) {
        case kReadOk: return "is a valid settings file";
        case kReadCannotOpen: return "cannot be opened";
        case kReadNewerVersion: return "has a version above 3, which the plug-in ignores";
        case kReadOlderVersion: return "has a version below 3, which the plug-in ignores";
        case kReadBadMagic: return "is not a settings file (wrong magic number or too short)";
        case kReadPayloadTooLarge: return "is not a settings file (payload size above 124 bytes)";
        default: return "gave an unknown read result";
    }
}

}  // namespace tools
