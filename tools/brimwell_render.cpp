// brimwell-render: runs an audio file through the plug-in library the way the
// player does, through nothing but its one exported entry.
#include <dirent.h>
#include <dlfcn.h>
#include <fcntl.h>
#include <signal.h>
#include <sndfile.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "host/settings.h"
#include "tools/tool_support.h"
#include "host/winamp_dsp.h"
#include "tools/demo_signal.h"

namespace {

enum ExitCode {
    kExitOk = 0,
    kExitUsage = 1,
    kExitInput = 2,
    kExitOutput = 3,
    kExitPlugin = 4,
};

constexpr long kDefaultBlockFrames = 576;
constexpr long kMaxBlockFrames = 1048576;
// Frames times channels of one block; keeps the buffer within 64 MB.
constexpr long kMaxBlockSamples = 1L << 24;
constexpr int kFlushSilenceBeyondInputSeconds = 10;
using tools::fail;
constexpr char kPluginFileName[] = "dsp_brimwell.so";

using Clock = std::chrono::steady_clock;

const char kHelp[] =
    "Usage: brimwell-render [options] INPUT OUTPUT\n"
    "       brimwell-render [options] --demo OUTPUT\n"
    "\n"
    "Runs INPUT through the Brimwell plug-in exactly as the player does (header,\n"
    "module 0, init, the sample entry on consecutive blocks, quit) and writes the\n"
    "frames it returns to OUTPUT. Any format libsndfile reads is accepted; the\n"
    "output format follows OUTPUT's extension (.wav, .flac, .aiff, .ogg, .caf, ...),\n"
    "as 16-bit PCM where the format has it. The plug-in receives 16-bit samples\n"
    "with the file's channel count and sample rate (it processes stereo only).\n"
    "\n"
    "Options:\n"
    "  --block FRAMES   frames per call of the sample entry (default 576, at most\n"
    "                   1048576); the last block may be shorter\n"
    "  --settings FILE  render with FILE as the plug-in's settings file; FILE is\n"
    "                   left unchanged (without this option the QELTA.cfg beside\n"
    "                   the plug-in is used and rewritten at quit, as in the player)\n"
    "  --plugin PATH    the plug-in library to load (default: dsp_brimwell.so in\n"
    "                   the directory above this program's own)\n"
    "  --flush          after the input, feed silence until the output is as long\n"
    "                   as the input, then cut it to that length (otherwise the\n"
    "                   limiter's and equaliser's delays swallow the end)\n"
    "  --demo           use a built-in 8-second test signal instead of INPUT\n"
    "  -h, --help       show this text\n"
    "\n"
    "A progress bar is drawn on stderr when it is a terminal; a summary line goes\n"
    "to stdout. OUTPUT is written to a temporary file beside it and renamed into\n"
    "place only when complete.\n"
    "\n"
    "Exit codes:\n"
    "  0  success\n"
    "  1  usage error (unknown option, bad --block value, wrong operands)\n"
    "  2  input error (INPUT or the --settings file cannot be read or used)\n"
    "  3  output error (unknown output format, OUTPUT cannot be written)\n"
    "  4  plug-in error (the library does not load, lacks the entry, its init\n"
    "     fails, or it returns an impossible frame count)\n";

// --- Cleanup on a signal: the temporary output and the private copy. ---

char interruptTempOutput[4096];
char interruptPrivateDir[4096];
char interruptPrivateFiles[2][4096];

void removeOnInterrupt(int signalNumber) {
    if (interruptTempOutput[0] != '\0') unlink(interruptTempOutput);
    for (const char* path : interruptPrivateFiles)
        if (path[0] != '\0') unlink(path);
    if (interruptPrivateDir[0] != '\0') rmdir(interruptPrivateDir);
    signal(signalNumber, SIG_DFL);
    raise(signalNumber);
}

void rememberForInterrupt(char* slot, const std::string& path) {
    if (path.size() < sizeof interruptTempOutput) {
        std::memcpy(slot, path.c_str(), path.size() + 1);
    }
}

// A crash inside the plug-in counts too: no half-written output may remain.
void installInterruptCleanup() {
    for (int signalNumber : {SIGINT, SIGTERM, SIGHUP, SIGSEGV, SIGBUS, SIGFPE, SIGABRT})
        signal(signalNumber, removeOnInterrupt);
}

// --- Options. ---

struct Options {
    long blockFrames = kDefaultBlockFrames;
    std::string settingsFile;
    std::string pluginPath;
    bool flush = false;
    bool demo = false;
    bool help = false;
    std::string input;
    std::string output;
};

bool parseBlockFrames(const char* text, long* frames) {
    if (text[0] < '0' || text[0] > '9') return false;
    errno = 0;
    char* end = nullptr;
    long long value = std::strtoll(text, &end, 10);
    if (errno != 0 || *end != '\0' || value < 1 || value > kMaxBlockFrames) return false;
    *frames = static_cast<long>(value);
    return true;
}

// Parses the command line; on a usage error prints it and returns false.
bool parseOptions(int argc, char** argv, Options* options) {
    std::vector<std::string> operands;
    bool optionsEnded = false;
    for (int i = 1; i < argc; ++i) {
        std::string argument = argv[i];
        if (optionsEnded || argument.size() < 2 || argument[0] != '-') {
            operands.push_back(argument);
            continue;
        }
        if (argument == "--") {
            optionsEnded = true;
            continue;
        }
        std::string name = argument;
        std::string value;
        bool hasInlineValue = false;
        if (size_t equals = argument.find('='); argument.rfind("--", 0) == 0 && equals != std::string::npos) {
            name = argument.substr(0, equals);
            value = argument.substr(equals + 1);
            hasInlineValue = true;
        }
        auto takeValue = [&](std::string* destination) {
            if (hasInlineValue) {
                *destination = value;
                return true;
            }
            if (i + 1 >= argc) {
                fail(kExitUsage, "%s needs a value (see --help)", name.c_str());
                return false;
            }
            *destination = argv[++i];
            return true;
        };
        if (name == "-h" || name == "--help") {
            options->help = true;
        } else if (name == "--flush" && !hasInlineValue) {
            options->flush = true;
        } else if (name == "--demo" && !hasInlineValue) {
            options->demo = true;
        } else if (name == "--block") {
            std::string text;
            if (!takeValue(&text)) return false;
            if (!parseBlockFrames(text.c_str(), &options->blockFrames)) {
                fail(kExitUsage, "--block wants a whole number of frames from 1 to %ld, not \"%s\"", kMaxBlockFrames,
                     text.c_str());
                return false;
            }
        } else if (name == "--settings") {
            if (!takeValue(&options->settingsFile)) return false;
            if (options->settingsFile.empty()) {
                fail(kExitUsage, "--settings needs a file name");
                return false;
            }
        } else if (name == "--plugin") {
            if (!takeValue(&options->pluginPath)) return false;
            if (options->pluginPath.empty()) {
                fail(kExitUsage, "--plugin needs a file name");
                return false;
            }
        } else {
            fail(kExitUsage, "unknown option \"%s\" (see --help)", argument.c_str());
            return false;
        }
    }
    if (options->help) return true;
    size_t wanted = options->demo ? 1 : 2;
    if (operands.size() != wanted) {
        if (options->demo)
            fail(kExitUsage, "--demo takes only OUTPUT (see --help)");
        else
            fail(kExitUsage, "expected INPUT and OUTPUT (see --help)");
        return false;
    }
    if (!options->demo) options->input = operands[0];
    options->output = operands.back();
    return true;
}

// --- Files and directories. ---

std::string errorText() { return std::strerror(errno); }

using tools::baseName;
using tools::parentDirectory;

// The default plug-in: build/dsp_brimwell.so for the tool at build/tools/.
bool defaultPluginPath(std::string* path) {
    std::vector<char> buffer(4096);
    ssize_t length = readlink("/proc/self/exe", buffer.data(), buffer.size() - 1);
    if (length <= 0 || static_cast<size_t>(length) >= buffer.size() - 1) return false;
    std::string self(buffer.data(), static_cast<size_t>(length));
    *path = parentDirectory(parentDirectory(self)) + "/" + kPluginFileName;
    return true;
}

bool copyFile(const std::string& from, const std::string& to, mode_t mode, std::string* error) {
    int source = open(from.c_str(), O_RDONLY | O_CLOEXEC);
    if (source < 0) {
        *error = "cannot read " + from + ": " + errorText();
        return false;
    }
    struct stat status;
    if (fstat(source, &status) != 0 || !S_ISREG(status.st_mode)) {
        *error = "cannot read " + from + ": not a regular file";
        close(source);
        return false;
    }
    int target = open(to.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, mode);
    if (target < 0) {
        *error = "cannot create " + to + ": " + errorText();
        close(source);
        return false;
    }
    bool ok = true;
    std::vector<char> buffer(1 << 16);
    for (;;) {
        ssize_t got = read(source, buffer.data(), buffer.size());
        if (got < 0 && errno == EINTR) continue;
        if (got < 0) {
            *error = "cannot read " + from + ": " + errorText();
            ok = false;
            break;
        }
        if (got == 0) break;
        for (ssize_t done = 0; done < got;) {
            ssize_t put = write(target, buffer.data() + done, static_cast<size_t>(got - done));
            if (put < 0 && errno == EINTR) continue;
            if (put < 0) {
                *error = "cannot write " + to + ": " + errorText();
                ok = false;
                break;
            }
            done += put;
        }
        if (!ok) break;
    }
    close(source);
    if (close(target) != 0 && ok) {
        *error = "cannot write " + to + ": " + errorText();
        ok = false;
    }
    return ok;
}

// A fresh private directory holding a copy of the plug-in and of a settings
// file named QELTA.cfg: the library finds its settings beside itself, and the
// user's file is only ever read. Removed with everything in it.
class PrivatePluginCopy {
public:
    PrivatePluginCopy() = default;
    PrivatePluginCopy(const PrivatePluginCopy&) = delete;
    PrivatePluginCopy& operator=(const PrivatePluginCopy&) = delete;
    ~PrivatePluginCopy() { remove(); }

    // Returns an exit code: kExitOk with `pluginCopy` set, or the failure's code.
    int prepare(const std::string& pluginPath, const std::string& settingsFile, std::string* pluginCopy) {
        const char* base = std::getenv("TMPDIR");
        std::string pattern = std::string(base != nullptr && base[0] != '\0' ? base : "/tmp") + "/brimwell-render-XXXXXX";
        std::vector<char> name(pattern.begin(), pattern.end());
        name.push_back('\0');
        if (mkdtemp(name.data()) == nullptr)
            return fail(kExitPlugin, "cannot create a private directory from %s: %s", pattern.c_str(),
                        errorText().c_str());
        directory_ = name.data();
        rememberForInterrupt(interruptPrivateDir, directory_);

        std::string settingsCopy = directory_ + "/" + kSettingsFileName;
        rememberForInterrupt(interruptPrivateFiles[0], settingsCopy);
        std::string error;
        if (!copyFile(settingsFile, settingsCopy, 0600, &error))
            return fail(kExitInput, "settings file: %s", error.c_str());
        SettingsRecord record;
        std::memset(&record, 0, sizeof record);
        int32_t result = ReadSettingsFile(settingsCopy.c_str(), &record);
        if (result != kReadOk)
            return fail(kExitInput, "settings file %s %s", settingsFile.c_str(),
                        tools::describeSettingsReadResult(result));

        *pluginCopy = directory_ + "/" + kPluginFileName;
        rememberForInterrupt(interruptPrivateFiles[1], *pluginCopy);
        if (!copyFile(pluginPath, *pluginCopy, 0700, &error)) return fail(kExitPlugin, "plug-in: %s", error.c_str());
        return kExitOk;
    }

private:
    void remove() {
        if (directory_.empty()) return;
        if (DIR* listing = opendir(directory_.c_str())) {
            while (dirent* entry = readdir(listing)) {
                std::string name = entry->d_name;
                if (name != "." && name != "..") unlink((directory_ + "/" + name).c_str());
            }
            closedir(listing);
        }
        if (rmdir(directory_.c_str()) != 0)
            fail(kExitOk, "warning: could not remove %s: %s", directory_.c_str(), errorText().c_str());
        interruptPrivateDir[0] = interruptPrivateFiles[0][0] = interruptPrivateFiles[1][0] = '\0';
        directory_.clear();
    }

    std::string directory_;
};

// --- Audio files. ---

std::string lowerExtension(const std::string& path) {
    std::string base = baseName(path);
    size_t dot = base.find_last_of('.');
    if (dot == std::string::npos || dot == 0) return std::string();
    std::string extension = base.substr(dot + 1);
    for (char& c : extension) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return extension;
}

// The libsndfile format for OUTPUT's extension: the container libsndfile
// names by that extension, 16-bit PCM where it takes it, otherwise its codec.
bool outputFormatFor(const std::string& path, int channels, int sampleRate, int* format) {
    std::string extension = lowerExtension(path);
    if (extension.empty()) return false;
    int major = 0;
    int preferredSubtype = SF_FORMAT_PCM_16;
    if (extension == "opus") {
        major = SF_FORMAT_OGG;
        preferredSubtype = SF_FORMAT_OPUS;
    } else if (extension == "mp3") {
        major = SF_FORMAT_MPEG;
        preferredSubtype = SF_FORMAT_MPEG_LAYER_III;
    } else {
        if (extension == "aif") extension = "aiff";
        if (extension == "ogg") extension = "oga";
        if (extension == "wave") extension = "wav";
        int count = 0;
        sf_command(nullptr, SFC_GET_FORMAT_MAJOR_COUNT, &count, sizeof count);
        for (int i = 0; i < count && major == 0; ++i) {
            SF_FORMAT_INFO info;
            std::memset(&info, 0, sizeof info);
            info.format = i;
            if (sf_command(nullptr, SFC_GET_FORMAT_MAJOR, &info, sizeof info) == 0 && info.extension != nullptr &&
                extension == info.extension)
                major = info.format;
        }
        if (major == 0 || major == SF_FORMAT_RAW) return false;
    }
    std::vector<int> subtypes = {preferredSubtype, SF_FORMAT_PCM_16, SF_FORMAT_VORBIS, SF_FORMAT_MPEG_LAYER_III};
    int count = 0;
    sf_command(nullptr, SFC_GET_FORMAT_SUBTYPE_COUNT, &count, sizeof count);
    for (int i = 0; i < count; ++i) {
        SF_FORMAT_INFO info;
        std::memset(&info, 0, sizeof info);
        info.format = i;
        if (sf_command(nullptr, SFC_GET_FORMAT_SUBTYPE, &info, sizeof info) == 0) subtypes.push_back(info.format);
    }
    for (int subtype : subtypes) {
        SF_INFO candidate;
        std::memset(&candidate, 0, sizeof candidate);
        candidate.channels = channels;
        candidate.samplerate = sampleRate;
        candidate.format = major | subtype;
        if (sf_format_check(&candidate)) {
            *format = candidate.format;
            return true;
        }
    }
    return false;
}

// OUTPUT while it is written: a temporary file beside it, renamed over it
// only when complete; removed if the run fails.
class TemporaryOutput {
public:
    TemporaryOutput() = default;
    TemporaryOutput(const TemporaryOutput&) = delete;
    TemporaryOutput& operator=(const TemporaryOutput&) = delete;
    ~TemporaryOutput() {
        if (file_ != nullptr) sf_close(file_);
        if (!temporaryPath_.empty()) unlink(temporaryPath_.c_str());
        interruptTempOutput[0] = '\0';
    }

    int open(const std::string& output, int format, int channels, int sampleRate) {
        finalPath_ = output;
        struct stat existing;
        mode_t mode;
        if (stat(output.c_str(), &existing) == 0) {
            if (S_ISDIR(existing.st_mode)) return fail(kExitOutput, "output %s is a directory", output.c_str());
            mode = existing.st_mode & 07777;
        } else {
            mode_t mask = umask(0);
            umask(mask);
            mode = 0666 & ~mask;
        }
        std::string pattern = parentDirectory(output) + "/." + baseName(output) + ".XXXXXX.part";
        std::vector<char> name(pattern.begin(), pattern.end());
        name.push_back('\0');
        int descriptor = mkstemps(name.data(), 5);
        if (descriptor < 0)
            return fail(kExitOutput, "cannot write output %s: %s", output.c_str(), errorText().c_str());
        temporaryPath_ = name.data();
        rememberForInterrupt(interruptTempOutput, temporaryPath_);
        fchmod(descriptor, mode);
        close(descriptor);

        SF_INFO info;
        std::memset(&info, 0, sizeof info);
        info.channels = channels;
        info.samplerate = sampleRate;
        info.format = format;
        file_ = sf_open(temporaryPath_.c_str(), SFM_WRITE, &info);
        if (file_ == nullptr)
            return fail(kExitOutput, "cannot write output %s: %s", output.c_str(), sf_strerror(nullptr));
        return kExitOk;
    }

    bool write(const int16_t* samples, sf_count_t frames) {
        return frames == 0 || sf_writef_short(file_, samples, frames) == frames;
    }
    std::string lastError() const { return file_ ? sf_strerror(file_) : "not open"; }

    // Finishes the file and puts it in place.
    int commit() {
        int closeResult = sf_close(file_);
        file_ = nullptr;
        if (closeResult != 0)
            return fail(kExitOutput, "cannot finish output %s: %s", finalPath_.c_str(), sf_error_number(closeResult));
        // The data must be on disk before the name points at it.
        int descriptor = ::open(temporaryPath_.c_str(), O_RDONLY | O_CLOEXEC);
        bool synced = descriptor >= 0 && fsync(descriptor) == 0;
        if (descriptor >= 0) close(descriptor);
        if (!synced) return fail(kExitOutput, "cannot finish output %s: %s", finalPath_.c_str(), errorText().c_str());
        if (rename(temporaryPath_.c_str(), finalPath_.c_str()) != 0)
            return fail(kExitOutput, "cannot put output in place as %s: %s", finalPath_.c_str(), errorText().c_str());
        temporaryPath_.clear();
        interruptTempOutput[0] = '\0';
        return kExitOk;
    }

private:
    std::string finalPath_;
    std::string temporaryPath_;
    SNDFILE* file_ = nullptr;
};

// Where the frames come from: an audio file or the demo signal.
class AudioSource {
public:
    AudioSource() = default;
    AudioSource(const AudioSource&) = delete;
    AudioSource& operator=(const AudioSource&) = delete;
    ~AudioSource() {
        if (file_ != nullptr) sf_close(file_);
    }

    int openFile(const std::string& path) {
        path_ = path;
        SF_INFO info;
        std::memset(&info, 0, sizeof info);
        file_ = sf_open(path.c_str(), SFM_READ, &info);
        if (file_ == nullptr) return fail(kExitInput, "cannot read input %s: %s", path.c_str(), sf_strerror(nullptr));
        if (info.channels < 1 || info.samplerate < 1)
            return fail(kExitInput, "input %s has %d channels at %d Hz", path.c_str(), info.channels, info.samplerate);
        channels_ = info.channels;
        sampleRate_ = info.samplerate;
        // 16-bit and 8-bit PCM come back exact from libsndfile's own short
        // reading; everything else is read normalised and rounded here.
        const int subtype = info.format & SF_FORMAT_SUBMASK;
        readsShortsDirectly_ = subtype == SF_FORMAT_PCM_16 || subtype == SF_FORMAT_PCM_S8 || subtype == SF_FORMAT_PCM_U8;
        knownFrames_ = info.frames > 0 && info.frames < SF_COUNT_MAX ? info.frames : 0;
        return kExitOk;
    }

    void openDemo() {
        demo_ = demo::demoSignal();
        path_ = "the demo signal";
        channels_ = demo::kChannels;
        sampleRate_ = demo::kSampleRate;
        knownFrames_ = demo::kFrames;
    }

    // Reads up to `frames` frames; fewer only at the end. -1 on a read error.
    sf_count_t read(int16_t* destination, sf_count_t frames) {
        if (file_ == nullptr) {
            sf_count_t available = static_cast<sf_count_t>(demo_.size()) / channels_ - position_;
            sf_count_t take = std::min(frames, available);
            std::copy_n(demo_.begin() + position_ * channels_, take * channels_, destination);
            position_ += take;
            return take;
        }
        if (readsShortsDirectly_) {
            sf_count_t total = 0;
            while (total < frames) {
                sf_count_t got = sf_readf_short(file_, destination + total * channels_, frames - total);
                if (got <= 0) break;
                total += got;
            }
            if (total < frames && sf_error(file_) != SF_ERR_NO_ERROR) return -1;
            return total;
        }
        // libsndfile's own float-to-short reading does not scale float files,
        // so other formats are read normalised and brought to 16 bits here.
        scratch_.resize(static_cast<size_t>(frames) * static_cast<size_t>(channels_));
        sf_count_t total = 0;
        while (total < frames) {
            sf_count_t got = sf_readf_float(file_, scratch_.data() + total * channels_, frames - total);
            if (got <= 0) break;
            total += got;
        }
        if (total < frames && sf_error(file_) != SF_ERR_NO_ERROR) return -1;
        for (sf_count_t i = 0; i < total * channels_; ++i) destination[i] = toSixteenBits(scratch_[i]);
        return total;
    }

    // Full scale 1.0 is 32768, so 16-bit files come back exactly; beyond full
    // scale clips, NaN is silence.
    static int16_t toSixteenBits(float sample) {
        if (std::isnan(sample)) return 0;
        double scaled = std::nearbyint(static_cast<double>(sample) * 32768.0);
        return static_cast<int16_t>(std::clamp(scaled, -32768.0, 32767.0));
    }

    std::string lastError() const { return file_ ? sf_strerror(file_) : "no error"; }
    const std::string& name() const { return path_; }
    int channels() const { return channels_; }
    int sampleRate() const { return sampleRate_; }
    sf_count_t knownFrames() const { return knownFrames_; }

private:
    std::string path_;
    SNDFILE* file_ = nullptr;
    std::vector<int16_t> demo_;
    std::vector<float> scratch_;
    sf_count_t position_ = 0;
    bool readsShortsDirectly_ = false;
    int channels_ = 0;
    int sampleRate_ = 0;
    sf_count_t knownFrames_ = 0;
};

// --- The plug-in, driven as the player drives it. ---

class PluginLibrary {
public:
    PluginLibrary() = default;
    PluginLibrary(const PluginLibrary&) = delete;
    PluginLibrary& operator=(const PluginLibrary&) = delete;
    ~PluginLibrary() {
        quit();
        if (library_ != nullptr) dlclose(library_);
    }

    int load(std::string path) {
        // Without a slash dlopen would search the library path, not this directory.
        if (path.find('/') == std::string::npos) path = "./" + path;
        library_ = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
        if (library_ == nullptr) {
            const char* reason = dlerror();
            return fail(kExitPlugin, "cannot load the plug-in: %s", reason ? reason : path.c_str());
        }
        auto getHeader = reinterpret_cast<GetHeaderEntry>(dlsym(library_, "winampDSPGetHeader2"));
        if (getHeader == nullptr)
            return fail(kExitPlugin, "%s is not a DSP plug-in: it has no winampDSPGetHeader2", path.c_str());
        winampDSPHeader* header = getHeader();
        if (header == nullptr) return fail(kExitPlugin, "the plug-in's winampDSPGetHeader2 returned no header");
        if (header->version != kDspHeaderVersion)
            return fail(kExitPlugin, "the plug-in's header has version 0x%x, not 0x%x", header->version,
                        kDspHeaderVersion);
        module_ = header->getModule != nullptr ? header->getModule(0) : nullptr;
        if (module_ == nullptr) return fail(kExitPlugin, "the plug-in offers no module 0");
        if (module_->Init == nullptr || module_->ModifySamples == nullptr || module_->Quit == nullptr)
            return fail(kExitPlugin, "the plug-in's module 0 lacks an init, sample or quit entry");
        return kExitOk;
    }

    int init() {
        module_->hwndParent = nullptr;
        module_->hDllInstance = library_;
        initCalled_ = true;
        int32_t result = module_->Init(module_);
        if (result != 0) return fail(kExitPlugin, "the plug-in's init failed (it returned %d)", result);
        return kExitOk;
    }

    int32_t modifySamples(int16_t* samples, int32_t frames, int32_t channels, int32_t sampleRate) {
        return module_->ModifySamples(module_, samples, frames, 16, channels, sampleRate);
    }

    // The player calls quit after every init, a failed one included.
    void quit() {
        if (!initCalled_) return;
        initCalled_ = false;
        module_->Quit(module_);
    }

private:
    void* library_ = nullptr;
    winampDSPModule* module_ = nullptr;
    bool initCalled_ = false;
};

// --- Progress and summary. ---

class ProgressBar {
public:
    ProgressBar(sf_count_t totalFrames, int sampleRate)
        : enabled_(isatty(STDERR_FILENO) == 1 && totalFrames > 0), total_(totalFrames), sampleRate_(sampleRate) {}

    void update(sf_count_t done) {
        if (!enabled_) return;
        int percent = static_cast<int>(std::min<sf_count_t>(done, total_) * 100 / total_);
        if (percent == shownPercent_) return;
        shownPercent_ = percent;
        constexpr int kWidth = 40;
        char bar[kWidth + 1];
        int filled = percent * kWidth / 100;
        for (int i = 0; i < kWidth; ++i) bar[i] = i < filled ? '#' : '.';
        bar[kWidth] = '\0';
        std::fprintf(stderr, "\r[%s] %3d%%  %.1f / %.1f s", bar, percent, static_cast<double>(done) / sampleRate_,
                     static_cast<double>(total_) / sampleRate_);
        std::fflush(stderr);
    }

    void finish() {
        if (!enabled_ || shownPercent_ < 0) return;
        std::fprintf(stderr, "\r%70s\r", "");
        std::fflush(stderr);
    }

private:
    bool enabled_;
    sf_count_t total_;
    int sampleRate_;
    int shownPercent_ = -1;
};

std::string describePeaks(const std::vector<int>& peaks) {
    std::string text;
    for (size_t channel = 0; channel < peaks.size(); ++channel) {
        char label[32];
        if (peaks.size() == 2)
            std::snprintf(label, sizeof label, "%s", channel == 0 ? "L" : "R");
        else
            std::snprintf(label, sizeof label, "ch%zu", channel + 1);
        char level[64];
        if (peaks[channel] == 0)
            std::snprintf(level, sizeof level, "-inf dBFS");
        else
            std::snprintf(level, sizeof level, "%.2f dBFS", 20.0 * std::log10(peaks[channel] / 32768.0));
        char part[128];
        std::snprintf(part, sizeof part, "%s%s %s (%d)", channel == 0 ? "" : ", ", label, level, peaks[channel]);
        text += part;
    }
    return text;
}

// --- The render. ---

struct RenderTotals {
    sf_count_t framesIn = 0;
    sf_count_t framesOut = 0;
    std::vector<int> peaks;
    double pluginSeconds = 0;
};

class Renderer {
public:
    Renderer(const Options& options, AudioSource& source, PluginLibrary& plugin, TemporaryOutput& output)
        : options_(options), source_(source), plugin_(plugin), output_(output),
          channels_(source.channels()),
          capacityFrames_(2 * options.blockFrames),  // room for a plug-in that returns more, as the player gives
          buffer_(static_cast<size_t>(capacityFrames_) * static_cast<size_t>(source.channels())) {
        totals_.peaks.assign(static_cast<size_t>(channels_), 0);
    }

    int run() {
        ProgressBar progress(source_.knownFrames(), source_.sampleRate());
        for (;;) {
            sf_count_t frames = source_.read(buffer_.data(), options_.blockFrames);
            if (frames < 0) {
                progress.finish();
                return fail(kExitInput, "reading %s failed: %s", source_.name().c_str(), source_.lastError().c_str());
            }
            if (frames == 0) break;
            totals_.framesIn += frames;
            if (int code = processBlock(frames); code != kExitOk) {
                progress.finish();
                return code;
            }
            progress.update(totals_.framesIn);
        }
        progress.finish();
        return options_.flush ? flush() : kExitOk;
    }

    const RenderTotals& totals() const { return totals_; }

private:
    int processBlock(sf_count_t frames) {
        Clock::time_point start = Clock::now();
        int32_t produced = plugin_.modifySamples(buffer_.data(), static_cast<int32_t>(frames), channels_,
                                                 source_.sampleRate());
        totals_.pluginSeconds += std::chrono::duration<double>(Clock::now() - start).count();
        if (produced < 0 || produced > capacityFrames_)
            return fail(kExitPlugin, "the plug-in returned %d frames for a block of %lld", produced,
                        static_cast<long long>(frames));
        return deliver(buffer_.data(), produced);
    }

    // Writes produced frames; with --flush, never past the input's length so
    // far (frames beyond it wait, and are dropped if the input ends first).
    int deliver(const int16_t* samples, sf_count_t frames) {
        if (!options_.flush) return writeOut(samples, frames);
        pending_.insert(pending_.end(), samples, samples + frames * channels_);
        sf_count_t pendingFrames = static_cast<sf_count_t>(pending_.size()) / channels_;
        sf_count_t take = std::min(pendingFrames, totals_.framesIn - totals_.framesOut);
        if (take <= 0) return kExitOk;
        int code = writeOut(pending_.data(), take);
        pending_.erase(pending_.begin(), pending_.begin() + take * channels_);
        return code;
    }

    int writeOut(const int16_t* samples, sf_count_t frames) {
        for (int channel = 0; channel < channels_; ++channel) {
            int peak = totals_.peaks[static_cast<size_t>(channel)];
            for (sf_count_t i = channel; i < frames * channels_; i += channels_) {
                int magnitude = std::abs(static_cast<int>(samples[i]));
                if (magnitude > peak) peak = magnitude;
            }
            totals_.peaks[static_cast<size_t>(channel)] = peak;
        }
        if (!output_.write(samples, frames))
            return fail(kExitOutput, "writing %s failed: %s", options_.output.c_str(), output_.lastError().c_str());
        totals_.framesOut += frames;
        return kExitOk;
    }

    // Silent blocks until the delayed end of the input has come out.
    int flush() {
        const sf_count_t silenceLimit =
            totals_.framesIn + static_cast<sf_count_t>(kFlushSilenceBeyondInputSeconds) * source_.sampleRate();
        sf_count_t silenceFed = 0;
        while (totals_.framesOut < totals_.framesIn) {
            if (silenceFed >= silenceLimit)
                return fail(kExitPlugin,
                            "--flush gave up: after %lld frames of silence the plug-in has returned %lld of the "
                            "input's %lld frames",
                            static_cast<long long>(silenceFed), static_cast<long long>(totals_.framesOut),
                            static_cast<long long>(totals_.framesIn));
            std::fill(buffer_.begin(), buffer_.end(), int16_t{0});
            if (int code = processBlock(options_.blockFrames); code != kExitOk) return code;
            silenceFed += options_.blockFrames;
        }
        return kExitOk;
    }

    const Options& options_;
    AudioSource& source_;
    PluginLibrary& plugin_;
    TemporaryOutput& output_;
    int channels_;
    long capacityFrames_;
    std::vector<int16_t> buffer_;
    std::vector<int16_t> pending_;
    RenderTotals totals_;
};

int render(const Options& options) {
    Clock::time_point start = Clock::now();

    AudioSource source;
    if (options.demo) {
        source.openDemo();
    } else if (int code = source.openFile(options.input); code != kExitOk) {
        return code;
    }
    if (options.blockFrames * source.channels() > kMaxBlockSamples)
        return fail(kExitUsage, "--block %ld is too large for %d channels (at most %ld frames)", options.blockFrames,
                    source.channels(), kMaxBlockSamples / source.channels());

    std::string pluginPath = options.pluginPath;
    if (pluginPath.empty() && !defaultPluginPath(&pluginPath))
        return fail(kExitPlugin, "cannot find this program's own location; name the plug-in with --plugin");

    // Declared before the plug-in, so the copy is removed after it is unloaded.
    PrivatePluginCopy privateCopy;
    if (!options.settingsFile.empty()) {
        std::string pluginCopy;
        if (int code = privateCopy.prepare(pluginPath, options.settingsFile, &pluginCopy); code != kExitOk)
            return code;
        pluginPath = pluginCopy;
    }

    int format = 0;
    if (!outputFormatFor(options.output, source.channels(), source.sampleRate(), &format))
        return fail(kExitOutput, "unknown output format for %s: use an extension such as .wav, .flac, .aiff or .ogg",
                    options.output.c_str());
    TemporaryOutput output;
    if (int code = output.open(options.output, format, source.channels(), source.sampleRate()); code != kExitOk)
        return code;

    RenderTotals totals;
    {
        PluginLibrary plugin;
        if (int code = plugin.load(pluginPath); code != kExitOk) return code;
        if (int code = plugin.init(); code != kExitOk) return code;
        Renderer renderer(options, source, plugin, output);
        if (int code = renderer.run(); code != kExitOk) return code;
        plugin.quit();
        totals = renderer.totals();
    }
    if (int code = output.commit(); code != kExitOk) return code;

    double totalSeconds = std::chrono::duration<double>(Clock::now() - start).count();
    double audioSeconds = static_cast<double>(totals.framesIn) / source.sampleRate();
    char speed[32] = "-";
    if (totals.pluginSeconds > 0) std::snprintf(speed, sizeof speed, "%.1fx", audioSeconds / totals.pluginSeconds);
    std::printf("%s: %lld frames in, %lld out, %d ch at %d Hz (%.3f s of audio); peak %s; plug-in %.3f s, %s real "
                "time; total %.3f s\n",
                options.output.c_str(), static_cast<long long>(totals.framesIn),
                static_cast<long long>(totals.framesOut), source.channels(), source.sampleRate(), audioSeconds,
                describePeaks(totals.peaks).c_str(), totals.pluginSeconds, speed, totalSeconds);
    return kExitOk;
}

}  // namespace

int main(int argc, char** argv) {
    tools::programName = "brimwell-render";
    Options options;
    if (!parseOptions(argc, argv, &options)) return kExitUsage;
    if (options.help) {
        std::fputs(kHelp, stdout);
        return kExitOk;
    }
    installInterruptCleanup();
    return render(options);
}
