// Children on Windows: no fork, so a child is this very program started
// again with the parent's options and the job's internal --child, --first,
// --count and --result options (see main.cpp).
#include "tools/validator/child_process.h"

#include <cstring>

#include <windows.h>

namespace validator {

namespace {

// One argument as the C runtime splits the command line again.
std::string quote(const std::string& argument) {
    if (!argument.empty() && argument.find_first_of(" \t\"") == std::string::npos) return argument;
    std::string out = "\"";
    for (char c : argument) {
        if (c == '"') out += '\\';
        out += c;
    }
    return out + "\"";
}

HANDLE handleOf(const ChildProcess& child) { return reinterpret_cast<HANDLE>(child.id); }

}  // namespace

unsigned long thisProcessId() { return GetCurrentProcessId(); }

bool ChildRunner::start(const ChildJob& job, const std::string& resultPath, ChildProcess& child, std::string& error) const {
    // This very program, whatever path it was started by.
    char self[MAX_PATH] = {};
    GetModuleFileNameA(nullptr, self, MAX_PATH);
    const std::string program = program_.empty() ? std::string(self) : program_;
    std::string command = quote(program);
    for (const std::string& a : arguments_) {
        command += ' ';
        command += quote(a);
    }
    command += " --child=" + job.check + " --first=" + std::to_string(job.first) + " --count=" +
               std::to_string(job.count) + " " + quote("--result=" + resultPath);
    STARTUPINFOA startup;
    std::memset(&startup, 0, sizeof startup);
    startup.cb = sizeof startup;
    PROCESS_INFORMATION info;
    std::vector<char> line(command.begin(), command.end());
    line.push_back('\0');
    if (!CreateProcessA(program.c_str(), line.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup, &info)) {
        error = "could not start a child process (error " + std::to_string(GetLastError()) + ")";
        return false;
    }
    CloseHandle(info.hThread);
    child.id = reinterpret_cast<intptr_t>(info.hProcess);
    return true;
}

std::optional<std::string> childEnding(ChildProcess& child) {
    if (WaitForSingleObject(handleOf(child), 0) != WAIT_OBJECT_0) return std::nullopt;
    DWORD code = 0;
    GetExitCodeProcess(handleOf(child), &code);
    CloseHandle(handleOf(child));
    if (code == 0) return std::string();
    char text[48];
    std::snprintf(text, sizeof text, "exit code 0x%08lx", static_cast<unsigned long>(code));
    return std::string(text);
}

void endChild(ChildProcess& child) {
    TerminateProcess(handleOf(child), 1);
    WaitForSingleObject(handleOf(child), INFINITE);
    CloseHandle(handleOf(child));
}

}  // namespace validator
