#include "dialog/setup_dialog_win.h"

#include <commctrl.h>
#include <shellapi.h>
#include <windowsx.h>

#include <initializer_list>

#include "plugin/export_scope.h"

namespace dialog {

namespace {

constexpr COLORREF kFrameColour = RGB(0, 0, 0);
constexpr COLORREF kGridColour = RGB(192, 192, 192);
constexpr COLORREF kOutlineColour = RGB(0, 0, 0);
constexpr COLORREF kCellColour = RGB(138, 170, 202);
// Bitmap pixels; the shrink by 3 makes them 1, 1 and 2 pixels on screen.
constexpr int kFramePenPx = 3;
constexpr int kGridPenPx = 3;
constexpr int kOutlinePenPx = 6;

// The module this code lives in, so that the template and the logo come from
// the plug-in and not from the host program.
HMODULE pluginModule() {
    HMODULE module = nullptr;
    GetModuleHandleExA(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS |
                           GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
                       reinterpret_cast<LPCSTR>(&pluginModule), &module);
    return module;
}

HWND item(HWND dialog, int32_t id) {
    return id == kNoControl ? nullptr : GetDlgItem(dialog, id);
}

void show(HWND control, int how) {
    if (control != nullptr) ShowWindow(control, how);
}

void resetUpDown(HWND upDown) {
    if (upDown != nullptr) SendMessageA(upDown, UDM_SETPOS, 0, MAKELPARAM(0, 0));
}

BOOL CALLBACK findBitmapStatic(HWND control, LPARAM found) {
    if ((GetWindowLongA(control, GWL_STYLE) & SS_TYPEMASK) == SS_BITMAP) {
        *reinterpret_cast<HWND*>(found) = control;
        return FALSE;
    }
    return TRUE;
}

void openLink(const char* target) {
    // A failed launch is ignored: there is nobody to tell.
    ShellExecuteA(nullptr, "open", target, nullptr, nullptr, SW_SHOWNORMAL);
}

}  // namespace

SetupDialog::SetupDialog(const models::ModelDefinition& model)
    : setup_(model), layout_(layoutFor(model)) {}

void SetupDialog::fill(int32_t cellCount, const SetupCell* cells) {
    setup_.fill(cellCount, cells);
    backgroundBrush_.reset(CreateSolidBrush(kDialogBackground));
}

bool SetupDialog::run(HWND owner) {
    INITCOMMONCONTROLSEX controls{sizeof controls, ICC_UPDOWN_CLASS};
    InitCommonControlsEx(&controls);
    const INT_PTR result =
        DialogBoxParamA(pluginModule(), MAKEINTRESOURCEA(kDialogTemplateId), owner, &procedure,
                        reinterpret_cast<LPARAM>(this));
    return result == IDOK;
}

INT_PTR CALLBACK SetupDialog::procedure(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    // The modal loop runs in the host's floating-point state; the dialog's
    // own work (the preview's geometry, the angle texts) runs in ours. A link
    // clicked is opened after the scope has handed the host's state back:
    // opening it may pump messages, and the host's timers and redraws that
    // run meanwhile must see the host's control words, and keep their flags.
    const char* link = nullptr;
    const INT_PTR result = handle(window, message, wParam, lParam, link);
    if (link != nullptr) openLink(link);
    return result;
}

INT_PTR SetupDialog::handle(HWND window, UINT message, WPARAM wParam, LPARAM lParam, const char*& link) {
    plugin::ExportScope scope;
    if (message == WM_INITDIALOG) {
        auto* self = reinterpret_cast<SetupDialog*>(lParam);
        SetWindowLongPtrA(window, GWLP_USERDATA, lParam);
        self->window_ = window;
        return self->onInitDialog();
    }
    auto* self = reinterpret_cast<SetupDialog*>(GetWindowLongPtrA(window, GWLP_USERDATA));
    if (self == nullptr) return FALSE;  // messages before WM_INITDIALOG

    switch (message) {
    case WM_VSCROLL:
        return self->onVerticalScroll(wParam, reinterpret_cast<HWND>(lParam));
    case WM_PAINT:
        self->onPaint();
        return TRUE;
    case WM_ERASEBKGND:
        self->onEraseBackground(reinterpret_cast<HDC>(wParam));
        SetWindowLongPtrA(window, DWLP_MSGRESULT, TRUE);
        return TRUE;
    case WM_CTLCOLORSTATIC:
        return self->onStaticColour(reinterpret_cast<HDC>(wParam), reinterpret_cast<HWND>(lParam));
    case WM_LBUTTONDOWN:
        link = self->linkAt({GET_X_LPARAM(lParam), GET_Y_LPARAM(lParam)});
        return TRUE;
    case WM_COMMAND:
        // OK and Cancel, Enter, Escape and the close box end the dialog.
        if (LOWORD(wParam) == IDOK || LOWORD(wParam) == IDCANCEL) {
            EndDialog(window, LOWORD(wParam));
            return TRUE;
        }
        return FALSE;
    default:
        return FALSE;
    }
}

INT_PTR SetupDialog::onInitDialog() {
    countText_ = GetDlgItem(window_, kCountTextId);
    countUpDown_ = GetDlgItem(window_, kCountUpDownId);
    mailLink_ = GetDlgItem(window_, layout_.mailLinkId);
    webLink_ = GetDlgItem(window_, layout_.webLinkId);
    for (int32_t i = 0; i < models::kCellCapacity; ++i) {
        const RowControlIds& ids = layout_.rows[i];
        rows_[i] = {item(window_, ids.label),     item(window_, ids.kindText),
                    item(window_, ids.kindUpDown), item(window_, ids.splayText),
                    item(window_, ids.splayUpDown), item(window_, ids.aimText)};
    }

    // The links read as links: the dialog font, underlined.
    LOGFONTA font{};
    auto base = reinterpret_cast<HFONT>(SendMessageA(mailLink_, WM_GETFONT, 0, 0));
    if (base == nullptr || GetObjectA(base, sizeof font, &font) != sizeof font) {
        GetObjectA(GetStockObject(DEFAULT_GUI_FONT), sizeof font, &font);
    }
    font.lfUnderline = TRUE;
    linkFont_.reset(CreateFontIndirectA(&font));
    if (linkFont_) {
        SendMessageA(mailLink_, WM_SETFONT, reinterpret_cast<WPARAM>(linkFont_.get()), TRUE);
        SendMessageA(webLink_, WM_SETFONT, reinterpret_cast<WPARAM>(linkFont_.get()), TRUE);
    }

    adoptLogo();
    refresh();
    return TRUE;
}

// The bitmap static loads the logo from the template itself, but runtimes
// differ in whether the static frees that bitmap when it is destroyed (some
// leak one per opening). The dialog therefore shows its own copy, frees the
// one it takes back, and frees its copy once the static is gone.
void SetupDialog::adoptLogo() {
    HWND logoStatic = nullptr;
    EnumChildWindows(window_, &findBitmapStatic, reinterpret_cast<LPARAM>(&logoStatic));
    if (logoStatic == nullptr) return;
    logo_.reset(static_cast<HBITMAP>(LoadImageA(pluginModule(), MAKEINTRESOURCEA(layout_.logoBitmapId),
                                                IMAGE_BITMAP, 0, 0, LR_DEFAULTCOLOR)));
    if (!logo_) return;
    auto previous = reinterpret_cast<HBITMAP>(
        SendMessageA(logoStatic, STM_SETIMAGE, IMAGE_BITMAP, reinterpret_cast<LPARAM>(logo_.get())));
    if (previous != nullptr && previous != logo_.get()) DeleteObject(previous);
}

INT_PTR SetupDialog::onVerticalScroll(WPARAM wParam, HWND sender) {
    enum class Target { None, Count, Splay, Kind } target = Target::None;
    int32_t n = 0;
    if (sender != nullptr && sender == countUpDown_) {
        target = Target::Count;
    } else if (sender != nullptr) {
        for (int32_t i = 0; i < models::kCellCapacity && target == Target::None; ++i) {
            if (sender == rows_[i].splayUpDown) target = Target::Splay;
            else if (sender == rows_[i].kindUpDown) target = Target::Kind;
            n = i + 1;
        }
    }
    if (target == Target::None) return FALSE;
    if (LOWORD(wParam) != SB_THUMBPOSITION) return TRUE;

    const Step step = stepFromUpDownPosition(static_cast<int16_t>(HIWORD(wParam)));
    switch (target) {
    case Target::Count: setup_.stepCount(step); break;
    case Target::Splay: setup_.stepSplay(n, step); break;
    case Target::Kind: setup_.stepKind(n, step); break;
    case Target::None: break;
    }
    refresh();
    return TRUE;
}

void SetupDialog::refresh() {
    // The preview first, so it never lags behind the texts.
    const models::PixelRect& area = setup_.preview().previewRect();
    const RECT previewRect{area.left, area.top, area.right, area.bottom};
    InvalidateRect(window_, &previewRect, FALSE);
    UpdateWindow(window_);

    SetDlgItemInt(window_, kCountTextId, UINT(setup_.cellCount()), TRUE);
    resetUpDown(countUpDown_);
    for (int32_t n = 1; n <= models::kCellCapacity; ++n) showRow(n);
}

void SetupDialog::showRow(int32_t n) {
    const RowWindows& row = rows_[n - 1];
    const RowView view = setup_.row(n);
    if (!view.visible) {
        for (HWND control : {row.label, row.kindText, row.kindUpDown, row.splayText,
                             row.splayUpDown, row.aimText}) {
            show(control, SW_HIDE);
        }
        return;
    }
    SetWindowTextA(row.splayText, view.splay.text);
    resetUpDown(row.splayUpDown);
    if (view.kindName != nullptr) {
        SetWindowTextA(row.kindText, view.kindName);
        resetUpDown(row.kindUpDown);
    }
    SetWindowTextA(row.aimText, view.aim.text);
    for (HWND control : {row.label, row.kindText, row.kindUpDown, row.splayText, row.splayUpDown,
                         row.aimText}) {
        show(control, SW_SHOWNA);
    }
}

void SetupDialog::onPaint() {
    PAINTSTRUCT paint;
    HDC dc = BeginPaint(window_, &paint);
    if (dc != nullptr) drawPreview(dc);
    EndPaint(window_, &paint);
}

void SetupDialog::drawPreview(HDC dc) const {
    const ArrayPreview& preview = setup_.preview();
    const models::PreviewConstants& k = preview.constants();
    const int w = k.bitmapWidthPx;
    const int h = k.bitmapHeightPx;

    MemoryDc memory(dc);
    GdiObject<HBITMAP> bitmap(CreateCompatibleBitmap(dc, w, h));
    GdiObject<HPEN> framePen(CreatePen(PS_SOLID, kFramePenPx, kFrameColour));
    GdiObject<HPEN> gridPen(CreatePen(PS_SOLID, kGridPenPx, kGridColour));
    GdiObject<HPEN> outlinePen(CreatePen(PS_SOLID, kOutlinePenPx, kOutlineColour));
    GdiObject<HBRUSH> cellBrush(CreateSolidBrush(kCellColour));
    if (!memory || !bitmap || !framePen || !gridPen || !outlinePen || !cellBrush) return;
    HDC m = memory.get();
    // Declared after the objects, so the selections are undone before any
    // object is deleted.
    SelectionScope bitmapSlot(m, bitmap.get());
    SelectionScope penSlot(m, framePen.get());
    SelectionScope brushSlot(m, GetStockObject(WHITE_BRUSH));

    Rectangle(m, 0, 0, w, h);
    if (!preview.empty()) {
        const GridLines grid = preview.gridLines();
        penSlot.select(gridPen.get());
        for (int32_t i = 0; i < grid.verticalCount; ++i) {
            MoveToEx(m, grid.xPx[i], 0, nullptr);
            LineTo(m, grid.xPx[i], h);
        }
        for (int32_t i = 0; i < grid.horizontalCount; ++i) {
            MoveToEx(m, 0, grid.yPx[i], nullptr);
            LineTo(m, w, grid.yPx[i]);
        }
        penSlot.select(outlinePen.get());
        brushSlot.select(cellBrush.get());
        for (int32_t n = 1; n <= preview.cellCount(); ++n) {
            PixelPoint corners[4];
            preview.pixelCorners(n, corners);
            POINT points[4];
            for (int i = 0; i < 4; ++i) points[i] = {corners[i].x, corners[i].y};
            Polygon(m, points, 4);
        }
    }
    // The border once more, over the grid.
    penSlot.select(framePen.get());
    MoveToEx(m, 0, 0, nullptr);
    LineTo(m, 0, h);
    MoveToEx(m, w, 0, nullptr);
    LineTo(m, w, h);
    MoveToEx(m, 0, 0, nullptr);
    LineTo(m, w, 0);
    MoveToEx(m, 0, h, nullptr);
    LineTo(m, w, h);

    // One copy of the finished bitmap: no half-drawn preview on screen.
    SetStretchBltMode(dc, HALFTONE);
    SetBrushOrgEx(dc, 0, 0, nullptr);
    StretchBlt(dc, k.destination.x, k.destination.y, k.destination.width, k.destination.height, m,
               0, 0, w, h, SRCCOPY);
}

void SetupDialog::onEraseBackground(HDC dc) {
    RECT clip;
    if (GetClipBox(dc, &clip) == ERROR || !backgroundBrush_) return;
    SelectionScope brushSlot(dc, backgroundBrush_.get());
    PatBlt(dc, clip.left, clip.top, clip.right - clip.left, clip.bottom - clip.top, PATCOPY);
}

INT_PTR SetupDialog::onStaticColour(HDC dc, HWND control) {
    if (!backgroundBrush_) return FALSE;
    if (control == mailLink_ || control == webLink_) SetTextColor(dc, kLinkText);
    SetBkMode(dc, TRANSPARENT);
    return reinterpret_cast<INT_PTR>(backgroundBrush_.get());
}

const char* SetupDialog::linkAt(POINT clientPoint) const {
    // The link statics do not notify, so their clicks arrive as the dialog's.
    if (contains(mailLink_, clientPoint)) return kMailLinkTarget;
    if (contains(webLink_, clientPoint)) return kWebLinkTarget;
    return nullptr;
}

bool SetupDialog::contains(HWND control, POINT clientPoint) const {
    RECT r;
    if (control == nullptr || !GetWindowRect(control, &r)) return false;
    MapWindowPoints(HWND_DESKTOP, window_, reinterpret_cast<POINT*>(&r), 2);
    return PtInRect(&r, clientPoint) != FALSE;
}

}  // namespace dialog
