// Drives the plug-in's modal setup dialog as a person would: the host thread
// sits in IP_ShowDialog while a second thread finds the dialog, clicks its
// arrows with real mouse input, reads the controls, looks at the pixels on
// screen and ends it with OK or Cancel. Every wait is bounded.
#pragma once

#include <windows.h>

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "tools/host/plugin_library.h"

namespace dialog_test {

// The window as it was on screen, 32-bit pixels top-down.
struct ScreenCapture {
    int width = 0;
    int height = 0;
    POINT clientOrigin{};  // of the dialog's client area within the capture
    std::vector<uint32_t> pixels;  // 0x00RRGGBB

    COLORREF at(int x, int y) const;
    // Pixels inside a rectangle of dialog client coordinates that satisfy
    // `match`.
    int count(const RECT& client, const std::function<bool(COLORREF)>& match) const;
    bool writeBmp(const std::string& path) const;
};

bool closeColour(COLORREF a, COLORREF b, int tolerance);

class DialogDriver {
public:
    DialogDriver(HWND dialog, std::vector<std::string>& failures) : dialog_(dialog), failures_(failures) {}

    HWND dialog() const { return dialog_; }
    HWND control(int id) const { return GetDlgItem(dialog_, id); }
    std::string text(int id) const;
    bool visible(int id) const;

    // Real mouse input at screen coordinates on the up or down arrow of an
    // up-down control.
    void clickArrow(int upDownId, bool up);
    // A real click in the middle of a button.
    void clickButton(int id);
    // What an arrow click sends, without the mouse: for the cases where
    // reaching the screen position adds nothing.
    void scrollArrow(int upDownId, bool up);

    // Polls until `text(id)` reads `expected`; records a failure otherwise.
    bool waitForText(int id, const std::string& expected, int timeoutMs = 5000);
    bool waitUntil(const std::function<bool()>& condition, int timeoutMs);

    // Whether the control's text, in the control's font, fits inside it:
    // one line for statics that do not wrap, otherwise wrapped to its width.
    bool textFits(int id, std::string& why) const;

    ScreenCapture capture() const;
    // Captures until `condition` holds on a capture or the time is up; the
    // screen follows the window's paint with a short lag.
    ScreenCapture captureUntil(const std::function<bool(const ScreenCapture&)>& condition,
                               int timeoutMs) const;

    void check(bool condition, const std::string& what);
    // Ends the dialog as the platform's Cancel does, if it is still open.
    void cancel();

private:
    void clickAt(POINT screen);

    HWND dialog_;
    std::vector<std::string>& failures_;
};

struct SessionResult {
    bool dialogFound = false;
    int32_t returned = -99;
    std::vector<std::string> failures;
};

// Calls IP_ShowDialog on this thread while `script` drives the dialog titled
// `title` from another. The dialog is cancelled if the script leaves it open,
// and every window of this thread is closed if the dialog never appears.
SessionResult runDialog(const host::PluginLibrary& plugin, const std::string& title,
                        const std::function<void(DialogDriver&)>& script);

// GDI objects the process holds: from GetGuiResources where the runtime
// implements it, otherwise from the runtime's own per-process handle table if
// it has the layout we know; -1 when neither is available. `source` says which.
int32_t gdiObjectCount(std::string& source);

}  // namespace dialog_test
