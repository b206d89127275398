#include "tests/support/plugin_loader.h"

#include <dlfcn.h>
#include <stdlib.h>
#include <unistd.h>

#include <fstream>

LoadedPlugin::~LoadedPlugin() {
    if (library != nullptr) dlclose(library);
}

bool LoadedPlugin::load(const std::string& path, std::string* error) {
    library = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (library == nullptr) {
        if (error) *error = dlerror();
        return false;
    }
    auto getHeader = reinterpret_cast<GetHeaderEntry>(dlsym(library, "winampDSPGetHeader2"));
    if (getHeader == nullptr) {
        if (error) *error = "no winampDSPGetHeader2";
        return false;
    }
    header = getHeader();
    module = header ? header->getModule(0) : nullptr;
    return module != nullptr;
}

std::string makeTempDirectory() {
    char pattern[] = "/tmp/brimwell-test-XXXXXX";
    char* made = mkdtemp(pattern);
    return made ? std::string(made) : std::string();
}

std::string copyPluginInto(const std::string& directory) {
    std::string target = directory + "/dsp_brimwell.so";
    std::ifstream in(BRIMWELL_PLUGIN_PATH, std::ios::binary);
    std::ofstream out(target, std::ios::binary);
    out << in.rdbuf();
    return target;
}
