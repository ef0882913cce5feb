// Children on POSIX systems: a fork of this process runs the check's body,
// so the plug-in is already loaded the way the parent set it up.
#include "tools/validator/child_process.h"

#include <csignal>
#include <sys/wait.h>
#include <unistd.h>

namespace validator {

unsigned long thisProcessId() { return static_cast<unsigned long>(getpid()); }

bool ChildRunner::start(const ChildJob& job, const std::string& resultPath, ChildProcess& child, std::string& error) const {
    const pid_t pid = fork();
    if (pid == 0) {
        std::FILE* result = std::fopen(resultPath.c_str(), "w");
        const int code = result != nullptr ? body_(job, result) : 3;
        if (result != nullptr) std::fclose(result);
        std::fflush(nullptr);
        _exit(code);  // no exit handlers or destructors of the parent's state
    }
    if (pid < 0) {
        error = "could not fork a child process";
        return false;
    }
    child.id = pid;
    return true;
}

std::optional<std::string> childEnding(ChildProcess& child) {
    int status = 0;
    if (waitpid(pid_t(child.id), &status, WNOHANG) != pid_t(child.id)) return std::nullopt;
    if (WIFSIGNALED(status)) return "killed by signal " + std::to_string(WTERMSIG(status));
    if (WEXITSTATUS(status) != 0) return "exit status " + std::to_string(WEXITSTATUS(status));
    return std::string();
}

void endChild(ChildProcess& child) {
    int status = 0;
    kill(pid_t(child.id), SIGKILL);
    waitpid(pid_t(child.id), &status, 0);
}

}  // namespace validator
