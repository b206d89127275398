// brimwell-render and brimwell-config, run as the real programs.
#include <gtest/gtest.h>

#if defined(BRIMWELL_TOOLS_BUILT)

#include <fcntl.h>
#include <signal.h>
#include <sndfile.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cmath>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <memory>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "host/context.h"
#include "host/settings.h"
#include "tests/support/plugin_loader.h"
#include "tools/demo_signal.h"

namespace fs = std::filesystem;

namespace {

struct Outcome {
    int exitCode = -1;
    std::string out;
    std::string err;
};

std::string readFileText(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

void writeFileText(const std::string& path, const std::string& bytes) {
    std::ofstream out(path, std::ios::binary);
    out << bytes;
}

struct Audio {
    int channels = 0;
    int sampleRate = 0;
    int format = 0;
    std::vector<int16_t> samples;
    size_t frames() const { return channels ? samples.size() / static_cast<size_t>(channels) : 0; }
};

void writeWav(const std::string& path, const std::vector<int16_t>& samples, int channels, int sampleRate) {
    SF_INFO info{};
    info.channels = channels;
    info.samplerate = sampleRate;
    info.format = SF_FORMAT_WAV | SF_FORMAT_PCM_16;
    SNDFILE* file = sf_open(path.c_str(), SFM_WRITE, &info);
    ASSERT_NE(file, nullptr) << sf_strerror(nullptr);
    sf_count_t frames = static_cast<sf_count_t>(samples.size()) / channels;
    EXPECT_EQ(sf_writef_short(file, samples.data(), frames), frames);
    sf_close(file);
}

Audio readAudio(const std::string& path) {
    Audio audio;
    SF_INFO info{};
    SNDFILE* file = sf_open(path.c_str(), SFM_READ, &info);
    if (file == nullptr) {
        ADD_FAILURE() << "cannot read " << path << ": " << sf_strerror(nullptr);
        return audio;
    }
    audio.channels = info.channels;
    audio.sampleRate = info.samplerate;
    audio.format = info.format;
    std::vector<int16_t> chunk(4096 * static_cast<size_t>(info.channels));
    for (;;) {
        sf_count_t got = sf_readf_short(file, chunk.data(), 4096);
        if (got <= 0) break;
        audio.samples.insert(audio.samples.end(), chunk.begin(), chunk.begin() + got * info.channels);
    }
    sf_close(file);
    return audio;
}

// The first `frames` frames of the demo material: music-like, not silence.
std::vector<int16_t> excerpt(size_t frames) {
    std::vector<int16_t> all = demo::demoSignal();
    all.resize(frames * 2);
    return all;
}

// A deterministic ramp-and-pattern signal for any channel count.
std::vector<int16_t> patternSignal(size_t frames, int channels) {
    std::vector<int16_t> samples(frames * static_cast<size_t>(channels));
    for (size_t i = 0; i < samples.size(); ++i) samples[i] = static_cast<int16_t>((i * 7919) % 60000 - 30000);
    return samples;
}

// The player's way through the exported entry, with no tool in between:
// `blockFrames` per call, and with `flush` silent blocks until the output
// is as long as the input, cut to that length.
std::vector<int16_t> runThroughEntry(const std::string& pluginPath, const std::vector<int16_t>& input, int channels,
                                     int sampleRate, size_t blockFrames, bool flush) {
    std::vector<int16_t> output;
    LoadedPlugin plugin;
    std::string error;
    if (!plugin.load(pluginPath, &error)) {
        ADD_FAILURE() << error;
        return output;
    }
    winampDSPModule* module = plugin.module;
    module->hwndParent = nullptr;
    module->hDllInstance = plugin.library;
    EXPECT_EQ(module->Init(module), 0);
    std::vector<int16_t> buffer(2 * blockFrames * static_cast<size_t>(channels));
    auto call = [&](size_t frames) {
        int32_t produced = module->ModifySamples(module, buffer.data(), static_cast<int32_t>(frames), 16, channels,
                                                 sampleRate);
        EXPECT_GE(produced, 0);
        output.insert(output.end(), buffer.begin(), buffer.begin() + produced * channels);
    };
    size_t inputFrames = input.size() / static_cast<size_t>(channels);
    for (size_t start = 0; start < inputFrames; start += blockFrames) {
        size_t frames = std::min(blockFrames, inputFrames - start);
        std::copy_n(input.begin() + static_cast<std::ptrdiff_t>(start * channels), frames * channels, buffer.begin());
        call(frames);
    }
    if (flush) {
        for (int guard = 0; output.size() < input.size() && guard < 100000; ++guard) {
            std::fill(buffer.begin(), buffer.end(), int16_t{0});
            call(blockFrames);
        }
        output.resize(input.size());
    }
    module->Quit(module);
    return output;
}

SettingsRecord defaultRecord() {
    auto context = std::make_unique<DspArray>();
    ApplyDefaults(context.get());
    ApplyDefaultSwitchState(context.get());
    return GatherSettings(context.get());
}

uint32_t bitsOf(float value) {
    uint32_t bits;
    std::memcpy(&bits, &value, sizeof bits);
    return bits;
}

struct timespec modificationTime(const std::string& path) {
    struct stat status {};
    stat(path.c_str(), &status);
    return status.st_mtim;
}

void setOldModificationTime(const std::string& path) {
    struct timespec times[2] = {{978307200, 0}, {978307200, 0}};  // 2001-01-01
    ASSERT_EQ(utimensat(AT_FDCWD, path.c_str(), times, 0), 0);
}

std::set<std::string> entriesOf(const std::string& directory) {
    std::set<std::string> names;
    for (const auto& entry : fs::directory_iterator(directory)) names.insert(entry.path().filename().string());
    return names;
}

class ToolsTest : public ::testing::Test {
protected:
    void SetUp() override {
        dir_ = makeTempDirectory();
        ASSERT_FALSE(dir_.empty());
        childTemp_ = dir_ + "/tmp";
        fs::create_directory(childTemp_);
        fs::create_directory(dir_ + "/plugin");
        plugin_ = copyPluginInto(dir_ + "/plugin");
    }
    void TearDown() override { fs::remove_all(dir_); }

public:
    std::string path(const std::string& name) const { return dir_ + "/" + name; }
    // "@name" stands for path("name"); anything else is taken as it is.
    std::string expand(const std::string& argument) const {
        return argument.rfind('@', 0) == 0 ? path(argument.substr(1)) : argument;
    }
    const std::string& pluginPath() const { return plugin_; }

protected:

    // Starts a program with TMPDIR pointing into this test's directory.
    pid_t start(const std::string& program, const std::vector<std::string>& arguments) {
        pid_t child = fork();
        if (child == 0) {
            int out = open(outPath().c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
            int err = open(errPath().c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
            dup2(out, STDOUT_FILENO);
            dup2(err, STDERR_FILENO);
            setenv("TMPDIR", childTemp_.c_str(), 1);
            std::vector<char*> argv;
            argv.push_back(const_cast<char*>(program.c_str()));
            for (const std::string& argument : arguments) argv.push_back(const_cast<char*>(argument.c_str()));
            argv.push_back(nullptr);
            execv(program.c_str(), argv.data());
            _exit(127);
        }
        return child;
    }
    // Waits for a started program; a death by signal s reads as 128 + s.
    Outcome finish(pid_t child) {
        Outcome outcome;
        int status = 0;
        waitpid(child, &status, 0);
        outcome.exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
        outcome.out = readFileText(outPath());
        outcome.err = readFileText(errPath());
        fs::remove(outPath());
        fs::remove(errPath());
        return outcome;
    }
    Outcome run(const std::string& program, const std::vector<std::string>& arguments) {
        return finish(start(program, arguments));
    }
    std::string outPath() const { return dir_ + "/.stdout"; }
    std::string errPath() const { return dir_ + "/.stderr"; }
    Outcome render(const std::vector<std::string>& arguments) { return run(BRIMWELL_RENDER_PATH, arguments); }
    Outcome config(const std::vector<std::string>& arguments) { return run(BRIMWELL_CONFIG_PATH, arguments); }

    // A settings file made by brimwell-config.
    std::string makeSettings(const std::string& name, const std::vector<std::string>& assignments) {
        std::vector<std::string> arguments = {"set", path(name)};
        arguments.insert(arguments.end(), assignments.begin(), assignments.end());
        Outcome made = config(arguments);
        EXPECT_EQ(made.exitCode, 0) << made.err;
        return path(name);
    }

    // A fresh plug-in copy in its own directory, with `settings` beside it.
    std::string referencePlugin(const std::string& name, const std::string& settings) {
        std::string directory = path(name);
        fs::create_directory(directory);
        std::string library = copyPluginInto(directory);
        if (!settings.empty()) fs::copy_file(settings, directory + "/" + kSettingsFileName);
        return library;
    }

    std::string dir_;
    std::string childTemp_;
    std::string plugin_;
};

// --- brimwell-render: the same frames as the player's way through the entry. ---

struct RenderCase {
    const char* label;
    size_t inputFrames;
    size_t blockFrames;
    std::vector<std::string> settings;  // brimwell-config assignments; empty: the plug-in's defaults
    bool flush;
};

TEST_F(ToolsTest, RenderEqualsARunThroughTheExportedEntry) {
    const RenderCase cases[] = {
        {"default block, defaults", 44100, 576, {}, false},
        {"blocks beyond one piece, FFT equaliser on", 30000, 4097, {"enable-fft-eq=on"}, false},
        {"one frame per call", 3000, 1, {}, false},
        {"flushed, hard limiter on", 20000, 1000, {"enable-hard-limiter=on"}, true},
        {"flushed, FFT equaliser on, block longer than the input", 20000, 25000, {"enable-fft-eq=on"}, true},
    };
    int index = 0;
    for (const RenderCase& c : cases) {
        SCOPED_TRACE(c.label);
        std::string tag = std::to_string(index++);
        std::vector<int16_t> input = excerpt(c.inputFrames);
        std::string inputPath = path("in" + tag + ".wav");
        writeWav(inputPath, input, 2, 44100);
        std::string settings = c.settings.empty() ? "" : makeSettings("settings" + tag + ".cfg", c.settings);

        std::string toolPlugin = referencePlugin("tool" + tag, "");
        std::vector<std::string> arguments = {"--plugin", toolPlugin, "--block", std::to_string(c.blockFrames)};
        if (!settings.empty()) arguments.insert(arguments.end(), {"--settings", settings});
        if (c.flush) arguments.push_back("--flush");
        std::string outputPath = path("out" + tag + ".wav");
        arguments.insert(arguments.end(), {inputPath, outputPath});
        Outcome rendered = render(arguments);
        ASSERT_EQ(rendered.exitCode, 0) << rendered.err;

        std::vector<int16_t> expected =
            runThroughEntry(referencePlugin("reference" + tag, settings), input, 2, 44100, c.blockFrames, c.flush);
        Audio output = readAudio(outputPath);
        EXPECT_EQ(output.channels, 2);
        EXPECT_EQ(output.sampleRate, 44100);
        EXPECT_EQ(output.format, SF_FORMAT_WAV | SF_FORMAT_PCM_16);
        if (c.flush) {
            EXPECT_EQ(output.frames(), c.inputFrames);
        }
        EXPECT_TRUE(output.samples == expected) << "rendered " << output.frames() << " frames, expected "
                                                << expected.size() / 2;
        EXPECT_NE(rendered.out.find(std::to_string(c.inputFrames) + " frames in, " +
                                    std::to_string(output.frames()) + " out"),
                  std::string::npos)
            << rendered.out;
    }
}

TEST_F(ToolsTest, DemoIsTheBuiltInSignalThroughThePlugin) {
    Outcome rendered = render({"--plugin", plugin_, "--demo", path("demo.wav")});
    ASSERT_EQ(rendered.exitCode, 0) << rendered.err;
    std::vector<int16_t> signal = demo::demoSignal();
    ASSERT_EQ(signal.size(), static_cast<size_t>(demo::kFrames) * 2);
    std::vector<int16_t> expected =
        runThroughEntry(referencePlugin("reference", ""), signal, 2, demo::kSampleRate, 576, false);
    Audio output = readAudio(path("demo.wav"));
    EXPECT_EQ(output.sampleRate, 44100);
    EXPECT_TRUE(output.samples == expected);

    // The summary: counts, and each channel's raw peak as it is in the file.
    int peaks[2] = {0, 0};
    for (size_t i = 0; i < output.samples.size(); ++i)
        peaks[i % 2] = std::max(peaks[i % 2], std::abs(static_cast<int>(output.samples[i])));
    EXPECT_GT(peaks[0], 1000);
    EXPECT_NE(rendered.out.find("352800 frames in, " + std::to_string(output.frames()) + " out"), std::string::npos)
        << rendered.out;
    EXPECT_NE(rendered.out.find("L "), std::string::npos);
    EXPECT_NE(rendered.out.find("(" + std::to_string(peaks[0]) + "), R "), std::string::npos) << rendered.out;
    EXPECT_NE(rendered.out.find("(" + std::to_string(peaks[1]) + ")"), std::string::npos) << rendered.out;
    EXPECT_NE(rendered.out.find("real time"), std::string::npos);
}

TEST_F(ToolsTest, SettingsOptionTakesEffectAndLeavesTheFileAlone) {
    std::string settings = makeSettings("off.cfg", {"power-on=off", "enable-fft-eq=on"});
    setOldModificationTime(settings);
    std::string bytesBefore = readFileText(settings);
    struct timespec timeBefore = modificationTime(settings);

    std::vector<int16_t> input = excerpt(20000);
    writeWav(path("in.wav"), input, 2, 44100);
    Outcome rendered = render({"--plugin", plugin_, "--settings", settings, path("in.wav"), path("out.wav")});
    ASSERT_EQ(rendered.exitCode, 0) << rendered.err;

    // Power off: the plug-in hands every block back untouched.
    EXPECT_TRUE(readAudio(path("out.wav")).samples == input);
    EXPECT_EQ(readFileText(settings), bytesBefore);
    struct timespec timeAfter = modificationTime(settings);
    EXPECT_EQ(timeAfter.tv_sec, timeBefore.tv_sec);
    EXPECT_EQ(timeAfter.tv_nsec, timeBefore.tv_nsec);
    // The private copy is gone, and nothing was written beside the plug-in.
    EXPECT_TRUE(entriesOf(childTemp_).empty());
    EXPECT_EQ(entriesOf(dir_ + "/plugin"), std::set<std::string>{"dsp_brimwell.so"});
}

TEST_F(ToolsTest, DefaultPluginSitsAboveTheToolAndUsesItsOwnSettings) {
    // The build layout: <dir>/tools/brimwell-render and <dir>/dsp_brimwell.so.
    std::string layout = path("build");
    fs::create_directories(layout + "/tools");
    fs::copy_file(BRIMWELL_RENDER_PATH, layout + "/tools/brimwell-render");
    copyPluginInto(layout);
    std::string besidePlugin = layout + "/" + kSettingsFileName;
    fs::copy_file(makeSettings("off.cfg", {"power-on=0"}), besidePlugin);
    setOldModificationTime(besidePlugin);

    std::vector<int16_t> input = excerpt(10000);
    writeWav(path("in.wav"), input, 2, 44100);
    Outcome rendered = run(layout + "/tools/brimwell-render", {path("in.wav"), path("out.wav")});
    ASSERT_EQ(rendered.exitCode, 0) << rendered.err;
    EXPECT_TRUE(readAudio(path("out.wav")).samples == input);
    // Rewritten at quit, as in the player, with the same settings.
    EXPECT_NE(modificationTime(besidePlugin).tv_sec, 978307200);
    SettingsRecord record{};
    EXPECT_EQ(ReadSettingsFile(besidePlugin.c_str(), &record), kReadOk);
    EXPECT_EQ(record.powerOn, 0);
}

TEST_F(ToolsTest, NonStereoFilesPassThroughWithTheirShape) {
    const struct {
        int channels;
        int sampleRate;
    } shapes[] = {{1, 22050}, {3, 48000}};
    for (const auto& shape : shapes) {
        SCOPED_TRACE(shape.channels);
        std::vector<int16_t> input = patternSignal(5000, shape.channels);
        writeWav(path("in.wav"), input, shape.channels, shape.sampleRate);
        Outcome rendered = render({"--plugin", plugin_, "--flush", path("in.wav"), path("out.wav")});
        ASSERT_EQ(rendered.exitCode, 0) << rendered.err;
        Audio output = readAudio(path("out.wav"));
        EXPECT_EQ(output.channels, shape.channels);
        EXPECT_EQ(output.sampleRate, shape.sampleRate);
        EXPECT_TRUE(output.samples == input);
    }
}

TEST_F(ToolsTest, FloatAndWideInputsReachThePluginAs16BitSamples) {
    // Power off, so the output is what the plug-in was handed.
    std::string off = makeSettings("off.cfg", {"power-on=0"});
    const float floats[] = {0.5f, -0.25f, 1.5f, -2.0f, 1.0f / 32768, -0.75f / 32768, 0.4f / 32768, NAN};
    const int16_t fromFloats[] = {16384, -8192, 32767, -32768, 1, -1, 0, 0};
    const int32_t wide[] = {0x1234C000, -0x40000000, 0x7fffff00, 0x0000C000};  // 24-bit samples, high-aligned
    const int16_t fromWide[] = {0x1235, -0x4000, 32767, 1};

    SF_INFO info{};
    info.channels = 2;
    info.samplerate = 44100;
    info.format = SF_FORMAT_WAV | SF_FORMAT_FLOAT;
    SNDFILE* file = sf_open(path("float.wav").c_str(), SFM_WRITE, &info);
    ASSERT_NE(file, nullptr);
    sf_writef_float(file, floats, 4);
    sf_close(file);
    info.format = SF_FORMAT_WAV | SF_FORMAT_PCM_24;
    file = sf_open(path("wide.wav").c_str(), SFM_WRITE, &info);
    ASSERT_NE(file, nullptr);
    sf_writef_int(file, wide, 2);
    sf_close(file);

    ASSERT_EQ(render({"--plugin", plugin_, "--settings", off, path("float.wav"), path("float-out.wav")}).exitCode, 0);
    ASSERT_EQ(render({"--plugin", plugin_, "--settings", off, path("wide.wav"), path("wide-out.wav")}).exitCode, 0);
    EXPECT_EQ(readAudio(path("float-out.wav")).samples, std::vector<int16_t>(std::begin(fromFloats), std::end(fromFloats)));
    EXPECT_EQ(readAudio(path("wide-out.wav")).samples, std::vector<int16_t>(std::begin(fromWide), std::end(fromWide)));
}

TEST_F(ToolsTest, OutputFormatFollowsTheExtension) {
    writeWav(path("in.wav"), excerpt(8000), 2, 44100);
    ASSERT_EQ(render({"--plugin", plugin_, path("in.wav"), path("out.wav")}).exitCode, 0);
    Audio reference = readAudio(path("out.wav"));
    const struct {
        const char* name;
        int format;
        bool lossless;
    } formats[] = {
        {"out.flac", SF_FORMAT_FLAC | SF_FORMAT_PCM_16, true},
        {"out.aiff", SF_FORMAT_AIFF | SF_FORMAT_PCM_16, true},
        {"OUT.AIF", SF_FORMAT_AIFF | SF_FORMAT_PCM_16, true},
        {"out.caf", SF_FORMAT_CAF | SF_FORMAT_PCM_16, true},
        {"out.ogg", SF_FORMAT_OGG | SF_FORMAT_VORBIS, false},
    };
    for (const auto& format : formats) {
        SCOPED_TRACE(format.name);
        Outcome rendered = render({"--plugin", plugin_, path("in.wav"), path(format.name)});
        ASSERT_EQ(rendered.exitCode, 0) << rendered.err;
        Audio output = readAudio(path(format.name));
        EXPECT_EQ(output.format, format.format);
        EXPECT_EQ(output.channels, 2);
        if (format.lossless) {
            EXPECT_TRUE(output.samples == reference.samples);
        }
    }
}

// --- brimwell-render: failures. ---

struct RenderFailure {
    const char* label;
    std::function<std::vector<std::string>(ToolsTest&)> arguments;
    int exitCode;
    std::vector<std::string> messages;
};

class RenderFailureTest : public ToolsTest {
protected:
    void expectFailure(const RenderFailure& failure) {
        SCOPED_TRACE(failure.label);
        // An earlier good output that a failed run must not touch.
        writeFileText(path("out.wav"), "an earlier render");
        std::set<std::string> before = entriesOf(dir_);
        Outcome outcome = render(failure.arguments(*this));
        EXPECT_EQ(outcome.exitCode, failure.exitCode) << outcome.err;
        for (const std::string& message : failure.messages)
            EXPECT_NE(outcome.err.find(message), std::string::npos) << outcome.err;
        // The renderer's own report is one line.
        size_t ownLine = outcome.err.find("brimwell-render: ");
        ASSERT_NE(ownLine, std::string::npos) << outcome.err;
        EXPECT_EQ(outcome.err.find('\n', ownLine), outcome.err.size() - 1) << outcome.err;
        EXPECT_EQ(readFileText(path("out.wav")), "an earlier render");
        EXPECT_EQ(entriesOf(dir_), before);
        EXPECT_TRUE(entriesOf(childTemp_).empty());
        EXPECT_TRUE(outcome.out.empty()) << outcome.out;
    }

    void SetUp() override {
        ToolsTest::SetUp();
        writeWav(path("in.wav"), excerpt(3000), 2, 44100);
        writeFileText(path("text.txt"), "not audio, not a library, not settings\n");
    }
};

TEST_F(RenderFailureTest, EveryFailureExitsNonZeroWithItsMessageAndKeepsTheOutput) {
    auto plain = [](std::vector<std::string> extra) {
        return [extra](ToolsTest& t) {
            std::vector<std::string> arguments = {"--plugin", t.pluginPath()};
            for (const std::string& argument : extra) arguments.push_back(t.expand(argument));
            return arguments;
        };
    };
    const std::vector<RenderFailure> failures = {
        {"missing input", plain({"@missing.wav", "@out.wav"}), 2, {"cannot read input"}},
        {"input that is not audio", plain({"@text.txt", "@out.wav"}), 2, {"cannot read input"}},
        {"unknown output format", plain({"@in.wav", "@out.xyz"}), 3, {"unknown output format"}},
        {"output without extension", plain({"@in.wav", "@out"}), 3, {"unknown output format"}},
        {"output inside a file", plain({"@in.wav", "@text.txt/out.wav"}), 3, {"cannot write output"}},
        {"output is a directory", plain({"@in.wav", "@dir.wav"}), 3, {"is a directory"}},
        {"plug-in that is not a library", plain({"--plugin", "@text.txt", "@in.wav", "@out.wav"}), 4,
         {"cannot load the plug-in"}},
        {"missing plug-in", plain({"--plugin", "@none.so", "@in.wav", "@out.wav"}), 4, {"cannot load the plug-in"}},
        {"library without the entry", plain({"--plugin", FAKE_PLUGIN_NO_ENTRY_PATH, "@in.wav", "@out.wav"}), 4,
         {"no winampDSPGetHeader2"}},
        {"init fails", plain({"--plugin", FAKE_PLUGIN_INIT_FAILS_PATH, "@in.wav", "@out.wav"}), 4,
         {"Fatal Error: Can't INIT DSP Array, 2 errors!", "init failed"}},
        {"impossible frame count", plain({"--plugin", FAKE_PLUGIN_BAD_COUNT_PATH, "@in.wav", "@out.wav"}), 4,
         {"returned 1728 frames for a block of 576"}},
        {"flush that never ends", plain({"--plugin", FAKE_PLUGIN_SWALLOWS_PATH, "--flush", "@in.wav", "@out.wav"}), 4,
         {"--flush gave up"}},
        {"missing settings file", plain({"--settings", "@missing.cfg", "@in.wav", "@out.wav"}), 2,
         {"settings file", "missing.cfg"}},
        {"settings file that is not one", plain({"--settings", "@text.txt", "@in.wav", "@out.wav"}), 2,
         {"is not a settings file"}},
        {"settings file of a later version", plain({"--settings", "@v4.cfg", "@in.wav", "@out.wav"}), 2,
         {"version above 3"}},
        {"block 0", plain({"--block", "0", "@in.wav", "@out.wav"}), 1, {"--block wants"}},
        {"negative block", plain({"--block", "-5", "@in.wav", "@out.wav"}), 1, {"--block wants"}},
        {"block not a number", plain({"--block=12x", "@in.wav", "@out.wav"}), 1, {"--block wants"}},
        {"absurd block", plain({"--block", "1048577", "@in.wav", "@out.wav"}), 1, {"--block wants"}},
        {"huge block number", plain({"--block", "99999999999999999999", "@in.wav", "@out.wav"}), 1, {"--block wants"}},
        {"block without value", plain({"@in.wav", "@out.wav", "--block"}), 1, {"--block needs a value"}},
        {"block too large for the channels", plain({"--block", "1048576", "@wide.wav", "@out.wav"}), 1,
         {"too large for 32 channels"}},
        {"unknown option", plain({"--fast", "@in.wav", "@out.wav"}), 1, {"unknown option \"--fast\""}},
        {"one operand", plain({"@out.wav"}), 1, {"expected INPUT and OUTPUT"}},
        {"demo with an input", plain({"--demo", "@in.wav", "@out.wav"}), 1, {"--demo takes only OUTPUT"}},
    };
    fs::create_directory(path("dir.wav"));
    writeWav(path("wide.wav"), patternSignal(10, 32), 32, 44100);
    std::string version4 = readFileText(makeSettings("v4.cfg", {"wet=0.5"}));
    version4[4] = 4;
    writeFileText(path("v4.cfg"), version4);
    for (const RenderFailure& failure : failures) expectFailure(failure);
}

TEST_F(RenderFailureTest, InterruptedRenderLeavesNoTrace) {
    std::string settings = makeSettings("s.cfg", {"wet=0.5"});
    writeFileText(path("out.wav"), "an earlier render");
    std::set<std::string> before = entriesOf(dir_);
    pid_t child = start(BRIMWELL_RENDER_PATH,
                        {"--plugin", FAKE_PLUGIN_HANGS_PATH, "--settings", settings, path("in.wav"), path("out.wav")});
    // Wait until the temporary output and the private copy exist, then stop it.
    bool underway = false;
    for (int tries = 0; tries < 1000 && !underway; ++tries) {
        usleep(10000);
        bool temporaryOutput = false;
        for (const std::string& name : entriesOf(dir_)) temporaryOutput |= name.rfind(".out.wav.", 0) == 0;
        underway = temporaryOutput && !entriesOf(childTemp_).empty();
    }
    EXPECT_TRUE(underway);
    kill(child, SIGTERM);
    Outcome outcome = finish(child);
    EXPECT_EQ(outcome.exitCode, 128 + SIGTERM);
    EXPECT_EQ(readFileText(path("out.wav")), "an earlier render");
    EXPECT_EQ(entriesOf(dir_), before);
    EXPECT_TRUE(entriesOf(childTemp_).empty());
}

TEST_F(ToolsTest, HelpDocumentsEveryOptionAndTheExitCodes) {
    Outcome help = render({"--help"});
    EXPECT_EQ(help.exitCode, 0);
    for (const char* text : {"--block", "--settings", "--plugin", "--flush", "--demo", "--help", "Exit codes",
                             "1  usage", "2  input", "3  output", "4  plug-in"})
        EXPECT_NE(help.out.find(text), std::string::npos) << text;
}

// --- brimwell-config. ---

struct FieldLocation {
    const char* name;
    std::function<uint32_t&(SettingsRecord&)> bits;
};

uint32_t& floatBits(float& value) { return *reinterpret_cast<uint32_t*>(&value); }
uint32_t& wordBits(int32_t& value) { return *reinterpret_cast<uint32_t*>(&value); }

// Every field's documented name and its place in the record.
std::vector<FieldLocation> allFields() {
    std::vector<FieldLocation> fields = {
        {"field-surround", [](SettingsRecord& r) -> uint32_t& { return floatBits(r.surroundWidth); }},
        {"real-surround", [](SettingsRecord& r) -> uint32_t& { return floatBits(r.surroundAmount); }},
        {"bass", [](SettingsRecord& r) -> uint32_t& { return floatBits(r.lowGain); }},
        {"soft", [](SettingsRecord& r) -> uint32_t& { return floatBits(r.highGain); }},
        {"rotation", [](SettingsRecord& r) -> uint32_t& { return floatBits(r.angleDegrees); }},
        {"gain-left", [](SettingsRecord& r) -> uint32_t& { return floatBits(r.gainLeft); }},
        {"gain-right", [](SettingsRecord& r) -> uint32_t& { return floatBits(r.gainRight); }},
        {"limit-left", [](SettingsRecord& r) -> uint32_t& { return floatBits(r.limitLeft); }},
        {"limit-right", [](SettingsRecord& r) -> uint32_t& { return floatBits(r.limitRight); }},
        {"room-size", [](SettingsRecord& r) -> uint32_t& { return floatBits(r.roomSize); }},
        {"wet", [](SettingsRecord& r) -> uint32_t& { return floatBits(r.wet); }},
        {"dry", [](SettingsRecord& r) -> uint32_t& { return floatBits(r.dry); }},
        {"width", [](SettingsRecord& r) -> uint32_t& { return floatBits(r.reverbWidth); }},
    };
    const char* enableNames[16] = {"enable-super-bass", "enable-reverb", "enable-rotation", "enable-hard-limiter",
                                   "word4", "word5", "word6", "word7", "word8", "word9", "word10", "word11",
                                   "word12", "word13", "word14", "enable-fft-eq"};
    for (int word = 0; word < 16; ++word)
        fields.push_back(
            {enableNames[word], [word](SettingsRecord& r) -> uint32_t& { return wordBits(r.enableFlags[word]); }});
    fields.push_back({"show-at-startup", [](SettingsRecord& r) -> uint32_t& { return wordBits(r.showAtStartup); }});
    fields.push_back({"power-on", [](SettingsRecord& r) -> uint32_t& { return wordBits(r.powerOn); }});
    return fields;
}

bool isFloatField(size_t index) { return index < 13; }

// The line of `show` output for field `name`.
std::string shownLine(const std::string& shown, const std::string& name) {
    std::istringstream lines(shown);
    for (std::string line; std::getline(lines, line);)
        if (line.rfind(name + " ", 0) == 0) return line;
    return std::string();
}

TEST_F(ToolsTest, ConfigRoundTripsEveryFieldBitForBit) {
    // Awkward patterns on purpose: a NaN with payload, -0, a denormal, infinity.
    const uint32_t floatPatterns[13] = {0x7fc01234, 0x80000000, 0x00000001, 0x7f800000, 0x3eb33333,
                                        0xc2b40000, 0x3f800001, 0x46fffe00, 0x47000000, 0x3ecccccd,
                                        0x3f451eb8, 0x00800000, 0xbf000000};
    std::vector<FieldLocation> fields = allFields();
    SettingsRecord expected{};
    std::vector<std::string> arguments = {"set", path("all.cfg")};
    for (size_t i = 0; i < fields.size(); ++i) {
        uint32_t bits = isFloatField(i) ? floatPatterns[i] : static_cast<uint32_t>(static_cast<int32_t>(i) * -977 + 5);
        if (i == 14) bits = 0x80000000;  // the most negative word
        fields[i].bits(expected) = bits;
        char value[16];
        if (isFloatField(i))
            std::snprintf(value, sizeof value, "0x%08x", bits);
        else
            std::snprintf(value, sizeof value, "%d", static_cast<int32_t>(bits));
        arguments.push_back(std::string(fields[i].name) + "=" + value);
    }
    Outcome set = config(arguments);
    ASSERT_EQ(set.exitCode, 0) << set.err;
    SettingsRecord written{};
    ASSERT_EQ(ReadSettingsFile(path("all.cfg").c_str(), &written), kReadOk);
    EXPECT_EQ(std::memcmp(&written, &expected, sizeof expected), 0);

    // show names every field with its value (and a float's bits).
    Outcome shown = config({"show", path("all.cfg")});
    ASSERT_EQ(shown.exitCode, 0) << shown.err;
    std::istringstream lines(shown.out);
    std::vector<std::string> shownValues;
    for (size_t i = 0; i < fields.size(); ++i) {
        std::string name, value, bits;
        lines >> name >> value;
        EXPECT_EQ(name, fields[i].name);
        if (isFloatField(i)) {
            lines >> bits;
            char hex[16];
            std::snprintf(hex, sizeof hex, "(0x%08x)", floatPatterns[i]);
            EXPECT_EQ(bits, hex) << name;
        } else {
            EXPECT_EQ(value, std::to_string(static_cast<int32_t>(fields[i].bits(expected)))) << name;
        }
        shownValues.push_back(std::string(fields[i].name) + "=" + value);
        std::string rest;
        std::getline(lines, rest);
    }

    // The decimals that show prints read back to the same bits (where a
    // decimal exists: NaN and infinity only have their bits).
    std::vector<std::string> again = {"set", path("again.cfg")};
    SettingsRecord expectedAgain = expected;
    SettingsRecord defaults = defaultRecord();
    for (size_t i = 0; i < shownValues.size(); ++i) {
        bool decimalExists = !isFloatField(i) || (floatPatterns[i] & 0x7f800000) != 0x7f800000;
        if (decimalExists)
            again.push_back(shownValues[i]);
        else
            fields[i].bits(expectedAgain) = fields[i].bits(defaults);
    }
    ASSERT_EQ(config(again).exitCode, 0);
    SettingsRecord writtenAgain{};
    ASSERT_EQ(ReadSettingsFile(path("again.cfg").c_str(), &writtenAgain), kReadOk);
    EXPECT_EQ(std::memcmp(&writtenAgain, &expectedAgain, sizeof expectedAgain), 0);
}

TEST_F(ToolsTest, ConfigSetStartsFromTheDefaultsAndTakesDecimalsAndSwitches) {
    const struct {
        const char* assignment;
        std::function<void(SettingsRecord&)> change;
    } cases[] = {
        {"enable-fft-eq=on", [](SettingsRecord& r) { r.enableFlags[15] = 38; }},
        {"word15=38", [](SettingsRecord& r) { r.enableFlags[15] = 38; }},
        {"enable-fft-eq=off", [](SettingsRecord& r) { r.enableFlags[15] = 0; }},
        {"enable-hard-limiter=on", [](SettingsRecord& r) { r.enableFlags[3] = 1; }},
        {"enable-reverb=off", [](SettingsRecord& r) { r.enableFlags[1] = 0; }},
        {"enable-super-bass=2", [](SettingsRecord& r) { r.enableFlags[0] = 2; }},
        {"power-on=off", [](SettingsRecord& r) { r.powerOn = 0; }},
        {"show-at-startup=0x00000000", [](SettingsRecord& r) { r.showAtStartup = 0; }},
        {"wet=0.35", [](SettingsRecord& r) { floatBits(r.wet) = 0x3eb33333; }},
        {"rotation=-90", [](SettingsRecord& r) { r.angleDegrees = -90.0f; }},
        {"gain-left=2.5e-1", [](SettingsRecord& r) { r.gainLeft = 0.25f; }},
        {"limit-right=0X46FFFE00", [](SettingsRecord& r) { r.limitRight = 32767.0f; }},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.assignment);
        std::string file = path("new.cfg");
        fs::remove(file);
        Outcome set = config({"set", file, c.assignment});
        ASSERT_EQ(set.exitCode, 0) << set.err;
        SettingsRecord expected = defaultRecord();
        c.change(expected);
        SettingsRecord written{};
        ASSERT_EQ(ReadSettingsFile(file.c_str(), &written), kReadOk);
        EXPECT_EQ(std::memcmp(&written, &expected, sizeof expected), 0);
        EXPECT_EQ(fs::file_size(file), kSettingsFileSize);
    }
    // show reads the values back by name.
    config({"set", path("eq.cfg"), "enable-fft-eq=on", "wet=0.35"});
    std::string shown = config({"show", path("eq.cfg")}).out;
    EXPECT_NE(shownLine(shown, "enable-fft-eq").find(" 38 (on)"), std::string::npos) << shown;
    EXPECT_NE(shownLine(shown, "wet").find(" 0.35 (0x3eb33333)"), std::string::npos) << shown;
    EXPECT_NE(shownLine(shown, "enable-hard-limiter").find(" 0 (off; on is 1)"), std::string::npos) << shown;
}

TEST_F(ToolsTest, ConfigDefaultsWritesTheDefaultRecord) {
    std::string file = makeSettings("changed.cfg", {"wet=0.9", "enable-fft-eq=on", "power-on=0"});
    Outcome written = config({"defaults", file});
    ASSERT_EQ(written.exitCode, 0) << written.err;
    SettingsRecord record{};
    ASSERT_EQ(ReadSettingsFile(file.c_str(), &record), kReadOk);
    SettingsRecord expected = defaultRecord();
    EXPECT_EQ(std::memcmp(&record, &expected, sizeof expected), 0);
    EXPECT_EQ(bitsOf(record.surroundWidth), 0x3faa3d71u);  // the defaults are not all zero
    EXPECT_EQ(record.enableFlags[3], 0);
    EXPECT_EQ(record.enableFlags[15], 1);
}

TEST_F(ToolsTest, ConfigRefusesFilesThatAreNotSettingsFilesAndLeavesThem) {
    std::string valid = readFileText(makeSettings("valid.cfg", {"wet=0.5"}));
    auto withByte = [&](size_t offset, char value) {
        std::string bytes = valid;
        bytes[offset] = value;
        return bytes;
    };
    const struct {
        const char* label;
        std::string bytes;
        const char* message;
    } files[] = {
        {"text", "hello, this is not a settings file at all\n", "is not a settings file"},
        {"empty", "", "is not a settings file"},
        {"short header", valid.substr(0, 5), "is not a settings file"},
        {"version 4", withByte(4, 4), "version above 3"},
        {"version 2", withByte(4, 2), "version below 3"},
        {"payload 125", withByte(8, 125), "payload size above 124"},
    };
    for (const auto& file : files) {
        SCOPED_TRACE(file.label);
        std::string target = path("target.cfg");
        writeFileText(target, file.bytes);
        setOldModificationTime(target);
        for (std::vector<std::string> command : {std::vector<std::string>{"show", target},
                                                 std::vector<std::string>{"set", target, "wet=0.25"},
                                                 std::vector<std::string>{"defaults", target}}) {
            SCOPED_TRACE(command[0]);
            Outcome outcome = config(command);
            EXPECT_EQ(outcome.exitCode, 2);
            EXPECT_NE(outcome.err.find(file.message), std::string::npos) << outcome.err;
            EXPECT_EQ(readFileText(target), file.bytes);
            EXPECT_EQ(modificationTime(target).tv_sec, 978307200);
        }
    }
    Outcome missing = config({"show", path("missing.cfg")});
    EXPECT_EQ(missing.exitCode, 2);
    EXPECT_NE(missing.err.find("cannot open"), std::string::npos);
}

TEST_F(ToolsTest, ConfigRefusesUnknownNamesAndBadValuesWritingNothing) {
    std::string existing = makeSettings("existing.cfg", {"wet=0.5"});
    std::string bytes = readFileText(existing);
    const struct {
        const char* assignment;
        const char* message;
    } refused[] = {
        {"loudness=1", "unknown field \"loudness\""},
        {"word16=1", "unknown field"},
        {"=1", "unknown field"},
        {"wet", "is not NAME=VALUE"},
        {"wet=", "bad value"},
        {"wet=abc", "bad value"},
        {"wet=0.5x", "bad value"},
        {"wet= 0.5", "bad value"},
        {"wet=1e60", "bad value"},
        {"wet=nan", "bad value"},
        {"wet=0x123456789", "bad value"},
        {"wet=0x", "bad value"},
        {"wet=-0x1p3", "bad value"},
        {"enable-reverb=maybe", "bad value"},
        {"enable-reverb=1.5", "bad value"},
        {"enable-reverb=2147483648", "bad value"},
        {"enable-reverb=-", "bad value"},
        {"power-on=0xg", "bad value"},
    };
    for (const auto& r : refused) {
        SCOPED_TRACE(r.assignment);
        // A good assignment first: all or nothing.
        Outcome onExisting = config({"set", existing, "dry=0.1", r.assignment});
        EXPECT_EQ(onExisting.exitCode, 1);
        EXPECT_NE(onExisting.err.find(r.message), std::string::npos) << onExisting.err;
        EXPECT_EQ(readFileText(existing), bytes);
        Outcome onNew = config({"set", path("new.cfg"), "dry=0.1", r.assignment});
        EXPECT_EQ(onNew.exitCode, 1);
        EXPECT_FALSE(fs::exists(path("new.cfg")));
    }
    EXPECT_EQ(entriesOf(dir_).count("new.cfg"), 0u);
    EXPECT_EQ(config({"frobnicate", existing}).exitCode, 1);
    EXPECT_EQ(config({"set", existing}).exitCode, 1);
}

}  // namespace

#else

TEST(ToolsTest, NotBuilt) { GTEST_SKIP() << "brimwell-render and brimwell-config are not part of this build"; }

#endif
