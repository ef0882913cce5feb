// The setup dialog as a Win32 modal dialog: the template and logo come from
// the plug-in's own module, the working copy and its rules from ArraySetup.
// Nothing here decides a value; it reads clicks, shows texts and draws.
#pragma once

#include <windows.h>

#include <cstdint>

#include "dialog/array_setup.h"
#include "dialog/dialog_layout.h"
#include "dialog/gdi_scope.h"

namespace dialog {

inline constexpr COLORREF kDialogBackground = RGB(224, 223, 227);
inline constexpr COLORREF kLinkText = RGB(0, 0, 255);
inline constexpr char kMailLinkTarget[] = "mailto:corlath-group@brennick-sound.example";
inline constexpr char kWebLinkTarget[] = "https://www.brennick-sound.example/line-arrays";

class SetupDialog {
public:
    explicit SetupDialog(const models::ModelDefinition& model);

    // Takes cells 1..cellCount as the working copy and creates the
    // background brush. Called before run.
    void fill(int32_t cellCount, const SetupCell* cells);
    // Runs the modal loop, the dialog owned by `owner` (none: nullptr); true
    // when the user pressed OK. Called in the host's floating-point state:
    // every message to the dialog is handled in a scope of its own.
    bool run(HWND owner);

    // Read after OK.
    int32_t cellCount() const { return setup_.cellCount(); }
    const SetupCell& cell(int32_t n) const { return setup_.cell(n); }

private:
    struct RowWindows {
        HWND label;
        HWND kindText;
        HWND kindUpDown;
        HWND splayText;
        HWND splayUpDown;
        HWND aimText;
    };

    static INT_PTR CALLBACK procedure(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
    // One message in the plug-in's floating-point state; `link`, if set, is
    // to be opened once that state is handed back.
    static INT_PTR handle(HWND window, UINT message, WPARAM wParam, LPARAM lParam, const char*& link);

    INT_PTR onInitDialog();
    INT_PTR onVerticalScroll(WPARAM wParam, HWND sender);
    void onPaint();
    void onEraseBackground(HDC dc);
    INT_PTR onStaticColour(HDC dc, HWND control);
    // The link under a click, or nullptr.
    const char* linkAt(POINT clientPoint) const;

    void adoptLogo();
    void refresh();
    void showRow(int32_t n);
    void drawPreview(HDC dc) const;
    bool contains(HWND control, POINT clientPoint) const;

    ArraySetup setup_;
    const DialogLayout& layout_;
    GdiObject<HBRUSH> backgroundBrush_;
    GdiObject<HFONT> linkFont_;  // the mail link's font, underlined
    GdiObject<HBITMAP> logo_;     // shown by the bitmap static, freed after it

    HWND window_ = nullptr;
    HWND countText_ = nullptr;
    HWND countUpDown_ = nullptr;
    HWND mailLink_ = nullptr;
    HWND webLink_ = nullptr;
    RowWindows rows_[models::kCellCapacity] = {};
};

}  // namespace dialog
