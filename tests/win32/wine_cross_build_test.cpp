// Renders the fixed test signal through dsp_brimwell.dll, with the defaults
// and with every stage switched on, and compares the output byte for byte
// with what the native build rendered from the same input.
#include <windows.h>

#include <cstdio>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "tests/support/render_blocks.h"

namespace {

std::vector<char> readFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::vector<char>((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

bool copyFile(const std::string& from, const std::string& to) { return CopyFileA(from.c_str(), to.c_str(), FALSE) != 0; }

std::string privateDirectory(const char* name) {
    char base[MAX_PATH];
    GetTempPathA(MAX_PATH, base);
    std::string directory = std::string(base) + "brimwell-cross-" + name + "-" + std::to_string(GetCurrentProcessId());
    CreateDirectoryA(directory.c_str(), nullptr);
    return directory + "\\";
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 3) {
        std::printf("usage: wine_cross_build_test DLL NATIVE-REFERENCE-DIR\n");
        return 2;
    }
    std::string reference = std::string(argv[2]) + "/";
    int passed = 0, failed = 0;
    HWND parent = CreateWindowExA(0, "STATIC", "player", WS_OVERLAPPEDWINDOW, 0, 0, 100, 100, nullptr, nullptr,
                                  GetModuleHandleA(nullptr), nullptr);
    for (const CrossBuildCase& c : kCrossBuildCases) {
        std::vector<char> expected = readFile(reference + c.name + ".raw");
        if (expected.empty()) {
            std::printf("FAIL %s: no native reference in %s (run the native tests first)\n", c.name, argv[2]);
            ++failed;
            continue;
        }
        std::string directory = privateDirectory(c.name);
        std::string dll = directory + "dsp_brimwell.dll";
        copyFile(argv[1], dll);
        if (c.everyStage) copyFile(reference + c.name + ".cfg", directory + "QELTA.cfg");
        HMODULE library = LoadLibraryA(dll.c_str());
        auto getHeader = library ? reinterpret_cast<GetHeaderEntry>(
                                       reinterpret_cast<void*>(GetProcAddress(library, "winampDSPGetHeader2")))
                                 : nullptr;
        if (getHeader == nullptr) {
            std::printf("FAIL %s: cannot load %s\n", c.name, dll.c_str());
            ++failed;
            continue;
        }
        winampDSPModule* module = getHeader()->getModule(0);
        module->hwndParent = parent;
        module->hDllInstance = library;
        bool started = module->Init(module) == 0;
        std::vector<int16_t> output = renderThroughModule(module, makeTestSignal(kCrossBuildFrames), 44100);
        module->Quit(module);
        FreeLibrary(library);
        bool same = started && output.size() * 2 == expected.size() &&
                    std::equal(expected.begin(), expected.end(), reinterpret_cast<const char*>(output.data()));
        std::printf("%s %s: %zu frames, %s\n", same ? "ok  " : "FAIL", c.name, output.size() / 2,
                    same ? "identical to the native build" : "differs from the native build");
        if (!same && started && output.size() * 2 == expected.size()) {
            const int16_t* native = reinterpret_cast<const int16_t*>(expected.data());
            for (size_t i = 0; i < output.size(); ++i)
                if (output[i] != native[i]) {
                    std::printf("     first difference at sample %zu: %d here, %d native\n", i, output[i], native[i]);
                    break;
                }
        }
        (same ? passed : failed)++;
    }
    DestroyWindow(parent);
    std::printf("%d passed, %d failed\n", passed, failed);
    return failed == 0 ? 0 : 1;
}
