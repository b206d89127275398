// The settings file: its byte layout, what reading accepts, what loading
// applies, how saving replaces the old file, and init/quit end to end.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <random>
#include <string>
#include <vector>

#include "framework/dsp_services.h"
#include "host/context.h"
#include "host/lifecycle.h"
#include "host/settings.h"
#include "platform/platform.h"
#include "tests/support/plugin_loader.h"

namespace {

// Where the writer puts the new file before it replaces the old one.
std::string temporaryOf(const std::string& path) { return path + "." + std::to_string(getpid()) + ".tmp"; }

using Bytes = std::vector<uint8_t>;

// The 31 words of a record in file order: 13 float bit patterns, the 16
// enable words, showAtStartup, powerOn.
using RecordWords = std::array<uint32_t, 31>;

// Odd values on purpose: NaNs with payloads (one signalling), infinities,
// negative zero, a denormal; limits at the edge of what the limiter accepts.
const RecordWords kOddRecord = {
    0x00000001,  // width (denormal)
    0x3e4ccccd,  // amount
    0x7fa00001,  // lowGain: signalling NaN with payload
    0xffc12345,  // highGain: negative quiet NaN with payload
    0x80000000,  // angle: -0.0
    0x7f800000,  // gainLeft: +inf
    0xff800000,  // gainRight: -inf
    0x47000000,  // limitLeft: 32768.0
    0xc7000000,  // limitRight: -32768.0
    0x7fc00000,  // roomSize: NaN
    0x3eb33333,  // wet
    0x80000000,  // dry: -0.0
    0x3f000001,  // reverb width
    1, 0, 2, 1, 0xffffffff, 5, 6, 7, 8, 9, 10, 11, 12, 0x80000000, 0x7fffffff, 0x1234,
    0,           // showAtStartup
    0x01020304,  // powerOn
};

void putWord(Bytes& bytes, uint32_t word) {
    for (int shift = 0; shift < 32; shift += 8) bytes.push_back(static_cast<uint8_t>(word >> shift));
}

Bytes fileBytes(uint32_t magic, uint32_t version, uint32_t payloadSize, const RecordWords& words,
                size_t payloadBytes = 124) {
    Bytes bytes;
    putWord(bytes, magic);
    putWord(bytes, version);
    putWord(bytes, payloadSize);
    for (uint32_t word : words) putWord(bytes, word);
    bytes.resize(12 + payloadBytes);
    return bytes;
}

Bytes validFile(const RecordWords& words) { return fileBytes(670689, 3, 124, words); }

void writeFile(const std::string& path, const Bytes& bytes) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
}

Bytes readFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return Bytes(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

bool fileExists(const std::string& path) { return access(path.c_str(), F_OK) == 0; }

uint32_t bitsOf(const float& value) {
    uint32_t bits;
    std::memcpy(&bits, &value, 4);
    return bits;
}

// The context's stored floats, in file order.
std::array<float*, 13> storedFloats(DspArray& c) {
    return {&c.surround3D.width,       &c.realSurround.amount,    &c.eqBassBoost.lowGain,  &c.eqBassBoost.highGain,
            &c.fieldRotation.angleDegrees, &c.audioGain.gainLeft, &c.audioGain.gainRight,  &c.hardLimiter.limitLeft,
            &c.hardLimiter.limitRight, &c.digitalReverb.roomSize, &c.digitalReverb.wet,    &c.digitalReverb.dry,
            &c.digitalReverb.width};
}

// Writes `words` into the context as a load of them should.
void storeWords(DspArray& c, const RecordWords& words) {
    auto floats = storedFloats(c);
    for (size_t i = 0; i < 13; ++i) std::memcpy(floats[i], &words[i], 4);
    for (size_t k = 0; k < 16; ++k) std::memcpy(&c.enableFlags.words[k], &words[13 + k], 4);
    std::memcpy(&c.showAtStartup, &words[29], 4);
    std::memcpy(&c.powerOn, &words[30], 4);
}

RecordWords wordsOf(DspArray& c) {
    RecordWords words;
    auto floats = storedFloats(c);
    for (size_t i = 0; i < 13; ++i) words[i] = bitsOf(*floats[i]);
    for (size_t k = 0; k < 16; ++k) std::memcpy(&words[13 + k], &c.enableFlags.words[k], 4);
    std::memcpy(&words[29], &c.showAtStartup, 4);
    std::memcpy(&words[30], &c.powerOn, 4);
    return words;
}

// The first `bytes` bytes of `words`' encoding, the rest zero.
RecordWords truncatedWords(const RecordWords& words, size_t bytes) {
    Bytes encoded;
    for (uint32_t word : words) putWord(encoded, word);
    std::fill(encoded.begin() + static_cast<long>(bytes), encoded.end(), 0);
    RecordWords result;
    for (size_t i = 0; i < 31; ++i)
        result[i] = encoded[4 * i] | encoded[4 * i + 1] << 8 | encoded[4 * i + 2] << 16 |
                    static_cast<uint32_t>(encoded[4 * i + 3]) << 24;
    return result;
}

std::string tempDirectory() {
    std::string directory = makeTempDirectory();
    EXPECT_FALSE(directory.empty());
    return directory;
}

TEST(SettingsLayout, EncodesTheRecordLittleEndianInFileOrder) {
    DspArray* c = new DspArray();
    storeWords(*c, kOddRecord);
    SettingsRecord record = GatherSettings(c);
    uint8_t bytes[kSettingsFileSize];
    EncodeSettingsFile(record, bytes);
    EXPECT_EQ(Bytes(bytes, bytes + kSettingsFileSize), validFile(kOddRecord));
    const uint8_t expectedHeader[12] = {0xe1, 0x3b, 0x0a, 0x00, 3, 0, 0, 0, 124, 0, 0, 0};
    EXPECT_EQ(std::memcmp(bytes, expectedHeader, 12), 0);

    SettingsRecord decoded;
    std::memset(&decoded, 0, sizeof decoded);
    EXPECT_EQ(DecodeSettings(bytes, sizeof bytes, &decoded), kReadOk);
    EXPECT_EQ(std::memcmp(&decoded, &record, sizeof record), 0);
    delete c;
}

// ReadSettingsFile and LoadSettings over a table of files. The context starts
// full of junk so that every field that loading sets is seen to be set, and
// every other field is seen to be left alone.
struct FileCase {
    const char* name;
    Bytes bytes;
    int32_t code;
    bool defaults;        // the defaults and the default switch state
    RecordWords applied;  // otherwise the words that end up in the context
};

std::vector<FileCase> fileCases() {
    const RecordWords zero{};
    std::vector<FileCase> cases = {
        {"version 3", validFile(kOddRecord), 0, false, kOddRecord},
        {"longer than 136 bytes", [] { Bytes b = validFile(kOddRecord); b.resize(200, 0x77); return b; }(), 0, false,
         kOddRecord},
        {"version 4", fileBytes(670689, 4, 124, kOddRecord), 1, true, {}},
        {"version 2", fileBytes(670689, 2, 124, kOddRecord), 2, true, {}},
        {"negative version", fileBytes(670689, 0x80000000, 124, kOddRecord), 2, true, {}},
        {"payload 0", fileBytes(670689, 3, 0, kOddRecord), 0, false, zero},
        {"payload 52", fileBytes(670689, 3, 52, kOddRecord), 0, false, truncatedWords(kOddRecord, 52)},
        {"payload 2", fileBytes(670689, 3, 2, kOddRecord), 0, false, truncatedWords(kOddRecord, 2)},
        {"says 124, holds 60", fileBytes(670689, 3, 124, kOddRecord, 60), 0, false, truncatedWords(kOddRecord, 60)},
        {"payload 125", fileBytes(670689, 3, 125, kOddRecord), 4, true, {}},
        {"payload 0xFFFFFFFF", fileBytes(670689, 3, 0xFFFFFFFF, kOddRecord), 4, true, {}},
        {"payload 0x80000000", fileBytes(670689, 3, 0x80000000, kOddRecord), 4, true, {}},
        {"wrong magic", fileBytes(670690, 3, 124, kOddRecord), 3, true, {}},
        {"magic byte-swapped", fileBytes(0xe13b0a00, 3, 124, kOddRecord), 3, true, {}},
    };
    for (size_t length = 0; length < 12; ++length) {
        Bytes prefix = validFile(kOddRecord);
        prefix.resize(length);
        cases.push_back({"short header", prefix, 3, true, {}});
    }
    return cases;
}

TEST(SettingsFiles, ReadAndLoadOverATableOfFiles) {
    std::string directory = tempDirectory();
    std::string path = directory + "/QELTA.cfg";
    DspServices* services = createServices();
    ServiceSettings settings{0, 0, 0, 1};
    services->configure(&settings);

    for (const FileCase& file : fileCases()) {
        SCOPED_TRACE(std::string(file.name) + ", " + std::to_string(file.bytes.size()) + " bytes");
        writeFile(path, file.bytes);

        SettingsRecord record;
        std::memset(&record, 0, sizeof record);
        EXPECT_EQ(ReadSettingsFile(path.c_str(), &record), file.code);

        DspArray* actual = new DspArray();
        std::memset(static_cast<void*>(actual), 0x5a, sizeof *actual);
        actual->services = services;
        DspArray* expected = new DspArray();
        std::memcpy(static_cast<void*>(expected), actual, sizeof *actual);
        ApplyDefaults(expected);
        if (file.defaults)
            ApplyDefaultSwitchState(expected);
        else
            storeWords(*expected, file.applied);

        LoadSettings(path.c_str(), actual);
        EXPECT_EQ(wordsOf(*actual), wordsOf(*expected));
        EXPECT_EQ(actual->bassBoost.bass, 130);
        EXPECT_EQ(actual->bassBoost.treble, 35);
        EXPECT_EQ(std::memcmp(actual, expected, sizeof *actual), 0) << "a field the load should not touch changed";
        delete actual;
        delete expected;
    }

    SettingsRecord record;
    std::memset(&record, 0, sizeof record);
    EXPECT_EQ(ReadSettingsFile((directory + "/missing.cfg").c_str(), &record), -1);
    EXPECT_EQ(ReadSettingsFile(nullptr, &record), -1);
}

TEST(SettingsFiles, ApplyWorksWithoutServices) {
    DspArray* c = new DspArray();
    SettingsRecord record;
    std::memset(&record, 0, sizeof record);
    record.enableFlags[15] = 38;
    ApplySettings(kReadOk, record, c);
    EXPECT_EQ(c->enableFlags.words[15], 38);
    EXPECT_EQ(GatherSettings(c).enableFlags[15], 38);
    delete c;
}

TEST(SettingsPathTest, CutsAfterTheLastSeparator) {
    struct Case {
        std::string library;
        const char* expected;  // null: no settings path
    } cases[] = {
        {"/opt/player/Plugins/dsp_brimwell.so", "/opt/player/Plugins/QELTA.cfg"},
        {"dsp_brimwell.so", "QELTA.cfg"},
        {"C:\\Player\\Plugins\\dsp_brimwell.dll", "C:\\Player\\Plugins\\QELTA.cfg"},
        {"/a\\b/c.so", "/a\\b/QELTA.cfg"},
        {"/" + std::string(249, 'd') + "/x.so", nullptr},  // 251 + 9 characters do not fit
    };
    // The longest directory that still fits: 250 characters plus "QELTA.cfg".
    std::string fitting = "/" + std::string(248, 'd') + "/";
    std::string fittingExpected = fitting + "QELTA.cfg";
    for (const Case& c : cases) {
        SCOPED_TRACE(c.library);
        platform::overrideModulePath(c.library.c_str());
        char path[kSettingsPathCapacity];
        std::memset(path, 'x', sizeof path);
        bool found = SettingsPath(nullptr, path, sizeof path);
        EXPECT_EQ(found, c.expected != nullptr);
        EXPECT_STREQ(path, c.expected ? c.expected : "");
    }
    platform::overrideModulePath((fitting + "x.so").c_str());
    char path[kSettingsPathCapacity];
    ASSERT_TRUE(SettingsPath(nullptr, path, sizeof path));
    EXPECT_EQ(std::string(path), fittingExpected);
    EXPECT_EQ(fittingExpected.size(), 259u);
    platform::overrideModulePath(nullptr);
}

// --- Writing. ---

class SettingsWriteTest : public ::testing::Test {
protected:
    void SetUp() override {
        directory_ = tempDirectory();
        path_ = directory_ + "/QELTA.cfg";
        oldBytes_ = validFile(kOddRecord);
        writeFile(path_, oldBytes_);
        std::memset(&record_, 0, sizeof record_);
        record_.powerOn = 1;
        record_.enableFlags[3] = 1;
    }
    // The old file is exactly as it was and no temporary is left.
    void expectOldFileIntact() {
        EXPECT_EQ(readFile(path_), oldBytes_);
        EXPECT_FALSE(fileExists(temporaryOf(path_)));
    }
    std::string directory_;
    std::string path_;
    Bytes oldBytes_;
    SettingsRecord record_;
};

TEST_F(SettingsWriteTest, ReplacesTheOldFileWithExactly136Bytes) {
    EXPECT_EQ(WriteSettingsFile(path_.c_str(), &record_), 6);
    RecordWords words{};
    words[13 + 3] = 1;
    words[30] = 1;
    EXPECT_EQ(readFile(path_), validFile(words));
    EXPECT_FALSE(fileExists(temporaryOf(path_)));
    // A new file where none was.
    std::string fresh = directory_ + "/fresh.cfg";
    EXPECT_EQ(WriteSettingsFile(fresh.c_str(), &record_), 6);
    EXPECT_EQ(readFile(fresh).size(), 136u);
}

int writeCalls = 0;
bool failSecondWrite(std::FILE* file, const uint8_t* bytes, size_t size) {
    if (++writeCalls == 2) {
        std::fwrite(bytes, 1, size / 2, file);  // a partial record, then the failure
        return false;
    }
    return std::fwrite(bytes, 1, size, file) == size;
}
bool failFirstWrite(std::FILE*, const uint8_t*, size_t) { return false; }

TEST_F(SettingsWriteTest, AFailedWriteLeavesTheOldFileAsItWas) {
    writeCalls = 0;
    EXPECT_EQ(WriteSettingsFileWith(path_.c_str(), &record_, failSecondWrite), 5);
    EXPECT_EQ(writeCalls, 2);
    expectOldFileIntact();
    EXPECT_EQ(WriteSettingsFileWith(path_.c_str(), &record_, failFirstWrite), 5);
    expectOldFileIntact();
}

TEST_F(SettingsWriteTest, FilesThatCannotBeCreatedOrReplaced) {
    // The temporary cannot be created.
    ASSERT_EQ(mkdir((temporaryOf(path_)).c_str(), 0755), 0);
    EXPECT_EQ(WriteSettingsFile(path_.c_str(), &record_), -1);
    EXPECT_EQ(readFile(path_), oldBytes_);
    rmdir((temporaryOf(path_)).c_str());

    // The target cannot be replaced (a non-empty directory stands there).
    std::string blocked = directory_ + "/blocked";
    ASSERT_EQ(mkdir(blocked.c_str(), 0755), 0);
    writeFile(blocked + "/inside", {1});
    EXPECT_EQ(WriteSettingsFile(blocked.c_str(), &record_), -1);
    EXPECT_FALSE(fileExists(temporaryOf(blocked)));

    EXPECT_EQ(WriteSettingsFile((directory_ + "/no/such/dir/QELTA.cfg").c_str(), &record_), -1);
    EXPECT_EQ(WriteSettingsFile(nullptr, &record_), -1);
}

TEST_F(SettingsWriteTest, AReadOnlyFileIsReadButNeverReplaced) {
    ASSERT_EQ(chmod(path_.c_str(), 0444), 0);
    SettingsRecord read;
    std::memset(&read, 0, sizeof read);
    EXPECT_EQ(ReadSettingsFile(path_.c_str(), &read), 0);
    EXPECT_EQ(read.powerOn, 0x01020304);
    EXPECT_EQ(WriteSettingsFile(path_.c_str(), &record_), -1);
    expectOldFileIntact();
    struct stat status;
    ASSERT_EQ(stat(path_.c_str(), &status), 0);
    EXPECT_EQ(status.st_mode & 0777, 0444u);
}

// --- Init and quit end to end. ---

winampDSPModule* playerModule() {
    winampDSPModule* module = winampDSPGetHeader2()->getModule(0);
    module->hwndParent = reinterpret_cast<platform::WindowHandle>(0x1234);
    module->hDllInstance = nullptr;
    return module;
}

class SettingsLifecycleTest : public ::testing::Test {
protected:
    void SetUp() override {
        directory_ = tempDirectory();
        usePluginIn(directory_);
        platform::clearRecordedMessages();
    }
    void TearDown() override {
        if (dspContext != nullptr) pluginQuit(playerModule());
        platform::overrideModulePath(nullptr);
    }
    void usePluginIn(const std::string& directory) {
        libraryPath_ = directory + "/dsp_brimwell.so";
        settingsPath_ = directory + "/QELTA.cfg";
        platform::overrideModulePath(libraryPath_.c_str());
    }
    std::string directory_;
    std::string libraryPath_;
    std::string settingsPath_;
};

TEST_F(SettingsLifecycleTest, QuitWritesWhatTheNextInitRestoresBitForBit) {
    winampDSPModule* module = playerModule();
    ASSERT_EQ(module->Init(module), 0);
    storeWords(*dspContext, kOddRecord);
    module->Quit(module);
    EXPECT_EQ(readFile(settingsPath_), validFile(kOddRecord));

    ASSERT_EQ(module->Init(module), 0);
    EXPECT_EQ(wordsOf(*dspContext), kOddRecord);
    EXPECT_EQ(dspContext->bassBoost.bass, 130);
    EXPECT_EQ(dspContext->bassBoost.treble, 35);
    EXPECT_FALSE(platform::standInWindowVisible(dspContext->panel));  // showAtStartup 0
    module->Quit(module);
    EXPECT_EQ(readFile(settingsPath_), validFile(kOddRecord));
    EXPECT_FALSE(fileExists(temporaryOf(settingsPath_)));
}

TEST_F(SettingsLifecycleTest, QuitWritesTheDefaultsWhenNothingChanged) {
    winampDSPModule* module = playerModule();
    ASSERT_EQ(module->Init(module), 0);
    module->Quit(module);
    const RecordWords defaults = {0x3faa3d71, 0x3e4ccccd, 0x404ccccd, 0x3f99999a, 0, 0x3f800000, 0x3f800000,
                                  0x46fffe00, 0x46fffe00, 0x3ecccccd, 0x3eb33333, 0x3f451eb8, 0x3f000000,
                                  1, 1, 1, 0, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1,
                                  1, 1};
    EXPECT_EQ(readFile(settingsPath_), validFile(defaults));
}

TEST_F(SettingsLifecycleTest, WordFifteenAt38SwitchesTheFftEqualiserOnWithItsDefaults) {
    RecordWords words = kOddRecord;
    words[13 + 15] = 38;
    writeFile(settingsPath_, validFile(words));
    winampDSPModule* module = playerModule();
    ASSERT_EQ(module->Init(module), 0);
    EXPECT_EQ(dspContext->enableFlags.words[kEnableBassBoost], kBassBoostEnableValue);
    EXPECT_EQ(dspContext->bassBoost.bass, 130);
    EXPECT_EQ(dspContext->bassBoost.treble, 35);
}

TEST_F(SettingsLifecycleTest, AReadOnlyFileIsReadAndLeftUntouchedByQuit) {
    writeFile(settingsPath_, validFile(kOddRecord));
    ASSERT_EQ(chmod(settingsPath_.c_str(), 0444), 0);
    winampDSPModule* module = playerModule();
    ASSERT_EQ(module->Init(module), 0);
    EXPECT_EQ(wordsOf(*dspContext), kOddRecord);
    dspContext->powerOn = 1;
    module->Quit(module);
    EXPECT_EQ(readFile(settingsPath_), validFile(kOddRecord));
    EXPECT_FALSE(fileExists(temporaryOf(settingsPath_)));
}

TEST_F(SettingsLifecycleTest, AnOverlongLibraryPathMeansNoSettingsFile) {
    // A directory of 251 characters: its "QELTA.cfg" path needs 261 bytes.
    std::string directory = directory_;
    while (251 - directory.size() > 61) {
        directory += "/" + std::string(60, 'p');
        ASSERT_EQ(mkdir(directory.c_str(), 0755), 0) << directory;
    }
    directory += "/" + std::string(250 - directory.size(), 'q');
    ASSERT_EQ(mkdir(directory.c_str(), 0755), 0) << directory;
    ASSERT_EQ(directory.size(), 251u);
    usePluginIn(directory);
    // A file there (the system allows the long path) must not be read.
    writeFile(settingsPath_, validFile(kOddRecord));

    winampDSPModule* module = playerModule();
    ASSERT_EQ(module->Init(module), 0);
    EXPECT_EQ(dspContext->powerOn, 1);
    EXPECT_EQ(dspContext->enableFlags.words[kEnableHardLimiter], 0);
    EXPECT_EQ(bitsOf(dspContext->surround3D.width), 0x3faa3d71u);
    module->Quit(module);
    EXPECT_EQ(readFile(settingsPath_), validFile(kOddRecord));
    EXPECT_FALSE(fileExists(temporaryOf(settingsPath_)));
    // Nor anything under a cut-off name: the one file there is the one written above.
    int files = 0;
    for (const auto& entry : std::filesystem::recursive_directory_iterator(directory_)) files += entry.is_regular_file();
    EXPECT_EQ(files, 1);
}

// A block of audio that processing would change.
std::vector<int16_t> testBlock(int frames) {
    std::vector<int16_t> block(static_cast<size_t>(frames) * 2);
    for (int i = 0; i < frames; ++i) {
        block[2 * i] = static_cast<int16_t>((i * 37) % 2000 - 1000);
        block[2 * i + 1] = static_cast<int16_t>((i * 53) % 2000 - 1000);
    }
    return block;
}

TEST_F(SettingsLifecycleTest, AParameterAUnitRefusesFailsStartUpAndAudioPassesThrough) {
    struct Case {
        const char* name;
        size_t word;
        uint32_t bits;
    } cases[] = {
        {"negative width", 0, 0xbf800000},        // -1.0
        {"limit above 32768", 7, 0x47000100},     // 32769.0
        {"limit below -32768", 8, 0xc7000100},    // -32769.0
        {"infinite limit", 7, 0x7f800000},
    };
    winampDSPModule* module = playerModule();
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        RecordWords words = kOddRecord;
        words[29] = 1;
        words[30] = 1;
        words[c.word] = c.bits;
        writeFile(settingsPath_, validFile(words));
        platform::clearRecordedMessages();
        EXPECT_EQ(module->Init(module), -1);
        auto messages = platform::recordedMessages();
        ASSERT_EQ(messages.size(), 1u);
        EXPECT_EQ(messages[0].caption, "Fatal Error");
        EXPECT_EQ(messages[0].text, "Can't INIT DSP Array, 1 errors!");
        ASSERT_NE(dspContext, nullptr);
        EXPECT_EQ(dspContext->initialised, 0);
        EXPECT_EQ(wordsOf(*dspContext), words);  // the loaded settings are kept

        std::vector<int16_t> block = testBlock(1152), original = block;
        EXPECT_EQ(module->ModifySamples(module, block.data(), 1152, 16, 2, 44100), 1152);
        EXPECT_EQ(block, original);
        module->Quit(module);
        EXPECT_EQ(dspContext, nullptr);
    }
}

TEST_F(SettingsLifecycleTest, ArbitraryFileBytesNeverBreakStartUp) {
    std::mt19937 random(20240611);
    winampDSPModule* module = playerModule();
    for (int round = 0; round < 48; ++round) {
        SCOPED_TRACE(round);
        Bytes bytes(random() % 150);
        for (uint8_t& b : bytes) b = static_cast<uint8_t>(random());
        if (round % 2 == 0 && bytes.size() > 12 + 4 * 15) {
            // A header the reader accepts, so the random payload is applied.
            Bytes header = fileBytes(670689, 3, static_cast<uint32_t>(random() % 125), {});
            std::copy(header.begin(), header.begin() + 12, bytes.begin());
            bytes[12 + 4 * 15] = 38 * (round % 4 == 0);  // now and then the FFT equaliser
        }
        writeFile(settingsPath_, bytes);
        platform::clearRecordedMessages();
        int32_t result = module->Init(module);
        ASSERT_NE(dspContext, nullptr);
        std::vector<int16_t> block = testBlock(1152), original = block;
        int32_t produced = module->ModifySamples(module, block.data(), 1152, 16, 2, 44100);
        if (result == 0) {
            EXPECT_TRUE(platform::recordedMessages().empty());
            EXPECT_GE(produced, 0);
            EXPECT_LE(produced, 1152);
        } else {
            EXPECT_EQ(result, -1);
            auto messages = platform::recordedMessages();
            ASSERT_EQ(messages.size(), 1u);
            EXPECT_EQ(messages[0].text.rfind("Can't INIT DSP Array, ", 0), 0u) << messages[0].text;
            EXPECT_EQ(produced, 1152);
            EXPECT_EQ(block, original);
        }
        module->Quit(module);
    }
}

}  // namespace
