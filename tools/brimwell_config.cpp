// brimwell-config: shows and edits the plug-in's settings file with the
// plug-in's own settings code.
#include <sys/stat.h>
#include <unistd.h>

#include <cctype>
#include <cerrno>
#include <climits>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "host/context.h"
#include "host/settings.h"
#include "tools/tool_support.h"

namespace {

enum ExitCode {
    kExitOk = 0,
    kExitUsage = 1,
    kExitUnreadable = 2,
    kExitWriteFailed = 3,
};

using tools::fail;

// --- The fields, in file order. ---

enum class FieldKind { Float, Word };
// What "on" means for a word field.
enum class Switch {
    None,        // only stored
    ExactlyOne,  // the stage runs when the word is 1
    FftEq,       // the FFT equaliser runs when the word is 38
    NonZero,     // a switch that counts as set when not 0
};

constexpr int kShowAtStartupWord = 16;
constexpr int kPowerOnWord = 17;

struct Field {
    std::string name;
    FieldKind kind;
    float SettingsRecord::*member;  // floats
    int word;                       // words: 0..15 enable words, 16 show-at-startup, 17 power-on
    Switch switchKind;
    std::string meaning;
};

std::vector<Field> makeFields() {
    std::vector<Field> fields = {
        {"field-surround", FieldKind::Float, &SettingsRecord::surroundWidth, 0, Switch::None, "Field Surround width"},
        {"real-surround", FieldKind::Float, &SettingsRecord::surroundAmount, 0, Switch::None, "Real Surround amount"},
        {"bass", FieldKind::Float, &SettingsRecord::lowGain, 0, Switch::None, "Super BASS low gain (BASS)"},
        {"soft", FieldKind::Float, &SettingsRecord::highGain, 0, Switch::None, "Super BASS high gain (SOFT)"},
        {"rotation", FieldKind::Float, &SettingsRecord::angleDegrees, 0, Switch::None, "field rotation, degrees"},
        {"gain-left", FieldKind::Float, &SettingsRecord::gainLeft, 0, Switch::None, "output gain, left"},
        {"gain-right", FieldKind::Float, &SettingsRecord::gainRight, 0, Switch::None, "output gain, right"},
        {"limit-left", FieldKind::Float, &SettingsRecord::limitLeft, 0, Switch::None, "hard limit, left (16-bit scale)"},
        {"limit-right", FieldKind::Float, &SettingsRecord::limitRight, 0, Switch::None,
         "hard limit, right (16-bit scale)"},
        {"room-size", FieldKind::Float, &SettingsRecord::roomSize, 0, Switch::None, "reverb room size"},
        {"wet", FieldKind::Float, &SettingsRecord::wet, 0, Switch::None, "reverb wet level"},
        {"dry", FieldKind::Float, &SettingsRecord::dry, 0, Switch::None, "reverb dry level"},
        {"width", FieldKind::Float, &SettingsRecord::reverbWidth, 0, Switch::None, "reverb stereo width"},
        {"enable-super-bass", FieldKind::Word, nullptr, 0, Switch::ExactlyOne, "word 0: Super BASS on at 1"},
        {"enable-reverb", FieldKind::Word, nullptr, 1, Switch::ExactlyOne, "word 1: reverb on at 1"},
        {"enable-rotation", FieldKind::Word, nullptr, 2, Switch::ExactlyOne, "word 2: field rotation on at 1"},
        {"enable-hard-limiter", FieldKind::Word, nullptr, 3, Switch::ExactlyOne, "word 3: hard limiter on at 1"},
    };
    for (int word = 4; word <= 14; ++word)
        fields.push_back({"word" + std::to_string(word), FieldKind::Word, nullptr, word, Switch::None,
                          "word " + std::to_string(word) + ": only stored"});
    fields.push_back({"enable-fft-eq", FieldKind::Word, nullptr, 15, Switch::FftEq, "word 15: FFT equaliser on at 38"});
    fields.push_back({"show-at-startup", FieldKind::Word, nullptr, kShowAtStartupWord, Switch::NonZero,
                      "panel shown at start when not 0"});
    fields.push_back({"power-on", FieldKind::Word, nullptr, kPowerOnWord, Switch::NonZero,
                      "processing on when not 0"});
    return fields;
}

const std::vector<Field>& fields() {
    static const std::vector<Field> all = makeFields();
    return all;
}

// By name; the enable words also answer to word0..word15.
const Field* findField(const std::string& name) {
    for (const Field& field : fields()) {
        if (field.name == name) return &field;
        if (field.kind == FieldKind::Word && field.word < 16 && name == "word" + std::to_string(field.word))
            return &field;
    }
    return nullptr;
}

int32_t* wordOf(SettingsRecord& record, const Field& field) {
    if (field.word == kShowAtStartupWord) return &record.showAtStartup;
    if (field.word == kPowerOnWord) return &record.powerOn;
    return &record.enableFlags[field.word];
}

int32_t onValueOf(const Field& field) { return field.switchKind == Switch::FftEq ? kBassBoostEnableValue : 1; }

uint32_t bitsOf(float value) {
    uint32_t bits;
    std::memcpy(&bits, &value, sizeof bits);
    return bits;
}

float floatOf(uint32_t bits) {
    float value;
    std::memcpy(&value, &bits, sizeof value);
    return value;
}

// --- Values as text. ---

// The shortest decimal that reads back to the same bits, then the bits.
std::string formatFloat(float value) {
    char text[64] = "";
    for (int precision = 1; precision <= 9; ++precision) {
        std::snprintf(text, sizeof text, "%.*g", precision, static_cast<double>(value));
        if (bitsOf(std::strtof(text, nullptr)) == bitsOf(value)) break;
    }
    char result[96];
    std::snprintf(result, sizeof result, "%s (0x%08x)", text, bitsOf(value));
    return result;
}

std::string formatWord(const Field& field, int32_t value) {
    std::string text = std::to_string(value);
    switch (field.switchKind) {
        case Switch::None: return text;
        case Switch::NonZero: return text + (value != 0 ? " (on)" : " (off)");
        case Switch::ExactlyOne:
        case Switch::FftEq:
            if (value == onValueOf(field)) return text + " (on)";
            return text + " (off; on is " + std::to_string(onValueOf(field)) + ")";
    }
    return text;
}

bool parseHexBits(const std::string& text, uint32_t* bits) {
    if (text.size() < 3 || text.size() > 10 || text[0] != '0' || (text[1] != 'x' && text[1] != 'X')) return false;
    uint32_t value = 0;
    for (size_t i = 2; i < text.size(); ++i) {
        char c = static_cast<char>(std::tolower(static_cast<unsigned char>(text[i])));
        uint32_t digit;
        if (c >= '0' && c <= '9')
            digit = static_cast<uint32_t>(c - '0');
        else if (c >= 'a' && c <= 'f')
            digit = static_cast<uint32_t>(c - 'a' + 10);
        else
            return false;
        value = value * 16 + digit;
    }
    *bits = value;
    return true;
}

bool isHexPrefixed(const std::string& text) { return text.size() >= 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X'); }

// A decimal number (rounded to the nearest float) or 0x and up to eight hex
// digits, taken as the exact bit pattern.
bool parseFloatValue(const std::string& text, float* value) {
    if (isHexPrefixed(text)) {
        uint32_t bits;
        if (!parseHexBits(text, &bits)) return false;
        *value = floatOf(bits);
        return true;
    }
    if (text.empty() || std::isspace(static_cast<unsigned char>(text[0]))) return false;
    for (char c : text)
        if (!(std::isdigit(static_cast<unsigned char>(c)) || c == '.' || c == '-' || c == '+' || c == 'e' || c == 'E'))
            return false;
    errno = 0;
    char* end = nullptr;
    float parsed = std::strtof(text.c_str(), &end);
    if (end == text.c_str() || *end != '\0' || !std::isfinite(parsed)) return false;
    *value = parsed;
    return true;
}

// A decimal 32-bit integer, 0x and up to eight hex digits, or on/off.
bool parseWordValue(const Field& field, const std::string& text, int32_t* value) {
    if (text == "on") {
        *value = onValueOf(field);
        return true;
    }
    if (text == "off") {
        *value = 0;
        return true;
    }
    if (isHexPrefixed(text)) {
        uint32_t bits;
        if (!parseHexBits(text, &bits)) return false;
        std::memcpy(value, &bits, sizeof bits);
        return true;
    }
    size_t digitsFrom = !text.empty() && text[0] == '-' ? 1 : 0;
    if (digitsFrom >= text.size()) return false;
    for (size_t i = digitsFrom; i < text.size(); ++i)
        if (!std::isdigit(static_cast<unsigned char>(text[i]))) return false;
    errno = 0;
    long long parsed = std::strtoll(text.c_str(), nullptr, 10);
    if (errno != 0 || parsed < INT32_MIN || parsed > INT32_MAX) return false;
    *value = static_cast<int32_t>(parsed);
    return true;
}

// --- Files. ---

SettingsRecord defaultRecord() {
    auto context = std::make_unique<DspArray>();
    ApplyDefaults(context.get());
    ApplyDefaultSwitchState(context.get());
    return GatherSettings(context.get());
}

bool fileExists(const std::string& path) {
    struct stat status;
    return lstat(path.c_str(), &status) == 0;
}

// Reads FILE; anything but a version-3 settings file is an error.
int readExisting(const std::string& path, SettingsRecord* record) {
    std::memset(record, 0, sizeof *record);
    struct stat status;
    if (stat(path.c_str(), &status) != 0)
        return fail(kExitUnreadable, "cannot open %s: %s", path.c_str(), std::strerror(errno));
    if (S_ISDIR(status.st_mode)) return fail(kExitUnreadable, "%s is a directory", path.c_str());
    errno = 0;
    int32_t result = ReadSettingsFile(path.c_str(), record);
    if (result == kReadCannotOpen)
        return fail(kExitUnreadable, "cannot open %s: %s", path.c_str(), std::strerror(errno != 0 ? errno : EACCES));
    if (result != kReadOk)
        return fail(kExitUnreadable, "%s %s; left untouched", path.c_str(), tools::describeSettingsReadResult(result));
    return kExitOk;
}

// Writes through a temporary file beside FILE, checked by reading it back,
// then renamed over FILE: a failed write never leaves FILE half-done.
int writeRecord(const std::string& requestedPath, const SettingsRecord& record) {
    std::string path = requestedPath;
    struct stat existing;
    bool exists = stat(path.c_str(), &existing) == 0;
    if (exists) {
        // The plug-in never replaces a read-only settings file; neither do we.
        if ((existing.st_mode & S_IWUSR) == 0)
            return fail(kExitWriteFailed, "%s is read-only; left unchanged", requestedPath.c_str());
        // Edit the file a link points at, not the link.
        if (char* resolved = realpath(requestedPath.c_str(), nullptr)) {
            path = resolved;
            std::free(resolved);
        }
    }
    std::string pattern = tools::parentDirectory(path) + "/." + tools::baseName(path) + ".XXXXXX";
    std::vector<char> name(pattern.begin(), pattern.end());
    name.push_back('\0');
    int descriptor = mkstemp(name.data());
    if (descriptor < 0) return fail(kExitWriteFailed, "cannot write %s: %s", path.c_str(), std::strerror(errno));
    close(descriptor);
    std::string temporary = name.data();

    auto abandon = [&](const char* reason) {
        unlink(temporary.c_str());
        return fail(kExitWriteFailed, "cannot write %s: %s; left unchanged", path.c_str(), reason);
    };
    if (WriteSettingsFile(temporary.c_str(), &record) != kWriteOk) return abandon("writing failed");
    SettingsRecord readBack;
    std::memset(&readBack, 0, sizeof readBack);
    if (ReadSettingsFile(temporary.c_str(), &readBack) != kReadOk ||
        std::memcmp(&readBack, &record, sizeof record) != 0)
        return abandon("the written file does not read back");
    if (exists && chmod(temporary.c_str(), existing.st_mode & 07777) != 0) return abandon(std::strerror(errno));
    if (rename(temporary.c_str(), path.c_str()) != 0) return abandon(std::strerror(errno));
    return kExitOk;
}

// --- Commands. ---

int showCommand(const std::string& path) {
    SettingsRecord record;
    if (int code = readExisting(path, &record); code != kExitOk) return code;
    for (const Field& field : fields()) {
        std::string value = field.kind == FieldKind::Float ? formatFloat(record.*field.member)
                                                           : formatWord(field, *wordOf(record, field));
        std::printf("%-20s %-26s %s\n", field.name.c_str(), value.c_str(), field.meaning.c_str());
    }
    return kExitOk;
}

struct Assignment {
    const Field* field;
    float floatValue;
    int32_t wordValue;
};

int setCommand(const std::string& path, const std::vector<std::string>& texts) {
    if (texts.empty()) return fail(kExitUsage, "set needs at least one NAME=VALUE (see --help)");
    // Every assignment is checked before anything is read or written.
    std::vector<Assignment> assignments;
    for (const std::string& text : texts) {
        size_t equals = text.find('=');
        if (equals == std::string::npos)
            return fail(kExitUsage, "\"%s\" is not NAME=VALUE; nothing written", text.c_str());
        std::string name = text.substr(0, equals);
        std::string value = text.substr(equals + 1);
        const Field* field = findField(name);
        if (field == nullptr)
            return fail(kExitUsage, "unknown field \"%s\" (see --help for the names); nothing written", name.c_str());
        Assignment assignment{field, 0.0f, 0};
        bool parsed = field->kind == FieldKind::Float ? parseFloatValue(value, &assignment.floatValue)
                                                      : parseWordValue(*field, value, &assignment.wordValue);
        if (!parsed)
            return fail(kExitUsage, "bad value \"%s\" for %s: %s; nothing written", value.c_str(), name.c_str(),
                        field->kind == FieldKind::Float
                            ? "want a finite decimal number or 0x and up to 8 hex digits (the float's bits)"
                            : "want a 32-bit integer, 0x and up to 8 hex digits, on or off");
        assignments.push_back(assignment);
    }

    SettingsRecord record;
    if (fileExists(path)) {
        if (int code = readExisting(path, &record); code != kExitOk) return code;
    } else {
        record = defaultRecord();
    }
    for (const Assignment& assignment : assignments) {
        if (assignment.field->kind == FieldKind::Float)
            record.*assignment.field->member = assignment.floatValue;
        else
            *wordOf(record, *assignment.field) = assignment.wordValue;
    }
    return writeRecord(path, record);
}

int defaultsCommand(const std::string& path) {
    if (fileExists(path)) {
        // Only a settings file is replaced; anything else stays as it is.
        SettingsRecord existing;
        if (int code = readExisting(path, &existing); code != kExitOk) return code;
    }
    return writeRecord(path, defaultRecord());
}

void printHelp() {
    std::printf(
        "Usage: brimwell-config show FILE\n"
        "       brimwell-config set FILE NAME=VALUE...\n"
        "       brimwell-config defaults FILE\n"
        "\n"
        "Shows or edits a Brimwell settings file (the plug-in's QELTA.cfg).\n"
        "  show      prints every field: name, value and meaning; floats also as\n"
        "            their exact bits, e.g. 0.35 (0x3eb33333)\n"
        "  set       changes the named fields; a FILE that does not exist is\n"
        "            created from the defaults first\n"
        "  defaults  writes the defaults\n"
        "A FILE that exists but is not a version-3 settings file is refused and left\n"
        "untouched; an unknown name or a bad value is refused and nothing is written.\n"
        "\n"
        "Values: floats as a decimal number or 0x and up to 8 hex digits (the exact\n"
        "bits); words as a 32-bit integer, 0x bits, or on/off (on is 1, and 38 for\n"
        "enable-fft-eq).\n"
        "\n"
        "Fields (word0..word15 also name the enable words):\n");
    for (const Field& field : fields())
        std::printf("  %-20s %-6s %s\n", field.name.c_str(), field.kind == FieldKind::Float ? "float" : "int32",
                    field.meaning.c_str());
    std::printf(
        "\n"
        "Exit codes: 0 success, 1 usage error (bad command, unknown field, bad\n"
        "value), 2 FILE cannot be read or is not a settings file, 3 writing failed.\n");
}

}  // namespace

int main(int argc, char** argv) {
    tools::programName = "brimwell-config";
    std::vector<std::string> arguments(argv + 1, argv + argc);
    if (arguments.empty()) return fail(kExitUsage, "no command (see --help)");
    const std::string& command = arguments[0];
    if (command == "-h" || command == "--help" || command == "help") {
        printHelp();
        return kExitOk;
    }
    if (command != "show" && command != "set" && command != "defaults")
        return fail(kExitUsage, "unknown command \"%s\" (see --help)", command.c_str());
    if (arguments.size() < 2 || arguments[1].empty()) return fail(kExitUsage, "%s needs FILE", command.c_str());
    const std::string& path = arguments[1];
    std::vector<std::string> rest(arguments.begin() + 2, arguments.end());
    if (command == "set") return setCommand(path, rest);
    if (!rest.empty()) return fail(kExitUsage, "%s takes only FILE", command.c_str());
    return command == "show" ? showCommand(path) : defaultsCommand(path);
}
