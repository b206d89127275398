// Loads dsp_brimwell.dll through its one export, as the player does, and runs
// the whole cycle: getter, init, blocks, configuration, quit.
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
    DestroyWindow(parent);

    bool settingsExpected = argc > 2 && std::strcmp(argv[2], "--expect-settings") == 0;
    if (settingsExpected) {
        DWORD attributes = GetFileAttributesA(settingsPath.c_str());
        check(attributes != INVALID_FILE_ATTRIBUTES, "QELTA.cfg written beside the DLL");
    }
    FreeLibrary(library);
    std::printf("%d passed, %d failed\n", failures == 0 ? 1 : 0, failures == 0 ? 0 : 1);
    return failures == 0 ? 0 : 1;
}
