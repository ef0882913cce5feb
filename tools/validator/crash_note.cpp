#include "tools/validator/crash_note.h"

#include <cstring>

#if defined(_WIN32)
#include <io.h>
#include <windows.h>
#else
#include <csignal>
#include <unistd.h>
#endif

namespace validator {

namespace {

CrashNote gNote;

// Appends text; no allocation, no locale, usable in a signal handler.
void append(char* out, size_t size, size_t& used, const char* text) {
    while (*text != '\0' && used + 1 < size) out[used++] = *text++;
    out[used] = '\0';
}

void appendNumber(char* out, size_t size, size_t& used, uint64_t value, int base = 10) {
    char digits[24];
    int n = 0;
    do {
        const int d = int(value % uint64_t(base));
        digits[n++] = char(d < 10 ? '0' + d : 'a' + d - 10);
        value /= uint64_t(base);
    } while (value != 0 && n < 23);
    char text[24];
    for (int i = 0; i < n; ++i) text[i] = digits[n - 1 - i];
    text[n] = '\0';
    append(out, size, used, text);
}

#if defined(_WIN32)
HANDLE gNoteFile = INVALID_HANDLE_VALUE;

LONG WINAPI onUnhandledException(EXCEPTION_POINTERS* info) {
    char what[32];
    size_t used = 0;
    what[0] = '\0';
    append(what, sizeof what, used, "exception 0x");
    appendNumber(what, sizeof what, used, info->ExceptionRecord->ExceptionCode, 16);
    char line[512];
    gNote.format(line, sizeof line, what);
    DWORD written = 0;
    if (gNoteFile != INVALID_HANDLE_VALUE) WriteFile(gNoteFile, line, DWORD(std::strlen(line)), &written, nullptr);
    return EXCEPTION_EXECUTE_HANDLER;  // end the process with the exception code, no debugger
}
#else
int gNoteFd = -1;
struct sigaction gPrevious[32];
const int kSignals[] = {SIGSEGV, SIGBUS, SIGFPE, SIGILL, SIGABRT};

void onSignal(int signal) {
    char what[32];
    size_t used = 0;
    what[0] = '\0';
    append(what, sizeof what, used, "signal ");
    appendNumber(what, sizeof what, used, uint64_t(signal));
    char line[512];
    gNote.format(line, sizeof line, what);
    if (gNoteFd >= 0) {
        const ssize_t ignored = write(gNoteFd, line, std::strlen(line));
        (void)ignored;
    }
    // The previous handler (the default, or a sanitizer's) takes over: a
    // fault repeats when the instruction runs again, abort raises again.
    sigaction(signal, &gPrevious[signal], nullptr);
    if (signal == SIGABRT || signal == SIGFPE) raise(signal);
}
#endif

}  // namespace

CrashNote& crashNote() { return gNote; }

void CrashNote::format(char* out, size_t size, const char* what) const {
    size_t used = 0;
    out[0] = '\0';
    append(out, size, used, "crash ");
    append(out, size, used, what);
    append(out, size, used, " in ");
    append(out, size, used, export_);
    append(out, size, used, " during ");
    append(out, size, used, check_);
    append(out, size, used, " case ");
    appendNumber(out, size, used, case_);
    append(out, size, used, "\n");
}

void CrashNote::installHandlers(std::FILE* file) {
    std::fflush(file);
#if defined(_WIN32)
    gNoteFile = reinterpret_cast<HANDLE>(_get_osfhandle(_fileno(file)));
    SetErrorMode(SEM_FAILCRITICALERRORS | SEM_NOGPFAULTERRORBOX | SEM_NOOPENFILEERRORBOX);
    SetUnhandledExceptionFilter(onUnhandledException);
#else
    gNoteFd = fileno(file);
    for (int signal : kSignals) {
        struct sigaction action;
        std::memset(&action, 0, sizeof action);
        action.sa_handler = onSignal;
        sigemptyset(&action.sa_mask);
        sigaction(signal, &action, &gPrevious[signal]);
    }
#endif
}

}  // namespace validator
