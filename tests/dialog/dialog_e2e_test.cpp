// The setup dialog end to end, in a real Win32 runtime: a plug-in DLL loaded
// as the host loads it, IP_ShowDialog called on the host thread, the dialog
// driven from a second thread with real mouse clicks, its controls read, its
// pixels checked and photographed, and the instance checked afterwards
// through the exports.
//
//   dialog_e2e_tests --plugin=ktr2|ktr4|qspan [gtest options]
//
// Screenshots are written to the working directory.
#include <gtest/gtest.h>

#include <windows.h>

#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <functional>
#include <memory>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "tests/dialog/dialog_driver.h"
#include "tests/floating_point_state.h"
#include "tools/host/plugin_library.h"
#include "tools/host/plugin_test_main.h"
#include "tools/host/setup_blob.h"

using dialog_test::DialogDriver;
using dialog_test::runDialog;
using dialog_test::ScreenCapture;
using dialog_test::SessionResult;
using host::CellSetup;
using host::readBlob;

namespace {

constexpr COLORREF kBackground = RGB(224, 223, 227);
constexpr COLORREF kCellFill = RGB(138, 170, 202);
constexpr COLORREF kWhite = RGB(255, 255, 255);
constexpr int kWholeRunSeconds = 240;

// One control of the template: id, window class, position in dialog units,
// and whether a fresh instance of 4 cells shows it. The aim-angle texts are
// 31 units wide, "Have questions?" 60 and the web link 240, wider than first
// drawn up, so that their texts fit.
struct ExpectedControl {
    int id;
    const char* className;
    int x, y, width, height;
    bool shownWithFourCells;
    const char* text;  // nullptr: not checked
};

struct RowIds {
    int label, kindText, kindUpDown, splayText, splayUpDown, aimText;
};

// What each product's dialog is, written down from its description rather
// than from the build.
struct DialogFacts {
    std::string title;
    int controlCount;
    RECT previewClient;  // dialog client pixels
    int mailLinkId;
    int webLinkId;
    // Splay of cell 2 after one up step from 0, of cell 1 after one down step.
    float otherStepDeg;
    float firstDownDeg;
    std::vector<ExpectedControl> fixed;
    std::vector<RowIds> rows;
};

const char* kKtrInstruction =
    "...then set the splay of each cell. Note: the splay for cell 1 indicates the angle between the "
    "first cell and the bumper.";
const char* kQspanInstruction =
    "...then set the type and splay of each box. Note: the splay for cell 1 indicates the angle "
    "between the first cell and the bumper.";
const char* kMailText = "Click here to contact Brennick Sound's Corlath Group.";
const char* kWebText = "Click here to learn more about Brennick Sound's Line Array technologies.";

std::vector<RowIds> splayRows() {
    std::vector<RowIds> rows;
    for (int i = 0; i < 8; ++i) rows.push_back({1002 + i, 0, 0, 1013 + i, 1036 + i, 1027 + i});
    for (int i = 0; i < 8; ++i) {
        rows.push_back({1092 + i, 0, 0, 1100 + i, 1108 + i, i == 0 ? 1035 : 1043 + i});
    }
    return rows;
}

std::vector<RowIds> kindRows() {
    const int rightKinds[8] = {1030, 1031, 1032, 1033, 1034, 1035, 1058, 1060};
    const int rightKindUpDowns[8] = {1052, 1053, 1054, 1055, 1056, 1057, 1059, 1061};
    std::vector<RowIds> rows;
    for (int i = 0; i < 8; ++i) rows.push_back({1002 + i, 1022 + i, 1044 + i, 1013 + i, 1036 + i, 1064 + i});
    for (int i = 0; i < 8; ++i) {
        rows.push_back({1092 + i, rightKinds[i], rightKindUpDowns[i], 1100 + i, 1108 + i, 1072 + i});
    }
    return rows;
}

std::vector<ExpectedControl> splayLayoutControls() {
    std::vector<ExpectedControl> c = {
        {IDOK, "Button", 252, 6, 54, 14, true, "OK"},
        {IDCANCEL, "Button", 312, 6, 54, 14, true, "Cancel"},
        {1001, "Static", 12, 8, 144, 8, true, "Choose the number of cells in this array..."},
        {1010, "Static", 165, 8, 15, 8, true, "4"},
        {1012, "msctls_updown32", 186, 7, 12, 12, true, nullptr},
        {1021, "Static", 12, 22, 234, 18, true, kKtrInstruction},
        {1022, "Static", 252, 30, 66, 8, true, "Preview of array:"},
        {1025, "Static", 120, 203, 60, 8, true, "Have questions?"},
        {1024, "Static", 120, 214, 197, 8, true, kMailText},
        {1051, "Static", 120, 225, 240, 8, true, kWebText},
    };
    const std::vector<RowIds> rows = splayRows();
    for (int i = 0; i < 16; ++i) {
        const bool left = i < 8;
        const int y = 48 + 18 * (i % 8);
        const bool shown = i < 4;
        c.push_back({rows[i].label, "Static", left ? 12 : 138, y, left || i == 8 ? 21 : 25, 8, shown, nullptr});
        c.push_back({rows[i].splayText, "Static", left ? 42 : 168, y, 24, 8, shown, nullptr});
        c.push_back({rows[i].splayUpDown, "msctls_updown32", left ? 72 : 198, y - 2, 12, 12, shown, nullptr});
        c.push_back({rows[i].aimText, "Static", left ? 90 : 216, y, 31, 8, shown, nullptr});
    }
    return c;
}

std::vector<ExpectedControl> kindLayoutControls() {
    std::vector<ExpectedControl> c = {
        {IDOK, "Button", 294, 6, 54, 14, true, "OK"},
        {IDCANCEL, "Button", 354, 6, 54, 14, true, "Cancel"},
        {1001, "Static", 12, 8, 144, 8, true, "Choose the number of cells in this array..."},
        {1010, "Static", 165, 8, 15, 8, true, "4"},
        {1012, "msctls_updown32", 186, 7, 12, 12, true, nullptr},
        {1021, "Static", 12, 22, 265, 19, true, kQspanInstruction},
        {1062, "Static", 294, 30, 66, 8, true, "Preview of array:"},
        {1081, "Static", 120, 203, 60, 8, true, "Have questions?"},
        {1063, "Static", 120, 214, 197, 8, true, kMailText},
        {1080, "Static", 120, 225, 240, 8, true, kWebText},
    };
    const std::vector<RowIds> rows = kindRows();
    for (int i = 0; i < 16; ++i) {
        const bool left = i < 8;
        const int y = 48 + 18 * (i % 8);
        const bool shown = i < 4;
        c.push_back({rows[i].label, "Static", left ? 12 : 156, y, left ? 24 : (i == 8 ? 21 : 25), 8, shown, nullptr});
        c.push_back({rows[i].kindText, "Static", left ? 42 : 186, y, 18, 8, shown, shown ? "QSB" : nullptr});
        c.push_back({rows[i].kindUpDown, "msctls_updown32", left ? 62 : 206, y - 2, 11, 12, shown, nullptr});
        c.push_back({rows[i].splayText, "Static", left ? 78 : 222, y, 18, 8, shown, nullptr});
        c.push_back({rows[i].splayUpDown, "msctls_updown32", left ? 99 : 243, y - 2, 11, 12, shown, nullptr});
        c.push_back({rows[i].aimText, "Static", left ? 114 : 258, y, 31, 8, shown, nullptr});
    }
    return c;
}

DialogFacts dialogFactsOf(const std::string& library) {
    if (library == "ktr2") {
        return {"Setup Brennick VESTRA KTR2 Array", 75, {378, 75, 548, 300}, 1024, 1051,
                1.0f, -1.3f, splayLayoutControls(), splayRows()};
    }
    if (library == "ktr4") {
        return {"Setup Brennick VESTRA KTR4 Array", 75, {378, 75, 548, 300}, 1024, 1051,
                1.666f, -1.666f, splayLayoutControls(), splayRows()};
    }
    if (library == "qspan") {
        return {"Setup Brennick Q.SPAN Array", 107, {441, 75, 611, 299}, 1063, 1080,
                1.0f, -1.0f, kindLayoutControls(), kindRows()};
    }
    throw std::invalid_argument("no dialog written down for " + library);
}

// The product named by --plugin=, and its dialog.
const host::Product& product() { return host::productUnderTest(); }

const DialogFacts& dialogFacts() {
    static const DialogFacts facts = dialogFactsOf(product().library);
    return facts;
}

std::vector<CellSetup> cellsOf(const std::vector<unsigned char>& blob) {
    return host::blobCells(product(), blob.data());
}

int32_t setCells(const host::PluginLibrary& plugin, const std::vector<CellSetup>& cells) {
    return plugin.IP_SetValue(1, host::makeBlob(product(), cells).data());
}

struct Position {
    float xyz[3];
};

std::vector<Position> cellPositions(const host::PluginLibrary& plugin, int count) {
    std::vector<Position> positions(size_t(count), Position{{0, 0, 0}});
    for (int n = 1; n <= count; ++n) plugin.CI_GetCompPosition3fv(n, positions[size_t(n - 1)].xyz);
    return positions;
}

float distanceM(const Position& a, const Position& b) {
    return std::hypot(a.xyz[0] - b.xyz[0], a.xyz[1] - b.xyz[1], a.xyz[2] - b.xyz[2]);
}

// The dialog's one-decimal angle text for values well away from zero and
// from any rounding boundary.
std::string degrees(float v, bool parenthesised = false) {
    char text[64];
    std::snprintf(text, sizeof text, "%s%.1f\xB0%s", parenthesised ? "(" : "", v, parenthesised ? ")" : "");
    return text;
}

BOOL CALLBACK countWindow(HWND, LPARAM count) {
    ++*reinterpret_cast<int*>(count);
    return TRUE;
}

BOOL CALLBACK findBitmapStatic(HWND control, LPARAM found) {
    if ((GetWindowLongA(control, GWL_STYLE) & SS_TYPEMASK) == SS_BITMAP) {
        *reinterpret_cast<HWND*>(found) = control;
        return FALSE;
    }
    return TRUE;
}

bool isCellFill(COLORREF c) { return dialog_test::closeColour(c, kCellFill, 8); }

class DialogTest : public ::testing::Test {
protected:
    // Nothing may hang a test run: past this time the process ends, failing.
    static void SetUpTestSuite() {
        std::thread([] {
            std::this_thread::sleep_for(std::chrono::seconds(kWholeRunSeconds));
            std::fprintf(stderr, "the dialog test did not finish within %d s\n", kWholeRunSeconds);
            std::fflush(stderr);
            ExitProcess(3);
        }).detach();
    }

    void SetUp() override {
        std::string error;
        plugin = host::PluginLibrary::open(host::pluginPath(product().library), error);
        ASSERT_NE(plugin, nullptr) << error;
        ASSERT_NE(plugin->IP_ShowDialog, nullptr);
        ASSERT_GT(plugin->CI_GetFreeID(), 0);
    }

    SessionResult show(const std::function<void(DialogDriver&)>& script) {
        SessionResult result = runDialog(*plugin, dialogFacts().title, script);
        EXPECT_TRUE(result.dialogFound);
        EXPECT_EQ(result.returned, 0);
        for (const std::string& failure : result.failures) ADD_FAILURE() << failure;
        return result;
    }

    const RowIds& row(int n) const { return dialogFacts().rows[size_t(n - 1)]; }

    std::unique_ptr<host::PluginLibrary> plugin;
};

}  // namespace

TEST_F(DialogTest, TemplateHoldsEveryControlWhereItBelongs) {
    show([&](DialogDriver& d) {
        char title[256] = {};
        GetWindowTextA(d.dialog(), title, sizeof title);
        d.check(dialogFacts().title == title, std::string("title ") + title);

        int children = 0;
        EnumChildWindows(d.dialog(), &countWindow, reinterpret_cast<LPARAM>(&children));
        d.check(children == dialogFacts().controlCount, "controls: " + std::to_string(children));

        for (const ExpectedControl& e : dialogFacts().fixed) {
            const std::string name = "control " + std::to_string(e.id);
            HWND c = d.control(e.id);
            if (c == nullptr) {
                d.check(false, name + " is missing");
                continue;
            }
            char className[64] = {};
            GetClassNameA(c, className, sizeof className);
            d.check(_stricmp(className, e.className) == 0, name + " is a " + className);
            // Position and size are each scaled from dialog units, as the
            // dialog manager does.
            RECT expected{e.x, e.y, e.width, e.height};
            MapDialogRect(d.dialog(), &expected);
            RECT actual{};
            GetWindowRect(c, &actual);
            MapWindowPoints(HWND_DESKTOP, d.dialog(), reinterpret_cast<POINT*>(&actual), 2);
            const int width = actual.right - actual.left;
            const int height = actual.bottom - actual.top;
            // An up-down may trim its own width by a pixel or two.
            const bool upDown = _stricmp(e.className, "msctls_updown32") == 0;
            const bool widthOk = upDown ? width <= expected.right && width >= expected.right - 2
                                        : width == expected.right;
            d.check(actual.left == expected.left && actual.top == expected.top && widthOk &&
                        height == expected.bottom,
                    name + " at " + std::to_string(actual.left) + "," + std::to_string(actual.top) + " " +
                        std::to_string(width) + "x" + std::to_string(height) + ", expected " +
                        std::to_string(expected.left) + "," + std::to_string(expected.top) + " " +
                        std::to_string(expected.right) + "x" + std::to_string(expected.bottom));
            d.check(d.visible(e.id) == e.shownWithFourCells, name + " visibility");
            if (e.text != nullptr) d.check(d.text(e.id) == e.text, name + " reads \"" + d.text(e.id) + "\"");
        }

        for (const ExpectedControl& e : dialogFacts().fixed) {
            std::string why;
            if (e.text != nullptr && _stricmp(e.className, "Static") == 0) d.check(d.textFits(e.id, why), why);
        }

        // The logo: a bitmap static showing the plug-in's own 147 x 79 image.
        HWND logo = nullptr;
        EnumChildWindows(d.dialog(), &findBitmapStatic, reinterpret_cast<LPARAM>(&logo));
        d.check(logo != nullptr, "a bitmap static");
        if (logo != nullptr) {
            const int id = GetDlgCtrlID(logo);
            d.check(product().cellsCarryKind ? id == 1082 : (id == -1 || id == 0xFFFF),
                    "logo id " + std::to_string(id));
            auto image = reinterpret_cast<HBITMAP>(SendMessageA(logo, STM_GETIMAGE, IMAGE_BITMAP, 0));
            BITMAP bitmap{};
            d.check(image != nullptr && GetObjectA(image, sizeof bitmap, &bitmap) == sizeof bitmap &&
                        bitmap.bmWidth == 147 && bitmap.bmHeight == 79,
                    "the logo bitmap is loaded, 147 x 79");
        }

        // Links: underlined dialog font, blue text on the dialog background.
        for (int id : {dialogFacts().mailLinkId, dialogFacts().webLinkId}) {
            auto font = reinterpret_cast<HFONT>(SendMessageA(d.control(id), WM_GETFONT, 0, 0));
            LOGFONTA logical{};
            d.check(font != nullptr && GetObjectA(font, sizeof logical, &logical) == sizeof logical &&
                        logical.lfUnderline,
                    "link " + std::to_string(id) + " is underlined");
        }
        RECT mail{};
        GetWindowRect(d.control(dialogFacts().mailLinkId), &mail);
        MapWindowPoints(HWND_DESKTOP, d.dialog(), reinterpret_cast<POINT*>(&mail), 2);
        const ScreenCapture shot = d.captureUntil(
            [&](const ScreenCapture& s) {
                return s.count(mail, [](COLORREF c) { return GetBValue(c) > 180 && GetRValue(c) < 90; }) > 20;
            },
            3000);
        d.check(shot.count(mail, [](COLORREF c) { return GetBValue(c) > 180 && GetRValue(c) < 90; }) > 20,
                "the mail link is drawn in blue");
        d.check(shot.count({4, 4, 8, 8}, [](COLORREF c) { return c == kBackground; }) == 16,
                "the dialog background is RGB(224, 223, 227)");
        shot.writeBmp(product().library + "-fresh.bmp");
        d.clickButton(IDCANCEL);
    });
}

TEST_F(DialogTest, TheWidestAnglesFitTheirColumns) {
    // Sixteen cells at the dialog's limits: the longest splay texts, and aim
    // angles that add up to the steepest the steps can reach.
    const float first = product().library == "ktr2" ? 2.8f : 5.0f;
    const float other = product().library == "ktr2" ? 7.0f : 10.0f;
    std::vector<CellSetup> cells(16, CellSetup{product().cellsCarryKind ? 2 : 0, other});
    cells[0].splayDeg = product().library == "ktr2" ? -1.3f : -5.0f;
    ASSERT_EQ(setCells(*plugin, cells), 0);
    show([&](DialogDriver& d) {
        d.waitForText(1010, "16");
        for (int i = 0; i < 10; ++i) d.scrollArrow(row(1).splayUpDown, true);  // to the upper limit
        d.waitForText(row(1).splayText, degrees(first));
        d.waitForText(row(16).aimText, degrees(-(first + 15 * other), true));
        for (int n = 1; n <= 16; ++n) {
            std::string why;
            for (int id : {row(n).label, row(n).kindText, row(n).splayText, row(n).aimText}) {
                if (id != 0) d.check(d.textFits(id, why), why);
            }
        }
        const ScreenCapture shot = d.captureUntil(
            [&](const ScreenCapture& s) { return s.count(dialogFacts().previewClient, isCellFill) > 1000; }, 3000);
        d.check(shot.count(dialogFacts().previewClient, isCellFill) > 1000, "sixteen cells in the preview");
        shot.writeBmp(product().library + "-sixteen.bmp");
        d.clickButton(IDCANCEL);
    });
}

TEST_F(DialogTest, ClicksEditTheCellsAndOkWritesThemAtTheNextLayout) {
    const float arrayPosition[3] = {1.0f, 2.0f, 10.0f};
    const float arrayAngles[3] = {0.0f, 0.0f, 0.0f};
    plugin->CI_SetLspkAngles3fv(arrayAngles);
    plugin->CI_SetLspkPosition3fv(arrayPosition);
    const std::vector<Position> before = cellPositions(*plugin, 4);

    const DialogFacts& p = dialogFacts();
    const bool kinds = product().cellsCarryKind;
    const float splay1 = p.firstDownDeg;
    const float splay2 = p.otherStepDeg + p.otherStepDeg;
    show([&](DialogDriver& d) {
        d.waitForText(1010, "4");
        d.check(d.text(row(1).aimText) == "(-0.0\xB0)", "fresh aim angle reads " + d.text(row(1).aimText));
        d.check(!d.visible(row(5).splayText), "row 5 starts hidden");

        d.clickArrow(1012, true);
        d.waitForText(1010, "5");
        d.check(d.visible(row(5).splayText) && d.visible(row(5).splayUpDown), "row 5 is shown");
        d.waitForText(row(5).splayText, "0.0\xB0");

        d.clickArrow(row(2).splayUpDown, true);
        d.waitForText(row(2).splayText, degrees(p.otherStepDeg));
        d.scrollArrow(row(2).splayUpDown, true);
        d.waitForText(row(2).splayText, degrees(splay2));
        d.clickArrow(row(1).splayUpDown, false);
        d.waitForText(row(1).splayText, degrees(splay1));
        if (kinds) {
            d.clickArrow(row(3).kindUpDown, true);
            d.waitForText(row(3).kindText, "QSC");
            d.scrollArrow(row(3).kindUpDown, true);
            d.waitForText(row(3).kindText, "QSC");
            d.scrollArrow(row(4).kindUpDown, false);
            d.waitForText(row(4).kindText, "QSA");
        }
        d.waitForText(row(1).aimText, degrees(-splay1, true));
        for (int n = 2; n <= 5; ++n) d.waitForText(row(n).aimText, degrees(-splay1 - splay2, true));

        // The preview shows the cells in their colour, on white, inside its
        // rectangle and nowhere else.
        const RECT preview = p.previewClient;
        const ScreenCapture shot = d.captureUntil(
            [&](const ScreenCapture& s) { return s.count(preview, isCellFill) > 1500; }, 3000);
        const int cellPixels = shot.count(preview, isCellFill);
        d.check(cellPixels > 1500, "cell-coloured pixels in the preview: " + std::to_string(cellPixels));
        d.check(shot.count(preview, [](COLORREF c) { return c == kWhite; }) > 2000, "a white field");
        const RECT left{0, 0, preview.left, 300};
        d.check(shot.count(left, isCellFill) == 0, "no cell colour outside the preview");
        shot.writeBmp(product().library + "-edited.bmp");

        d.clickButton(IDOK);
    });

    // OK wrote five cells into the instance...
    std::vector<CellSetup> expected(5, CellSetup{kinds ? 1 : 0, 0.0f});
    expected[0].splayDeg = splay1;
    expected[1].splayDeg = splay2;
    if (kinds) {
        expected[2].kind = 2;
        expected[3].kind = 0;  // cell 5 copied cell 4's kind 1 before this step
    }
    const std::vector<unsigned char> blob = readBlob(*plugin);
    EXPECT_EQ(blob.size(), 8 + 5 * (kinds ? 8u : 4u));
    const std::vector<CellSetup> cells = cellsOf(blob);
    ASSERT_EQ(cells.size(), 5u);
    for (size_t i = 0; i < 5; ++i) {
        EXPECT_EQ(cells[i].splayDeg, expected[i].splayDeg) << "cell " << i + 1;
        EXPECT_EQ(cells[i].kind, expected[i].kind) << "cell " << i + 1;
    }
    EXPECT_EQ(plugin->CI_GetComponents(), 5);

    // ...but the poses stay until the next layout trigger.
    const std::vector<Position> afterOk = cellPositions(*plugin, 4);
    for (int i = 0; i < 4; ++i) {
        EXPECT_EQ(std::memcmp(afterOk[i].xyz, before[i].xyz, sizeof before[i].xyz), 0) << "cell " << i + 1;
    }
    plugin->CI_SetLspkPosition3fv(arrayPosition);
    const std::vector<Position> relaid = cellPositions(*plugin, 4);
    EXPECT_GT(distanceM(relaid[2], before[2]), 0.001f) << "cell 3 follows the new splay of cell 2";
    EXPECT_GT(distanceM(relaid[3], before[3]), 0.001f);
}

TEST_F(DialogTest, CancelAndTheCloseBoxLeaveTheInstanceAlone) {
    const std::vector<CellSetup> stored = {{0, 1.0f}, {1, 2.0f}, {2, 3.0f}, {0, 0.0f}, {1, 0.0f}, {2, 0.0f}};
    std::vector<CellSetup> cells = stored;
    if (!product().cellsCarryKind) {
        for (CellSetup& c : cells) c.kind = 0;
    }
    ASSERT_EQ(setCells(*plugin, cells), 0);
    const std::vector<unsigned char> original = readBlob(*plugin);

    show([&](DialogDriver& d) {
        d.waitForText(1010, "6");
        d.waitForText(row(3).splayText, "3.0\xB0");
        d.waitForText(row(3).aimText, "(-6.0\xB0)");
        if (product().cellsCarryKind) {
            d.waitForText(row(1).kindText, "QSA");
            d.waitForText(row(3).kindText, "QSC");
        }
        d.clickArrow(1012, false);
        d.waitForText(1010, "5");
        d.check(!d.visible(row(6).splayText), "row 6 hidden after the count went down");
        d.scrollArrow(row(1).splayUpDown, true);
        d.scrollArrow(1012, true);
        d.waitForText(1010, "6");
        d.clickButton(IDCANCEL);
    });
    EXPECT_EQ(readBlob(*plugin), original);

    show([&](DialogDriver& d) {
        d.waitForText(1010, "6");
        d.scrollArrow(row(2).splayUpDown, false);
        d.scrollArrow(1012, false);
        d.waitForText(1010, "5");
        SendMessageA(d.dialog(), WM_SYSCOMMAND, SC_CLOSE, 0);
    });
    EXPECT_EQ(readBlob(*plugin), original);
}

namespace {

// The host's own code inside the dialog's modal loop: a thread timer of the
// host's that runs once the dialog is up, records the floating-point state it
// runs in, does inexact arithmetic of its own, runs the host's action (say,
// making another array current) and presses OK.
struct HostTimer {
    std::function<void()> action;
    fp_test::FloatingPointState seen{};
    bool ran = false;
};
HostTimer* gHostTimer = nullptr;

BOOL CALLBACK findDialogOfThread(HWND window, LPARAM found) {
    char name[16] = {};
    GetClassNameA(window, name, sizeof name);
    if (std::strcmp(name, "#32770") != 0 || !IsWindowVisible(window)) return TRUE;
    *reinterpret_cast<HWND*>(found) = window;
    return FALSE;
}

void CALLBACK onHostTimer(HWND, UINT, UINT_PTR timer, DWORD) {
    HWND dialog = nullptr;
    EnumThreadWindows(GetCurrentThreadId(), &findDialogOfThread, reinterpret_cast<LPARAM>(&dialog));
    if (dialog == nullptr || gHostTimer == nullptr || gHostTimer->ran) return;
    KillTimer(nullptr, timer);
    gHostTimer->seen = fp_test::readFloatingPointState();
    volatile float third = 1.0f;
    third = third / 3.0f;  // raises the precision flag, as a host's arithmetic does
    gHostTimer->action();
    gHostTimer->ran = true;
    PostMessageA(dialog, WM_COMMAND, IDOK, 0);
}

// Runs IP_ShowDialog on this thread with the host's timer armed.
HostTimer showWithHostTimer(const host::PluginLibrary& plugin, std::function<void()> action) {
    HostTimer timer{std::move(action)};
    gHostTimer = &timer;
    const UINT_PTR id = SetTimer(nullptr, 0, 50, &onHostTimer);
    EXPECT_NE(id, 0u);
    EXPECT_EQ(plugin.IP_ShowDialog(nullptr), 0);
    KillTimer(nullptr, id);
    gHostTimer = nullptr;
    EXPECT_TRUE(timer.ran) << "the host's timer never found the dialog";
    return timer;
}

std::vector<CellSetup> twelveCells() {
    std::vector<CellSetup> cells;
    for (int i = 0; i < 12; ++i) cells.push_back({product().cellsCarryKind ? i % 3 : 0, float(i % 4)});
    return cells;
}

}  // namespace

TEST_F(DialogTest, OkWritesToTheArrayItWasOpenedForWhicheverTheHostMadeCurrent) {
    ASSERT_EQ(setCells(*plugin, twelveCells()), 0);  // array A, slot 1
    const std::vector<unsigned char> a = readBlob(*plugin);
    ASSERT_EQ(plugin->CI_GetFreeID(), 2);  // array B, the default cells
    const std::vector<unsigned char> b = readBlob(*plugin);
    ASSERT_EQ(plugin->CI_MakeCurrent(1), 0);
    showWithHostTimer(*plugin, [&] { plugin->CI_MakeCurrent(2); });
    ASSERT_EQ(plugin->CI_MakeCurrent(2), 0);
    EXPECT_EQ(readBlob(*plugin), b) << "B took the cells of the array the dialog edited";
    ASSERT_EQ(plugin->CI_MakeCurrent(1), 0);
    EXPECT_EQ(readBlob(*plugin), a);
}

TEST_F(DialogTest, OkWritesNothingIntoASlotTakenByAnotherArrayWhileItRan) {
    ASSERT_EQ(setCells(*plugin, twelveCells()), 0);
    // The host releases the array and makes a new one, which gets the slot.
    int32_t reused = -1;
    showWithHostTimer(*plugin, [&] {
        plugin->CI_Release();
        reused = plugin->CI_GetFreeID();
    });
    ASSERT_EQ(reused, 1);
    const int32_t kind = product().cellsCarryKind ? 1 : 0;
    EXPECT_EQ(readBlob(*plugin), host::makeBlob(product(), {{kind, 0}, {kind, 0}, {kind, 0}, {kind, 0}}));
}

TEST_F(DialogTest, OkWritesNothingIntoASlotReleasedWhileItRan) {
    ASSERT_EQ(setCells(*plugin, twelveCells()), 0);
    const std::vector<unsigned char> before = readBlob(*plugin);
    // The user adds a cell; the host releases the array and makes no other,
    // so the slot is not reused and stays current.
    showWithHostTimer(*plugin, [&] {
        HWND dialog = nullptr;
        EnumThreadWindows(GetCurrentThreadId(), &findDialogOfThread, reinterpret_cast<LPARAM>(&dialog));
        SendMessageA(dialog, WM_VSCROLL, MAKEWPARAM(SB_THUMBPOSITION, 0), reinterpret_cast<LPARAM>(GetDlgItem(dialog, 1012)));
        plugin->CI_Release();
    });
    EXPECT_EQ(readBlob(*plugin), before) << "the dialog wrote its cells into a released array";
}

TEST_F(DialogTest, TheDialogIsOwnedByTheHostsActiveWindowWhichItDisables) {
    HWND host = CreateWindowExA(0, "STATIC", "host window", WS_OVERLAPPEDWINDOW | WS_VISIBLE, 10, 10, 300, 200,
                                nullptr, nullptr, GetModuleHandleA(nullptr), nullptr);
    ASSERT_NE(host, nullptr);
    SetActiveWindow(host);
    ASSERT_EQ(GetActiveWindow(), host);
    HWND owner = nullptr;
    BOOL hostEnabled = TRUE;
    showWithHostTimer(*plugin, [&] {
        HWND dialog = nullptr;
        EnumThreadWindows(GetCurrentThreadId(), &findDialogOfThread, reinterpret_cast<LPARAM>(&dialog));
        owner = GetWindow(dialog, GW_OWNER);
        hostEnabled = IsWindowEnabled(host);
    });
    EXPECT_EQ(owner, host);
    EXPECT_FALSE(hostEnabled) << "the host's window took input while the modal dialog ran";
    EXPECT_TRUE(IsWindowEnabled(host)) << "the host's window stayed disabled after the dialog";
    DestroyWindow(host);
}

TEST_F(DialogTest, HostCodeInTheModalLoopRunsInTheHostsFloatingPointState) {
    const fp_test::FloatingPointState saved = fp_test::readFloatingPointState();
    // All masked, rounding down in both units, no flags raised.
    const uint16_t hostX87Control = fp_test::kMaskedX87Control | 0x0400;
    const uint32_t hostMxcsr = fp_test::kMaskedMxcsr | 0x2000;
    fp_test::writeControlState(hostX87Control, hostMxcsr);
    // In the loop the host also turns its SSE rounding from down to toward zero.
    const uint32_t changedMxcsr = fp_test::kMaskedMxcsr | 0x6000;
    const HostTimer timer = showWithHostTimer(*plugin, [&] {
        const uint32_t flagsNow = fp_test::readFloatingPointState().mxcsr & 0x3F;
        const uint32_t changed = changedMxcsr | flagsNow;
        __asm__ volatile("ldmxcsr %0" : : "m"(changed));
    });
    const fp_test::FloatingPointState after = fp_test::readFloatingPointState();
    fp_test::writeControlState(saved.x87Control, saved.mxcsr);

    constexpr uint32_t kMxcsrControlBits = 0xFFC0;
    constexpr uint32_t kPrecisionFlag = 0x20;
    EXPECT_EQ(timer.seen.x87Control, hostX87Control) << std::hex << timer.seen.x87Control;
    EXPECT_EQ(timer.seen.mxcsr & kMxcsrControlBits, hostMxcsr) << std::hex << timer.seen.mxcsr;
    // On return the host has the control words it left in the loop, and keeps
    // the flag its own arithmetic raised there.
    EXPECT_EQ(after.x87Control, hostX87Control) << std::hex << after.x87Control;
    EXPECT_EQ(after.mxcsr & kMxcsrControlBits, changedMxcsr) << std::hex << after.mxcsr;
    EXPECT_NE(after.mxcsr & kPrecisionFlag, 0u) << std::hex << after.mxcsr;
}

namespace {

// The plug-in's import of shell32!ShellExecuteA, replaced for a test: the
// slot in its import address table where the loader wrote the address.
class ImportHook {
public:
    ImportHook(const void* anyCodeOfTheModule, const char* library, const char* function, void* replacement) {
        HMODULE module = nullptr;
        GetModuleHandleExA(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
                           static_cast<const char*>(anyCodeOfTheModule), &module);
        auto* base = reinterpret_cast<unsigned char*>(module);
        if (base == nullptr) return;
        const auto* dos = reinterpret_cast<const IMAGE_DOS_HEADER*>(base);
        const auto* nt = reinterpret_cast<const IMAGE_NT_HEADERS*>(base + dos->e_lfanew);
        const IMAGE_DATA_DIRECTORY& imports = nt->OptionalHeader.DataDirectory[IMAGE_DIRECTORY_ENTRY_IMPORT];
        for (auto* d = reinterpret_cast<const IMAGE_IMPORT_DESCRIPTOR*>(base + imports.VirtualAddress); d->Name != 0;
             ++d) {
            if (_stricmp(reinterpret_cast<const char*>(base + d->Name), library) != 0) continue;
            auto* names = reinterpret_cast<const IMAGE_THUNK_DATA*>(base + d->OriginalFirstThunk);
            auto* slots = reinterpret_cast<IMAGE_THUNK_DATA*>(base + d->FirstThunk);
            for (; names->u1.AddressOfData != 0; ++names, ++slots) {
                if (IMAGE_SNAP_BY_ORDINAL(names->u1.Ordinal)) continue;
                const auto* byName = reinterpret_cast<const IMAGE_IMPORT_BY_NAME*>(base + names->u1.AddressOfData);
                if (std::strcmp(reinterpret_cast<const char*>(byName->Name), function) != 0) continue;
                slot_ = &slots->u1.Function;
                original_ = *slot_;
                write(reinterpret_cast<decltype(original_)>(replacement));
                return;
            }
        }
    }
    ~ImportHook() {
        if (slot_ != nullptr) write(original_);
    }
    bool found() const { return slot_ != nullptr; }

private:
    void write(decltype(IMAGE_THUNK_DATA::u1.Function) value) {
        DWORD old = 0;
        VirtualProtect(slot_, sizeof *slot_, PAGE_READWRITE, &old);
        *slot_ = value;
        VirtualProtect(slot_, sizeof *slot_, old, &old);
    }

    decltype(IMAGE_THUNK_DATA::u1.Function)* slot_ = nullptr;
    decltype(IMAGE_THUNK_DATA::u1.Function) original_ = 0;
};

// What opening a link met: the state at the call, and the state a host timer
// saw that fired while the shell worked (the hook pumps the host's messages,
// as the shell may).
struct LinkOpening {
    int calls = 0;
    std::string target;
    fp_test::FloatingPointState atCall{}, timerSaw{};
    bool timerRan = false;
};
LinkOpening* gLinkOpening = nullptr;

void CALLBACK onTimerWhileLinkOpens(HWND, UINT, UINT_PTR timer, DWORD) {
    KillTimer(nullptr, timer);
    if (gLinkOpening == nullptr) return;
    gLinkOpening->timerSaw = fp_test::readFloatingPointState();
    gLinkOpening->timerRan = true;
}

HINSTANCE WINAPI openingLink(HWND, LPCSTR, LPCSTR target, LPCSTR, LPCSTR, INT) {
    gLinkOpening->atCall = fp_test::readFloatingPointState();
    gLinkOpening->target = target != nullptr ? target : "";
    ++gLinkOpening->calls;
    const UINT_PTR timer = SetTimer(nullptr, 0, 0, &onTimerWhileLinkOpens);
    for (int i = 0; i < 200 && !gLinkOpening->timerRan; ++i) {
        MSG message;
        while (PeekMessageA(&message, nullptr, WM_TIMER, WM_TIMER, PM_REMOVE)) DispatchMessageA(&message);
        if (!gLinkOpening->timerRan) Sleep(5);
    }
    KillTimer(nullptr, timer);
    return reinterpret_cast<HINSTANCE>(42);  // "opened": nothing is launched
}

}  // namespace

// A click on the mail link opens it only after the dialog's message has
// handed the host's floating-point state back: the shell's call, and any of
// the host's code that runs while it works, see the host's control words.
TEST_F(DialogTest, TheLinkOpensInTheHostsFloatingPointState) {
    ImportHook hook(reinterpret_cast<const void*>(plugin->IP_ShowDialog), "shell32.dll", "ShellExecuteA",
                    reinterpret_cast<void*>(&openingLink));
    ASSERT_TRUE(hook.found()) << "the plug-in does not import ShellExecuteA";
    LinkOpening opening;
    gLinkOpening = &opening;
    const fp_test::FloatingPointState saved = fp_test::readFloatingPointState();
    const uint16_t hostX87Control = fp_test::kMaskedX87Control | 0x0400;  // rounding down
    const uint32_t hostMxcsr = fp_test::kMaskedMxcsr | 0x2000;
    fp_test::writeControlState(hostX87Control, hostMxcsr);
    showWithHostTimer(*plugin, [&] {
        HWND dialog = nullptr;
        EnumThreadWindows(GetCurrentThreadId(), &findDialogOfThread, reinterpret_cast<LPARAM>(&dialog));
        RECT link{};
        GetWindowRect(GetDlgItem(dialog, dialogFacts().mailLinkId), &link);
        MapWindowPoints(HWND_DESKTOP, dialog, reinterpret_cast<POINT*>(&link), 2);
        const LPARAM at = MAKELPARAM((link.left + link.right) / 2, (link.top + link.bottom) / 2);
        SendMessageA(dialog, WM_LBUTTONDOWN, MK_LBUTTON, at);
    });
    fp_test::writeControlState(saved.x87Control, saved.mxcsr);
    gLinkOpening = nullptr;

    constexpr uint32_t kMxcsrControlBits = 0xFFC0;
    ASSERT_EQ(opening.calls, 1);
    EXPECT_EQ(opening.target.rfind("mailto:", 0), 0u) << opening.target;
    EXPECT_EQ(opening.atCall.x87Control, hostX87Control) << std::hex << opening.atCall.x87Control;
    EXPECT_EQ(opening.atCall.mxcsr & kMxcsrControlBits, hostMxcsr) << std::hex << opening.atCall.mxcsr;
    ASSERT_TRUE(opening.timerRan) << "no host timer fired while the link opened";
    EXPECT_EQ(opening.timerSaw.x87Control, hostX87Control) << std::hex << opening.timerSaw.x87Control;
    EXPECT_EQ(opening.timerSaw.mxcsr & kMxcsrControlBits, hostMxcsr) << std::hex << opening.timerSaw.mxcsr;
}

TEST_F(DialogTest, AnEmptySetupShowsAnEmptyFieldAndItsFirstCellStartsAtZero) {
    if (product().cellsCarryKind) {
        GTEST_SKIP() << "this product never holds fewer than 4 cells";
    }
    ASSERT_EQ(setCells(*plugin, {}), 0);
    ASSERT_EQ(plugin->CI_GetComponents(), 0);
    show([&](DialogDriver& d) {
        d.waitForText(1010, "0");
        for (int n = 1; n <= 16; ++n) d.check(!d.visible(row(n).label), "row " + std::to_string(n) + " hidden");
        const RECT preview = dialogFacts().previewClient;
        const ScreenCapture shot = d.captureUntil(
            [&](const ScreenCapture& s) { return s.count(preview, [](COLORREF c) { return c == kWhite; }) > 30000; },
            3000);
        d.check(shot.count(preview, [](COLORREF c) { return c == kWhite; }) > 30000, "an empty white field");
        d.check(shot.count(preview, isCellFill) == 0, "no cells drawn");
        shot.writeBmp(product().library + "-empty.bmp");

        d.clickArrow(1012, true);
        d.waitForText(1010, "1");
        d.waitForText(row(1).splayText, "0.0\xB0");
        d.waitForText(row(1).aimText, "(-0.0\xB0)");
        d.check(!d.visible(row(2).label), "only one row");
        d.clickButton(IDOK);
    });
    const std::vector<CellSetup> cells = cellsOf(readBlob(*plugin));
    ASSERT_EQ(cells.size(), 1u);
    EXPECT_EQ(cells[0].splayDeg, 0.0f);
}

TEST_F(DialogTest, AHundredOpeningsLeaveNoGdiObjectsBehind) {
    auto openEditAndCancel = [&] {
        SessionResult result = runDialog(*plugin, dialogFacts().title, [&](DialogDriver& d) {
            // A count step repaints the preview at once: every cycle draws.
            d.scrollArrow(1012, true);
            d.cancel();
        });
        for (const std::string& failure : result.failures) ADD_FAILURE() << failure;
        return result.dialogFound && result.returned == 0;
    };
    // The first openings fill caches of the runtime (fonts, classes).
    for (int i = 0; i < 3; ++i) ASSERT_TRUE(openEditAndCancel());
    std::string source;
    const int32_t before = dialog_test::gdiObjectCount(source);
    const auto started = std::chrono::steady_clock::now();
    for (int i = 0; i < 100; ++i) ASSERT_TRUE(openEditAndCancel()) << "cycle " << i;
    const double seconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
    const int32_t after = dialog_test::gdiObjectCount(source);
    SetLastError(0);
    const DWORD reported = GetGuiResources(GetCurrentProcess(), GR_GDIOBJECTS);
    const DWORD why = GetLastError();
    std::printf("100 open/close cycles in %.1f s; GDI objects %d before, %d after, counted by %s; "
                "GetGuiResources(GR_GDIOBJECTS) reports %lu (last error %lu)\n",
                seconds, before, after, source.c_str(), static_cast<unsigned long>(reported),
                static_cast<unsigned long>(why));
    if (before < 0) {
        GTEST_SKIP() << "this runtime offers no way to count GDI objects";
    }
    EXPECT_LE(after, before);
}
