// Loads dsp_brimwell.dll through its one export, as the player does, and runs
// the whole cycle: getter, init, blocks, configuration, quit; then loads it
// again to see the settings file that quit wrote read back.
#include <windows.h>

#include <cstdio>
#include <cstring>
#include <string>

#include "host/winamp_dsp.h"

namespace {

int failures = 0;

void check(bool condition, const char* what) {
    std::printf("%s %s\n", condition ? "ok  " : "FAIL", what);
    if (!condition) ++failures;
}

std::string readFile(const std::string& path) {
    std::string bytes;
    FILE* file = std::fopen(path.c_str(), "rb");
    if (file == nullptr) return bytes;
    char buffer[512];
    size_t n;
    while ((n = std::fread(buffer, 1, sizeof buffer, file)) > 0) bytes.append(buffer, n);
    std::fclose(file);
    return bytes;
}

void writeFile(const std::string& path, const std::string& bytes) {
    FILE* file = std::fopen(path.c_str(), "wb");
    if (file == nullptr) return;
    std::fwrite(bytes.data(), 1, bytes.size(), file);
    std::fclose(file);
}

std::string directoryOf(const std::string& path) {
    size_t cut = path.find_last_of("\\/");
    return cut == std::string::npos ? std::string() : path.substr(0, cut + 1);
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 2) {
        std::printf("usage: wine_load_test PATH-TO-DLL\n");
        return 2;
    }
    std::string dllPath = argv[1];
    std::string settingsPath = directoryOf(dllPath) + "QELTA.cfg";
    DeleteFileA(settingsPath.c_str());

    HMODULE library = LoadLibraryA(dllPath.c_str());
    check(library != nullptr, "LoadLibrary");
    if (library == nullptr) return 1;
    auto getHeader = reinterpret_cast<GetHeaderEntry>(reinterpret_cast<void*>(GetProcAddress(library, "winampDSPGetHeader2")));
    check(getHeader != nullptr, "export winampDSPGetHeader2");
    if (getHeader == nullptr) return 1;
    winampDSPHeader* header = getHeader();
    check(header != nullptr && header->version == 0x20, "header version 0x20");
    check(std::strcmp(header->description, "Brimwell") == 0, "header description");
    winampDSPModule* module = header->getModule(0);
    check(module != nullptr, "module 0");
    check(header->getModule(1) == nullptr, "no module 1");
    check(header->getModule(0) == module, "same module twice");

    HWND parent = CreateWindowExA(0, "STATIC", "player", WS_OVERLAPPEDWINDOW, 0, 0, 100, 100, nullptr, nullptr,
                                  GetModuleHandleA(nullptr), nullptr);
    module->hwndParent = parent;
    module->hDllInstance = library;
    check(module->Init(module) == 0, "init succeeds");

    // 16-bit stereo is processed: the frame count comes back (the look-ahead
    // limiter swallows its warm-up at first, so fewer frames than given).
    static short block[4096 * 2];
    for (int i = 0; i < 4096; ++i) {
        block[2 * i] = static_cast<short>((i * 37) % 2000 - 1000);
        block[2 * i + 1] = static_cast<short>((i * 53) % 2000 - 1000);
    }
    int produced = module->ModifySamples(module, block, 576, 16, 2, 44100);
    check(produced >= 0 && produced <= 576, "16-bit stereo block processed");
    short untouched[8] = {1, 2, 3, 4, 5, 6, 7, 8};
    check(module->ModifySamples(module, untouched, 4, 8, 2, 44100) == 4, "8-bit block passes through");
    check(untouched[0] == 1 && untouched[7] == 8, "8-bit block untouched");
    for (int i = 0; i < 20; ++i) module->ModifySamples(module, block, 4096, 16, 2, 44100);

    module->Config(module);
    MSG message;
    while (PeekMessageA(&message, nullptr, 0, 0, PM_REMOVE)) DispatchMessageA(&message);
    module->Quit(module);

    // Quit leaves a 136-byte settings file beside the DLL.
    std::string settings = readFile(settingsPath);
    check(settings.size() == 136, "QELTA.cfg of 136 bytes written beside the DLL");
    const unsigned char expectedHeader[12] = {0xe1, 0x3b, 0x0a, 0x00, 3, 0, 0, 0, 124, 0, 0, 0};
    check(settings.size() == 136 && std::memcmp(settings.data(), expectedHeader, 12) == 0, "QELTA.cfg header");
    check(GetFileAttributesA((settingsPath + "." + std::to_string(GetCurrentProcessId()) + ".tmp").c_str()) ==
              INVALID_FILE_ATTRIBUTES,
          "no temporary left");
    FreeLibrary(library);

    // A second load reads it back: with powerOn 0 in the file the audio
    // passes through, and quit writes the same file again.
    if (settings.size() == 136) {
        const size_t powerOnOffset = 12 + 120;
        std::memset(&settings[powerOnOffset], 0, 4);
        writeFile(settingsPath, settings);
    }
    library = LoadLibraryA(dllPath.c_str());
    check(library != nullptr, "second LoadLibrary");
    if (library == nullptr) return 1;
    getHeader = reinterpret_cast<GetHeaderEntry>(reinterpret_cast<void*>(GetProcAddress(library, "winampDSPGetHeader2")));
    module = getHeader ? getHeader()->getModule(0) : nullptr;
    check(module != nullptr, "module 0 after reload");
    if (module == nullptr) return 1;
    module->hwndParent = parent;
    module->hDllInstance = library;
    check(module->Init(module) == 0, "second init succeeds");
    short passed[576 * 2];
    for (int i = 0; i < 576 * 2; ++i) passed[i] = block[i];
    check(module->ModifySamples(module, passed, 576, 16, 2, 44100) == 576, "power off from the file: all frames back");
    check(std::memcmp(passed, block, sizeof passed) == 0, "power off from the file: audio untouched");
    while (PeekMessageA(&message, nullptr, 0, 0, PM_REMOVE)) DispatchMessageA(&message);
    module->Quit(module);
    check(readFile(settingsPath) == settings, "second quit writes back what was read");
    FreeLibrary(library);

    // A read-only settings file is read but never replaced. Trailing bytes
    // (which the reader ignores) show whether quit rewrote it.
    std::string readOnly = settings + "tail";
    writeFile(settingsPath, readOnly);
    SetFileAttributesA(settingsPath.c_str(), FILE_ATTRIBUTE_READONLY);
    library = LoadLibraryA(dllPath.c_str());
    getHeader = library ? reinterpret_cast<GetHeaderEntry>(
                              reinterpret_cast<void*>(GetProcAddress(library, "winampDSPGetHeader2")))
                        : nullptr;
    module = getHeader ? getHeader()->getModule(0) : nullptr;
    check(module != nullptr, "module 0 after the third load");
    if (module == nullptr) return 1;
    module->hwndParent = parent;
    module->hDllInstance = library;
    check(module->Init(module) == 0, "init with a read-only file");
    for (int i = 0; i < 576 * 2; ++i) passed[i] = block[i];
    module->ModifySamples(module, passed, 576, 16, 2, 44100);
    check(std::memcmp(passed, block, sizeof passed) == 0, "read-only file read: power off");
    while (PeekMessageA(&message, nullptr, 0, 0, PM_REMOVE)) DispatchMessageA(&message);
    module->Quit(module);
    check(readFile(settingsPath) == readOnly, "read-only file left untouched by quit");
    SetFileAttributesA(settingsPath.c_str(), FILE_ATTRIBUTE_NORMAL);
    DeleteFileA(settingsPath.c_str());
    DestroyWindow(parent);

    FreeLibrary(library);
    std::printf("%d passed, %d failed\n", failures == 0 ? 1 : 0, failures == 0 ? 0 : 1);
    return failures == 0 ? 0 : 1;
}
