// What the validator was doing, kept where a crash handler can read it
// without allocating: the check, the case and the export being called. When
// a check's child process dies, the handler appends this to the child's
// result file, so the parent reports where it died, not only that it did.
#pragma once

#include <cstdint>
#include <cstdio>

namespace validator {

class CrashNote {
public:
    void setCase(const char* check, uint64_t index) {
        check_ = check;
        case_ = index;
    }
    void setExport(const char* name) { export_ = name; }
    const char* exportName() const { return export_; }

    // Writes crash lines to `file` from a fault handler (SIGSEGV, SIGBUS,
    // SIGFPE, SIGILL, SIGABRT; on Windows any unhandled exception).
    void installHandlers(std::FILE* file);

    // Formats "crash <what> in <export> during <check> case <n>" into out.
    void format(char* out, size_t size, const char* what) const;

private:
    const char* check_ = "";
    uint64_t case_ = 0;
    const char* export_ = "(none)";
};

CrashNote& crashNote();

}  // namespace validator
