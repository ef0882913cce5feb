// Small owners for GDI objects, so that every object the dialog creates is
// released on every path out of the function that made it.
#pragma once

#include <windows.h>

namespace dialog {

// Deletes the pen, brush, font or bitmap it holds. The object must no longer
// be selected into a device context by then (see SelectionScope).
template <typename Handle>
class GdiObject {
public:
    GdiObject() = default;
    explicit GdiObject(Handle handle) : handle_(handle) {}
    ~GdiObject() { reset(); }
    GdiObject(const GdiObject&) = delete;
    GdiObject& operator=(const GdiObject&) = delete;

    void reset(Handle handle = nullptr) {
        if (handle_ != nullptr) DeleteObject(handle_);
        handle_ = handle;
    }
    Handle get() const { return handle_; }
    explicit operator bool() const { return handle_ != nullptr; }

private:
    Handle handle_ = nullptr;
};

// A memory device context, deleted at the end of the scope.
class MemoryDc {
public:
    explicit MemoryDc(HDC compatibleWith) : dc_(CreateCompatibleDC(compatibleWith)) {}
    ~MemoryDc() {
        if (dc_ != nullptr) DeleteDC(dc_);
    }
    MemoryDc(const MemoryDc&) = delete;
    MemoryDc& operator=(const MemoryDc&) = delete;

    HDC get() const { return dc_; }
    explicit operator bool() const { return dc_ != nullptr; }

private:
    HDC dc_;
};

// One selection slot (pen, brush or bitmap) of a device context: remembers
// what was selected before the first select and puts it back at the end of
// the scope, whatever was selected in between.
class SelectionScope {
public:
    SelectionScope(HDC dc, HGDIOBJ first) : dc_(dc), original_(SelectObject(dc, first)) {}
    ~SelectionScope() {
        if (original_ != nullptr && original_ != HGDI_ERROR) SelectObject(dc_, original_);
    }
    SelectionScope(const SelectionScope&) = delete;
    SelectionScope& operator=(const SelectionScope&) = delete;

    void select(HGDIOBJ object) { SelectObject(dc_, object); }

private:
    HDC dc_;
    HGDIOBJ original_;
};

}  // namespace dialog
