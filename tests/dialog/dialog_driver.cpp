#include "tests/dialog/dialog_driver.h"

#include <winternl.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <thread>

namespace dialog_test {

namespace {

using Clock = std::chrono::steady_clock;

constexpr int kFindDialogTimeoutMs = 20000;
constexpr int kPollMs = 20;

struct FindState {
    std::string title;
    HWND found = nullptr;
};

BOOL CALLBACK findVisibleDialog(HWND window, LPARAM param) {
    auto* state = reinterpret_cast<FindState*>(param);
    char className[64] = {};
    char title[256] = {};
    GetClassNameA(window, className, sizeof className);
    GetWindowTextA(window, title, sizeof title);
    if (std::strcmp(className, "#32770") == 0 && state->title == title && IsWindowVisible(window)) {
        state->found = window;
        return FALSE;
    }
    return TRUE;
}

BOOL CALLBACK closeWindow(HWND window, LPARAM) {
    PostMessageA(window, WM_CLOSE, 0, 0);
    return TRUE;
}

HWND waitForDialog(DWORD thread, const std::string& title) {
    const auto end = Clock::now() + std::chrono::milliseconds(kFindDialogTimeoutMs);
    while (Clock::now() < end) {
        FindState state{title};
        EnumThreadWindows(thread, &findVisibleDialog, reinterpret_cast<LPARAM>(&state));
        if (state.found != nullptr) return state.found;
        std::this_thread::sleep_for(std::chrono::milliseconds(kPollMs));
    }
    return nullptr;
}

}  // namespace

COLORREF ScreenCapture::at(int x, int y) const {
    if (x < 0 || y < 0 || x >= width || y >= height) return CLR_INVALID;
    const uint32_t p = pixels[size_t(y) * width + x];
    return RGB((p >> 16) & 0xFF, (p >> 8) & 0xFF, p & 0xFF);
}

int ScreenCapture::count(const RECT& client, const std::function<bool(COLORREF)>& match) const {
    int n = 0;
    for (int y = client.top; y < client.bottom; ++y) {
        for (int x = client.left; x < client.right; ++x) {
            const COLORREF c = at(clientOrigin.x + x, clientOrigin.y + y);
            if (c != CLR_INVALID && match(c)) ++n;
        }
    }
    return n;
}

bool ScreenCapture::writeBmp(const std::string& path) const {
    if (width <= 0 || height <= 0) return false;
    const int rowBytes = (width * 3 + 3) / 4 * 4;
    BITMAPFILEHEADER file{};
    BITMAPINFOHEADER info{};
    file.bfType = 0x4D42;
    file.bfOffBits = sizeof file + sizeof info;
    file.bfSize = file.bfOffBits + DWORD(rowBytes) * height;
    info.biSize = sizeof info;
    info.biWidth = width;
    info.biHeight = height;
    info.biPlanes = 1;
    info.biBitCount = 24;
    info.biCompression = BI_RGB;
    std::FILE* out = std::fopen(path.c_str(), "wb");
    if (out == nullptr) return false;
    bool ok = std::fwrite(&file, sizeof file, 1, out) == 1 && std::fwrite(&info, sizeof info, 1, out) == 1;
    std::vector<unsigned char> row(size_t(rowBytes), 0);
    for (int y = height - 1; y >= 0 && ok; --y) {
        for (int x = 0; x < width; ++x) {
            const uint32_t p = pixels[size_t(y) * width + x];
            row[size_t(x) * 3 + 0] = p & 0xFF;
            row[size_t(x) * 3 + 1] = (p >> 8) & 0xFF;
            row[size_t(x) * 3 + 2] = (p >> 16) & 0xFF;
        }
        ok = std::fwrite(row.data(), row.size(), 1, out) == 1;
    }
    return std::fclose(out) == 0 && ok;
}

bool closeColour(COLORREF a, COLORREF b, int tolerance) {
    return std::abs(int(GetRValue(a)) - int(GetRValue(b))) <= tolerance &&
           std::abs(int(GetGValue(a)) - int(GetGValue(b))) <= tolerance &&
           std::abs(int(GetBValue(a)) - int(GetBValue(b))) <= tolerance;
}

std::string DialogDriver::text(int id) const {
    char buffer[512] = {};
    HWND c = control(id);
    if (c == nullptr) return "<no control " + std::to_string(id) + ">";
    GetWindowTextA(c, buffer, sizeof buffer);
    return buffer;
}

bool DialogDriver::visible(int id) const {
    HWND c = control(id);
    return c != nullptr && (GetWindowLongA(c, GWL_STYLE) & WS_VISIBLE) != 0;
}

void DialogDriver::clickAt(POINT screen) {
    // The pointer is moved first and the press sent only once it is there, so
    // that the press cannot land where the previous click left the pointer.
    const int width = GetSystemMetrics(SM_CXSCREEN);
    const int height = GetSystemMetrics(SM_CYSCREEN);
    INPUT move{};
    move.type = INPUT_MOUSE;
    move.mi.dx = MulDiv(screen.x, 65536, width) + 1;
    move.mi.dy = MulDiv(screen.y, 65536, height) + 1;
    move.mi.dwFlags = MOUSEEVENTF_MOVE | MOUSEEVENTF_ABSOLUTE;
    check(SendInput(1, &move, sizeof(INPUT)) == 1, "SendInput took the move");
    const bool arrived = waitUntil(
        [&] {
            POINT at{};
            return GetCursorPos(&at) && at.x == screen.x && at.y == screen.y;
        },
        2000);
    check(arrived, "the pointer reached " + std::to_string(screen.x) + "," + std::to_string(screen.y));
    INPUT press[2] = {};
    for (INPUT& in : press) in.type = INPUT_MOUSE;
    press[0].mi.dwFlags = MOUSEEVENTF_LEFTDOWN;
    press[1].mi.dwFlags = MOUSEEVENTF_LEFTUP;
    check(SendInput(2, press, sizeof(INPUT)) == 2, "SendInput took the click");
}

void DialogDriver::clickArrow(int upDownId, bool up) {
    RECT r{};
    HWND c = control(upDownId);
    check(c != nullptr && IsWindowVisible(c), "up-down " + std::to_string(upDownId) + " is shown");
    GetWindowRect(c, &r);
    const int quarter = (r.bottom - r.top) / 4;
    clickAt({(r.left + r.right) / 2, up ? r.top + quarter : r.bottom - 1 - quarter});
}

void DialogDriver::clickButton(int id) {
    RECT r{};
    GetWindowRect(control(id), &r);
    clickAt({(r.left + r.right) / 2, (r.top + r.bottom) / 2});
}

void DialogDriver::scrollArrow(int upDownId, bool up) {
    // Every refresh leaves the up-downs at 0 in their default range: the up
    // arrow cannot move below 0 and reports 0, the down arrow reports 1.
    SendMessageA(dialog_, WM_VSCROLL, MAKEWPARAM(SB_THUMBPOSITION, up ? 0 : 1),
                 reinterpret_cast<LPARAM>(control(upDownId)));
}

bool DialogDriver::waitUntil(const std::function<bool()>& condition, int timeoutMs) {
    const auto end = Clock::now() + std::chrono::milliseconds(timeoutMs);
    while (!condition()) {
        if (Clock::now() >= end) return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(kPollMs));
    }
    return true;
}

bool DialogDriver::waitForText(int id, const std::string& expected, int timeoutMs) {
    if (waitUntil([&] { return text(id) == expected; }, timeoutMs)) return true;
    check(false, "control " + std::to_string(id) + " reads \"" + text(id) + "\", expected \"" +
                     expected + "\"");
    return false;
}

bool DialogDriver::textFits(int id, std::string& why) const {
    HWND c = control(id);
    const std::string content = text(id);
    RECT client{};
    GetClientRect(c, &client);
    HDC dc = GetDC(c);
    auto font = reinterpret_cast<HFONT>(SendMessageA(c, WM_GETFONT, 0, 0));
    HGDIOBJ previous = SelectObject(dc, font != nullptr ? font : GetStockObject(SYSTEM_FONT));
    const LONG style = GetWindowLongA(c, GWL_STYLE);
    const bool wraps = (style & SS_TYPEMASK) != SS_LEFTNOWORDWRAP;
    RECT needed{0, 0, client.right, 0};
    DrawTextA(dc, content.c_str(), -1, &needed,
              DT_CALCRECT | DT_EXPANDTABS | (wraps ? DT_WORDBREAK : DT_SINGLELINE));
    SelectObject(dc, previous);
    ReleaseDC(c, dc);
    why = "\"" + content + "\" needs " + std::to_string(needed.right) + "x" + std::to_string(needed.bottom) +
          " px, control " + std::to_string(id) + " has " + std::to_string(client.right) + "x" +
          std::to_string(client.bottom);
    return needed.right <= client.right && needed.bottom <= client.bottom;
}

ScreenCapture DialogDriver::capture() const {
    ScreenCapture shot;
    RECT window{};
    GetWindowRect(dialog_, &window);
    POINT client{0, 0};
    ClientToScreen(dialog_, &client);
    shot.width = window.right - window.left;
    shot.height = window.bottom - window.top;
    shot.clientOrigin = {client.x - window.left, client.y - window.top};
    if (shot.width <= 0 || shot.height <= 0) return shot;

    BITMAPINFO info{};
    info.bmiHeader.biSize = sizeof info.bmiHeader;
    info.bmiHeader.biWidth = shot.width;
    info.bmiHeader.biHeight = -shot.height;  // top-down
    info.bmiHeader.biPlanes = 1;
    info.bmiHeader.biBitCount = 32;
    info.bmiHeader.biCompression = BI_RGB;
    HDC screen = GetDC(nullptr);
    HDC memory = CreateCompatibleDC(screen);
    void* bits = nullptr;
    HBITMAP dib = CreateDIBSection(screen, &info, DIB_RGB_COLORS, &bits, nullptr, 0);
    if (memory != nullptr && dib != nullptr) {
        HGDIOBJ previous = SelectObject(memory, dib);
        BitBlt(memory, 0, 0, shot.width, shot.height, screen, window.left, window.top, SRCCOPY);
        GdiFlush();
        const auto* p = static_cast<const uint32_t*>(bits);
        shot.pixels.assign(p, p + size_t(shot.width) * shot.height);
        SelectObject(memory, previous);
    }
    if (dib != nullptr) DeleteObject(dib);
    if (memory != nullptr) DeleteDC(memory);
    ReleaseDC(nullptr, screen);
    if (shot.pixels.empty()) shot.width = shot.height = 0;
    return shot;
}

ScreenCapture DialogDriver::captureUntil(const std::function<bool(const ScreenCapture&)>& condition,
                                         int timeoutMs) const {
    const auto end = Clock::now() + std::chrono::milliseconds(timeoutMs);
    ScreenCapture shot = capture();
    while (!condition(shot) && Clock::now() < end) {
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
        shot = capture();
    }
    return shot;
}

void DialogDriver::check(bool condition, const std::string& what) {
    if (!condition) failures_.push_back(what);
}

void DialogDriver::cancel() {
    if (IsWindow(dialog_)) SendMessageA(dialog_, WM_COMMAND, IDCANCEL, 0);
}

SessionResult runDialog(const host::PluginLibrary& plugin, const std::string& title,
                        const std::function<void(DialogDriver&)>& script) {
    SessionResult result;
    const DWORD hostThread = GetCurrentThreadId();
    std::thread driver([&] {
        HWND dialog = waitForDialog(hostThread, title);
        if (dialog == nullptr) {
            result.failures.push_back("no visible dialog titled \"" + title + "\" within " +
                                      std::to_string(kFindDialogTimeoutMs / 1000) + " s");
            EnumThreadWindows(hostThread, &closeWindow, 0);
            return;
        }
        result.dialogFound = true;
        DialogDriver d(dialog, result.failures);
        script(d);
        if (IsWindow(dialog)) {
            // Let an OK or Cancel click that is on its way arrive first.
            if (!d.waitUntil([&] { return !IsWindow(dialog); }, 5000)) {
                result.failures.push_back("the script left the dialog open");
                d.cancel();
            }
        }
    });
    result.returned = plugin.IP_ShowDialog(nullptr);
    driver.join();
    return result;
}

namespace {

// The per-process GDI handle table that this runtime maps into every process
// (found through the process environment block): 24-byte entries with the
// object's type in byte 14, zero for a free entry. Trusted only after a brush
// made for the purpose is found in it with the type its handle names.
constexpr size_t kWineEntryBytes = 24;
constexpr size_t kWineTypeOffset = 14;
// The table's pointer in the process environment block.
#if defined(__i386__)
constexpr size_t kPebGdiTableOffset = 0x94;
#elif defined(__x86_64__)
constexpr size_t kPebGdiTableOffset = 0xF8;
#endif

const unsigned char* gdiHandleTable(size_t& entries) {
#if defined(__i386__) || defined(__x86_64__)
    // The thread block's own pointer to the process environment block, read
    // from the segment that holds the thread block (NtCurrentTeb's inline
    // segment read trips a false -Warray-bounds in GCC 12).
    const unsigned char* peb = nullptr;
#if defined(__i386__)
    __asm__("movl %%fs:0x30, %0" : "=r"(peb));
#else
    __asm__("movq %%gs:0x60, %0" : "=r"(peb));
#endif
    const unsigned char* table = nullptr;
    std::memcpy(&table, peb + kPebGdiTableOffset, sizeof table);
    if (table == nullptr) return nullptr;
    MEMORY_BASIC_INFORMATION region{};
    if (VirtualQuery(table, &region, sizeof region) == 0 || region.State != MEM_COMMIT) return nullptr;
    entries = (reinterpret_cast<const unsigned char*>(region.BaseAddress) + region.RegionSize - table) /
              kWineEntryBytes;
    HBRUSH probe = CreateSolidBrush(RGB(1, 2, 3));
    const uintptr_t handle = reinterpret_cast<uintptr_t>(probe);
    const size_t index = handle & 0xFFFF;
    const bool layoutKnown = index < entries && table[index * kWineEntryBytes + kWineTypeOffset] ==
                                                    ((handle >> 16) & 0x7F);
    DeleteObject(probe);
    return layoutKnown ? table : nullptr;
#else
    entries = 0;
    return nullptr;
#endif
}

}  // namespace

int32_t gdiObjectCount(std::string& source) {
    SetLastError(0);
    const DWORD reported = GetGuiResources(GetCurrentProcess(), GR_GDIOBJECTS);
    if (reported != 0) {
        source = "GetGuiResources";
        return int32_t(reported);
    }
    const DWORD why = GetLastError();
    size_t entries = 0;
    const unsigned char* table = gdiHandleTable(entries);
    if (table == nullptr) {
        source = "none (GetGuiResources gave 0, error " + std::to_string(why) + ")";
        return -1;
    }
    int32_t live = 0;
    for (size_t i = 0; i < entries; ++i) {
        if (table[i * kWineEntryBytes + kWineTypeOffset] != 0) ++live;
    }
    source = "the runtime's GDI handle table (GetGuiResources gave 0, error " + std::to_string(why) + ")";
    return live;
}

}  // namespace dialog_test
