// The real control panel of dsp_brimwell.dll: its template as created, and
// the controls driven with the messages a user's actions produce.
//
//   wine_panel_test DLL [...]                  runs the checks
//   wine_panel_test DLL --hold READY DONE      then keeps the panel on screen:
//       writes the panel's screen rectangle to READY and waits (up to 30 s)
//       until the file DONE exists, for a screenshot
#include <windows.h>
#include <commctrl.h>

#include <cstdio>
#include <cstring>
#include <string>

#include "host/winamp_dsp.h"
#include "ui/panel_ids.h"

namespace {

int failures = 0;
int checks = 0;

void check(bool condition, const std::string& what) {
    ++checks;
    if (!condition) {
        std::printf("FAIL %s\n", what.c_str());
        ++failures;
    }
}

std::string labelText(HWND panel, int id) {
    char text[256] = {0};
    GetDlgItemTextA(panel, id, text, sizeof text);
    return text;
}

void checkLabel(HWND panel, int id, const char* expected) {
    std::string actual = labelText(panel, id);
    check(actual == expected,
          "label " + std::to_string(id) + " reads \"" + actual + "\", expected \"" + expected + "\"");
}

LRESULT position(HWND panel, int id) { return SendDlgItemMessageA(panel, id, TBM_GETPOS, 0, 0); }

void checkPosition(HWND panel, int id, LRESULT expected) {
    LRESULT actual = position(panel, id);
    check(actual == expected, "slider " + std::to_string(id) + " at " + std::to_string(actual) + ", expected " +
                                  std::to_string(expected));
}

bool isChecked(HWND panel, int id) { return SendDlgItemMessageA(panel, id, BM_GETCHECK, 0, 0) == BST_CHECKED; }

// The user drags a slider: the trackbar moves, then tells its dialog.
void moveSlider(HWND panel, int id, int to) {
    HWND slider = GetDlgItem(panel, id);
    SendMessageA(slider, TBM_SETPOS, TRUE, to);
    SendMessageA(panel, WM_HSCROLL, MAKEWPARAM(TB_THUMBPOSITION, to), reinterpret_cast<LPARAM>(slider));
}

void clickControl(HWND panel, int id) { SendDlgItemMessageA(panel, id, BM_CLICK, 0, 0); }

void pumpMessages() {
    MSG message;
    while (PeekMessageA(&message, nullptr, 0, 0, PM_REMOVE)) {
        TranslateMessage(&message);
        DispatchMessageA(&message);
    }
}

enum Kind { Frame, Meter, Slider, Value, Label, Box, FrameBox, Push, DefaultPush, Picture };

struct TemplateItem {
    int id;  // -1: no identifier
    Kind kind;
    const char* text;  // null: not compared (value labels are rewritten at start)
    int x, y, width, height;
};

// The 55 controls in template order, which is the tab order.
const TemplateItem kTemplate[] = {
    {-1, Frame, "Output Level", 7, 27, 282, 40},
    {1001, Meter, "", 13, 37, 269, 11},
    {1002, Meter, "", 13, 51, 269, 11},
    {-1, Picture, nullptr, 310, 18, 109, 50},
    {-1, Frame, "Field Surround", 7, 85, 206, 30},
    {1005, Slider, "", 14, 96, 171, 14},
    {1004, Value, nullptr, 185, 97, 27, 8},
    {-1, Frame, "Real Surround", 7, 121, 206, 30},
    {1006, Slider, "", 14, 132, 172, 14},
    {1007, Value, nullptr, 185, 134, 27, 9},
    {-1, Frame, "Super BASS", 7, 157, 206, 48},
    {1008, Slider, "", 36, 170, 150, 14},
    {1009, Value, nullptr, 186, 172, 27, 8},
    {1010, Slider, "", 36, 185, 150, 14},
    {1011, Value, nullptr, 186, 187, 27, 8},
    {1012, FrameBox, "", 54, 157, 10, 9},
    {-1, Frame, "Field Rotation(Angle)", 7, 211, 206, 30},
    {1013, FrameBox, "", 99, 211, 10, 9},
    {1014, Slider, "", 14, 222, 172, 14},
    {1015, Value, nullptr, 186, 224, 27, 8},
    {-1, Frame, "Gain", 223, 85, 206, 43},
    {1016, Slider, "", 243, 95, 158, 14},
    {1017, Value, nullptr, 401, 97, 27, 8},
    {1018, Slider, "", 243, 111, 158, 14},
    {1019, Value, nullptr, 401, 113, 27, 8},
    {-1, Frame, "Hard Limiter", 223, 134, 206, 43},
    {1020, Slider, "", 244, 144, 157, 14},
    {1021, Value, nullptr, 401, 146, 27, 8},
    {1022, Slider, "", 244, 160, 157, 14},
    {1023, Value, nullptr, 401, 162, 27, 8},
    {-1, Frame, "Digital Reverberation", 223, 183, 206, 58},
    {1025, FrameBox, "", 279, 134, 10, 9},
    {1028, FrameBox, "", 315, 183, 10, 9},
    {1029, Slider, "", 263, 198, 62, 14},
    {-1, Label, "BASS", 17, 172, 17, 9},
    {-1, Label, "SOFT", 17, 187, 17, 9},
    {-1, Label, "L", 233, 97, 8, 8},
    {-1, Label, "R", 233, 113, 8, 8},
    {-1, Label, "L", 233, 146, 8, 8},
    {-1, Label, "R", 233, 162, 8, 8},
    {-1, Label, "RoomSize", 231, 200, 32, 8},
    {-1, Label, "Wet", 231, 221, 32, 8},
    {-1, Label, "Width", 332, 199, 32, 8},
    {1034, Slider, "", 364, 197, 62, 14},
    {1035, Slider, "", 263, 219, 62, 14},
    {-1, Label, "Dry", 332, 221, 32, 8},
    {1036, Slider, "", 364, 219, 62, 14},
    {1024, Box, "Show Me At Startup", 7, 252, 87, 10},
    {1026, Box, "Power On", 98, 252, 48, 10},
    {1027, Push, "Default", 154, 246, 72, 23},
    {1037, Push, "Load Config", 232, 246, 72, 23},
    {1038, DefaultPush, "OK", 357, 246, 72, 23},
    {1030, Push, "About", 7, 7, 84, 16},
    {1031, FrameBox, "L-R", 261, 85, 27, 9},
    {1032, FrameBox, "L-R", 302, 134, 27, 9},
};

const char* className(Kind kind) {
    switch (kind) {
        case Meter: return "msctls_progress32";
        case Slider: return "msctls_trackbar32";
        case Value:
        case Label:
        case Picture: return "Static";
        default: return "Button";
    }
}

// The dialog manager turns a control's WS_BORDER into a client edge, and the
// progress bar then draws its own frame in place of any edge style.
bool styleFits(Kind kind, DWORD style, DWORD exStyle) {
    bool transparent = (exStyle & WS_EX_TRANSPARENT) != 0;
    bool bordered = (style & WS_BORDER) != 0 || (exStyle & (WS_EX_CLIENTEDGE | WS_EX_STATICEDGE)) != 0;
    switch (kind) {
        case Frame: return (style & BS_TYPEMASK) == BS_GROUPBOX && !transparent;
        case Meter: return !transparent;
        case Slider:
            return (style & (TBS_VERT | TBS_BOTH | TBS_NOTICKS | WS_TABSTOP)) == (TBS_BOTH | TBS_NOTICKS | WS_TABSTOP);
        case Value: return (style & SS_TYPEMASK) == SS_CENTER;
        case Label: return (style & SS_TYPEMASK) == SS_LEFT;
        case Box: return (style & BS_TYPEMASK) == BS_AUTOCHECKBOX && (style & WS_TABSTOP) != 0 && !transparent;
        case FrameBox: return (style & BS_TYPEMASK) == BS_AUTOCHECKBOX && (style & WS_TABSTOP) != 0 && transparent;
        case Push: return (style & BS_TYPEMASK) == BS_PUSHBUTTON && (style & WS_TABSTOP) != 0;
        case DefaultPush: return (style & BS_TYPEMASK) == BS_DEFPUSHBUTTON && (style & WS_TABSTOP) != 0;
        case Picture:
            return (style & SS_TYPEMASK) == SS_BITMAP && (style & SS_CENTERIMAGE) && (style & SS_REALSIZEIMAGE) &&
                   bordered && transparent;
    }
    return false;
}

void checkTemplate(HWND panel) {
    LONG style = GetWindowLongA(panel, GWL_STYLE);
    check((style & (WS_POPUP | WS_CAPTION | DS_MODALFRAME)) == (WS_POPUP | WS_CAPTION | DS_MODALFRAME),
          "panel is a popup with a caption and a modal frame");
    check((style & WS_SYSMENU) == 0, "panel has no system menu");
    RECT client;
    GetClientRect(panel, &client);
    RECT size = {0, 0, 436, 276};
    MapDialogRect(panel, &size);
    check(client.right == size.right && client.bottom == size.bottom, "panel client area is 436 x 276 units");

    // Dialog units to pixels, the way the dialog manager places controls.
    RECT units = {0, 0, 4, 8};
    MapDialogRect(panel, &units);
    const int baseX = units.right;
    const int baseY = units.bottom;

    HWND child = GetWindow(panel, GW_CHILD);
    int index = 0;
    for (; child != nullptr && index < static_cast<int>(sizeof kTemplate / sizeof kTemplate[0]);
         child = GetWindow(child, GW_HWNDNEXT), ++index) {
        const TemplateItem& expected = kTemplate[index];
        std::string where = "control " + std::to_string(index + 1) + " (" + std::to_string(expected.id) + ")";
        int id = GetDlgCtrlID(child);
        bool sameId = expected.id == -1 ? (id == -1 || id == 0xFFFF) : id == expected.id;
        check(sameId, where + " identifier " + std::to_string(id));
        char name[64] = {0};
        GetClassNameA(child, name, sizeof name);
        check(lstrcmpiA(name, className(expected.kind)) == 0, where + " class " + name);
        if (expected.text != nullptr) {
            char text[64] = {0};
            GetWindowTextA(child, text, sizeof text);
            check(std::strcmp(text, expected.text) == 0, where + " text \"" + text + "\"");
        }
        DWORD style = GetWindowLongA(child, GWL_STYLE);
        DWORD exStyle = GetWindowLongA(child, GWL_EXSTYLE);
        char styles[32];
        std::snprintf(styles, sizeof styles, " style %08lx/%08lx", style, exStyle);
        check(styleFits(expected.kind, style, exStyle), where + styles);
        RECT rect;
        GetWindowRect(child, &rect);
        MapWindowPoints(nullptr, panel, reinterpret_cast<POINT*>(&rect), 2);
        bool placed = rect.left == MulDiv(expected.x, baseX, 4) && rect.top == MulDiv(expected.y, baseY, 8) &&
                      rect.right - rect.left == MulDiv(expected.width, baseX, 4) &&
                      rect.bottom - rect.top == MulDiv(expected.height, baseY, 8);
        check(placed, where + " rectangle");
        if (expected.kind == Picture) {
            HBITMAP bitmap = reinterpret_cast<HBITMAP>(SendMessageA(child, STM_GETIMAGE, IMAGE_BITMAP, 0));
            BITMAP info;
            check(bitmap != nullptr && GetObjectA(bitmap, sizeof info, &info) != 0 && info.bmWidth == 186 &&
                      info.bmHeight == 84,
                  "picture shows the 186 x 84 bitmap 103");
        }
    }
    check(index == 55 && child == nullptr, "the template holds 55 controls");
}

// A block of square waves with the given peaks, and whether processing
// changed it.
bool blockIsProcessed(winampDSPModule* module, short leftPeak = 20000, short rightPeak = 15000) {
    static short block[1152 * 2];
    for (int i = 0; i < 1152; ++i) {
        block[2 * i] = static_cast<short>(i % 64 < 32 ? leftPeak : -leftPeak);
        block[2 * i + 1] = static_cast<short>(i % 50 < 25 ? -rightPeak : rightPeak);
    }
    short original[1152 * 2];
    std::memcpy(original, block, sizeof block);
    int produced = module->ModifySamples(module, block, 1152, 16, 2, 44100);
    return produced != 1152 || std::memcmp(block, original, sizeof block) != 0;
}

void driveControls(HWND panel, winampDSPModule* module) {
    // The defaults as RefreshPanel shows them.
    const struct { int id; LRESULT position; } sliders[] = {
        {kFieldSurroundSlider, 133}, {kRealSurroundSlider, 20}, {kBassSlider, 320},    {kSoftSlider, 120},
        {kRotationSlider, 0},        {kGainLeftSlider, 100},    {kGainRightSlider, 100}, {kLimitLeftSlider, 32767},
        {kLimitRightSlider, 32767},  {kRoomSizeSlider, 40},     {kWetSlider, 34},      {kDrySlider, 76},
        {kReverbWidthSlider, 50},
    };
    for (const auto& slider : sliders) checkPosition(panel, slider.id, slider.position);
    check(SendDlgItemMessageA(panel, kLimitLeftSlider, TBM_GETRANGEMAX, 0, 0) == 32768 &&
              SendDlgItemMessageA(panel, kFieldSurroundSlider, TBM_GETRANGEMIN, 0, 0) == 100,
          "slider ranges");
    checkLabel(panel, kFieldSurroundValue, "1.33");
    checkLabel(panel, kRealSurroundValue, "0.20");
    checkLabel(panel, kLimitLeftValue, "1.00");
    checkLabel(panel, kLimitRightValue, "1.00");
    check(isChecked(panel, kSuperBassBox) && isChecked(panel, kGainLinkBox) && isChecked(panel, kPowerOnBox) &&
              !isChecked(panel, kHardLimiterBox),
          "boxes show the default switches");

    // Linked gains move together; unlinked only one; linking again copies left to right.
    moveSlider(panel, kGainLeftSlider, 250);
    checkLabel(panel, kGainLeftValue, "2.50");
    checkLabel(panel, kGainRightValue, "2.50");
    checkPosition(panel, kGainRightSlider, 250);
    clickControl(panel, kGainLinkBox);
    check(!isChecked(panel, kGainLinkBox), "L-R box cleared by a click");
    moveSlider(panel, kGainRightSlider, 300);
    checkLabel(panel, kGainRightValue, "3.00");
    checkLabel(panel, kGainLeftValue, "2.50");
    checkPosition(panel, kGainLeftSlider, 250);
    clickControl(panel, kGainLinkBox);
    check(isChecked(panel, kGainLinkBox), "L-R box checked by a click");
    checkLabel(panel, kGainRightValue, "2.50");
    checkPosition(panel, kGainRightSlider, 250);

    moveSlider(panel, kLimitRightSlider, 16384);
    checkLabel(panel, kLimitRightValue, "0.50");
    checkLabel(panel, kLimitLeftValue, "0.50");
    checkPosition(panel, kLimitLeftSlider, 16384);
    moveSlider(panel, kRotationSlider, 180);
    checkLabel(panel, kRotationValue, "180.00");
    moveSlider(panel, kFieldSurroundSlider, 500);
    checkLabel(panel, kFieldSurroundValue, "5.00");

    // Escape's cancel command and a scroll message naming no slider change nothing.
    SendMessageA(panel, WM_COMMAND, IDCANCEL, 0);
    SendMessageA(panel, WM_HSCROLL, TB_THUMBPOSITION, reinterpret_cast<LPARAM>(GetDlgItem(panel, kDefaultButton)));
    check(IsWindowVisible(panel) != 0, "cancel leaves the panel shown");
    checkLabel(panel, kFieldSurroundValue, "5.00");

    // Power On switches processing.
    check(blockIsProcessed(module), "processing while Power On is checked");
    clickControl(panel, kPowerOnBox);
    check(!isChecked(panel, kPowerOnBox) && !blockIsProcessed(module), "Power On cleared: audio passes through");
    clickControl(panel, kPowerOnBox);
    check(isChecked(panel, kPowerOnBox) && blockIsProcessed(module), "Power On checked again: processing");

    // Default puts everything back.
    clickControl(panel, kDefaultButton);
    checkLabel(panel, kFieldSurroundValue, "1.33");
    checkLabel(panel, kGainLeftValue, "1.00");
    checkLabel(panel, kLimitRightValue, "1.00");
    checkLabel(panel, kRotationValue, "0.00");
    checkPosition(panel, kWetSlider, 34);

    // The meters follow the output on the timer.
    check(SendDlgItemMessageA(panel, kMeterLeftBar, PBM_GETRANGE, FALSE, 0) == 32768, "meter range up to 32768");
    for (int i = 0; i < 4; ++i) blockIsProcessed(module);
    SendMessageA(panel, WM_TIMER, 1, 0);
    check(SendDlgItemMessageA(panel, kMeterLeftBar, PBM_GETPOS, 0, 0) > 0 &&
              SendDlgItemMessageA(panel, kMeterRightBar, PBM_GETPOS, 0, 0) > 0,
          "meters show the loud output");

    // OK hides; the configuration entry shows the same panel again.
    clickControl(panel, kOkButton);
    check(IsWindowVisible(panel) == 0, "OK hides the panel");
    module->Config(module);
    check(IsWindowVisible(panel) != 0, "configuration shows it again");
    checkLabel(panel, kFieldSurroundValue, "1.33");
}

// Keeps the panel on screen for a screenshot: the defaults, with the meters
// showing some music-like level.
void holdForScreenshot(HWND panel, winampDSPModule* module, const char* readyPath, const char* donePath) {
    clickControl(panel, kDefaultButton);
    SetFocus(GetDlgItem(panel, kOkButton));
    // The meters fall by 100 a block from the loud blocks before.
    for (int i = 0; i < 400; ++i) blockIsProcessed(module, 6000, 4000);
    SendMessageA(panel, WM_TIMER, 1, 0);
    KillTimer(panel, 1);  // keep the meters standing
    SetWindowPos(panel, HWND_TOP, 16, 16, 0, 0, SWP_NOSIZE | SWP_SHOWWINDOW);
    RedrawWindow(panel, nullptr, nullptr, RDW_INVALIDATE | RDW_ERASE | RDW_ALLCHILDREN | RDW_UPDATENOW | RDW_FRAME);
    pumpMessages();
    RECT rect;
    GetWindowRect(panel, &rect);
    if (std::FILE* ready = std::fopen(readyPath, "w")) {
        std::fprintf(ready, "%ld %ld %ld %ld\n", rect.left, rect.top, rect.right - rect.left, rect.bottom - rect.top);
        std::fclose(ready);
    }
    for (int waited = 0; waited < 30000 && GetFileAttributesA(donePath) == INVALID_FILE_ATTRIBUTES; waited += 50) {
        pumpMessages();
        Sleep(50);
    }
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 2) {
        std::printf("usage: wine_panel_test DLL [--hold READY DONE]\n");
        return 2;
    }
    const char* readyPath = argc >= 5 && std::strcmp(argv[2], "--hold") == 0 ? argv[3] : nullptr;
    const char* donePath = readyPath ? argv[4] : nullptr;

    // A private copy of the library, so that its settings file is our own.
    char temporary[MAX_PATH];
    GetTempPathA(MAX_PATH, temporary);
    std::string directory = std::string(temporary) + "brimwell-panel-" + std::to_string(GetCurrentProcessId()) + "\\";
    CreateDirectoryA(directory.c_str(), nullptr);
    std::string dll = directory + "dsp_brimwell.dll";
    std::string settings = directory + "QELTA.cfg";
    CopyFileA(argv[1], dll.c_str(), FALSE);

    HMODULE library = LoadLibraryA(dll.c_str());
    auto getHeader = library ? reinterpret_cast<GetHeaderEntry>(
                                   reinterpret_cast<void*>(GetProcAddress(library, "winampDSPGetHeader2")))
                             : nullptr;
    check(getHeader != nullptr, "load " + dll);
    if (getHeader == nullptr) return 1;
    winampDSPModule* module = getHeader()->getModule(0);

    HWND parent = CreateWindowExA(0, "STATIC", "player", WS_OVERLAPPEDWINDOW, 0, 0, 100, 100, nullptr, nullptr,
                                  GetModuleHandleA(nullptr), nullptr);
    module->hwndParent = parent;
    module->hDllInstance = library;
    check(module->Init(module) == 0, "init succeeds");

    HWND panel = FindWindowA(nullptr, "Brimwell");
    check(panel != nullptr, "the panel exists");
    if (panel != nullptr) {
        check(GetWindow(panel, GW_OWNER) == parent, "the player's window owns the panel");
        check(IsWindowVisible(panel) != 0, "the panel is shown at start-up");
        pumpMessages();
        checkTemplate(panel);
        driveControls(panel, module);
        if (readyPath != nullptr) holdForScreenshot(panel, module, readyPath, donePath);
    }

    module->Quit(module);
    check(panel == nullptr || IsWindow(panel) == 0, "quit destroys the panel");
    DestroyWindow(parent);
    FreeLibrary(library);
    DeleteFileA(settings.c_str());
    DeleteFileA(dll.c_str());
    RemoveDirectoryA(directory.c_str());

    std::printf("%d checks, %d failed\n", checks, failures);
    return failures == 0 ? 0 : 1;
}
