#include "tools/validator/child_process.h"

#include <chrono>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <thread>

#include "tools/validator/crash_note.h"

#if defined(_WIN32)
#include <windows.h>
#else
#include <csignal>
#include <sys/wait.h>
#include <unistd.h>
#endif

namespace validator {

namespace {

using Clock = std::chrono::steady_clock;

struct Running {
    size_t job;
    std::string resultPath;
    Clock::time_point started;
#if defined(_WIN32)
    HANDLE process = nullptr;
#else
    pid_t pid = -1;
#endif
};

std::string resultPathFor(size_t job) {
#if defined(_WIN32)
    const unsigned long pid = GetCurrentProcessId();
#else
    const unsigned long pid = static_cast<unsigned long>(getpid());
#endif
    const std::filesystem::path dir = std::filesystem::temp_directory_path();
    return (dir / ("validator-" + std::to_string(pid) + "-" + std::to_string(job) + ".txt")).string();
}

#if defined(_WIN32)
std::string quote(const std::string& argument) {
    if (!argument.empty() && argument.find_first_of(" \t\"") == std::string::npos) return argument;
    std::string out = "\"";
    for (char c : argument) {
        if (c == '"') out += '\\';
        out += c;
    }
    return out + "\"";
}
#endif

}  // namespace

std::string ChildJob::label() const {
    if (count == 0) return check;
    return check + "[" + std::to_string(first) + ".." + std::to_string(first + count - 1) + "]";
}

void writeResult(std::FILE* result, const Report& report) {
    const Figures& f = report.figures;
    std::fprintf(result, "figures %llu %llu %llu %llu %llu\n", static_cast<unsigned long long>(f.calls),
                 static_cast<unsigned long long>(f.cases), static_cast<unsigned long long>(f.sequences),
                 static_cast<unsigned long long>(f.blobs), static_cast<unsigned long long>(f.failures));
    for (uint64_t c : report.failedCases) std::fprintf(result, "case %llu\n", static_cast<unsigned long long>(c));
    if (report.stream == nullptr) {
        for (const std::string& line : report.failures) std::fprintf(result, "fail %s\n", line.c_str());
    }
    std::fprintf(result, "done\n");
    std::fflush(result);
}

void readResult(const std::string& path, ChildOutcome& outcome) {
    std::ifstream in(path);
    std::string line;
    while (std::getline(in, line)) {
        if (line.rfind("fail ", 0) == 0) {
            outcome.failures.push_back(line.substr(5));
        } else if (line.rfind("crash ", 0) == 0) {
            outcome.crash = line.substr(6);
        } else if (line.rfind("case ", 0) == 0) {
            outcome.failedCases.push_back(std::stoull(line.substr(5)));
        } else if (line.rfind("figures ", 0) == 0) {
            std::istringstream words(line.substr(8));
            unsigned long long calls = 0, cases = 0, sequences = 0, blobs = 0, failures = 0;
            words >> calls >> cases >> sequences >> blobs >> failures;
            outcome.figures.calls = calls;
            outcome.figures.cases = cases;
            outcome.figures.sequences = sequences;
            outcome.figures.blobs = blobs;
            outcome.figures.failures = failures;
        } else if (line == "done") {
            outcome.completed = true;
        }
    }
}

std::vector<ChildOutcome> ChildRunner::run(const std::vector<ChildJob>& jobs, int parallel, double timeoutS,
                                           const std::function<void(const ChildOutcome&)>& onDone) {
    std::vector<ChildOutcome> outcomes(jobs.size());
    std::vector<Running> running;
    size_t next = 0;
    if (parallel < 1) parallel = 1;

    auto finish = [&](const Running& r, const std::string& ending, bool ended) {
        ChildOutcome& o = outcomes[r.job];
        o.job = jobs[r.job];
        o.seconds = std::chrono::duration<double>(Clock::now() - r.started).count();
        readResult(r.resultPath, o);
        std::error_code ignored;
        std::filesystem::remove(r.resultPath, ignored);
        if (!ended || !o.completed) {
            o.completed = false;
            if (o.crash.empty()) o.crash = ending;
            else o.crash += " (" + ending + ")";
            ++o.figures.crashes;
            ++o.figures.failures;
        }
        if (onDone) onDone(o);
    };

    while (next < jobs.size() || !running.empty()) {
        while (next < jobs.size() && int(running.size()) < parallel) {
            Running r{next, resultPathFor(next), Clock::now()};
            const ChildJob& job = jobs[next];
            std::fflush(nullptr);
#if defined(_WIN32)
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
                       std::to_string(job.count) + " " + quote("--result=" + r.resultPath);
            STARTUPINFOA startup;
            std::memset(&startup, 0, sizeof startup);
            startup.cb = sizeof startup;
            PROCESS_INFORMATION info;
            std::vector<char> line(command.begin(), command.end());
            line.push_back('\0');
            if (!CreateProcessA(program.c_str(), line.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup, &info)) {
                ChildOutcome& o = outcomes[next];
                o.job = job;
                o.crash = "could not start a child process (error " + std::to_string(GetLastError()) + ")";
                ++o.figures.failures;
                ++next;
                continue;
            }
            CloseHandle(info.hThread);
            r.process = info.hProcess;
#else
            const pid_t pid = fork();
            if (pid == 0) {
                std::FILE* result = std::fopen(r.resultPath.c_str(), "w");
                const int code = result != nullptr ? body_(job, result) : 3;
                if (result != nullptr) std::fclose(result);
                std::fflush(nullptr);
                _exit(code);
            }
            if (pid < 0) {
                ChildOutcome& o = outcomes[next];
                o.job = job;
                o.crash = "could not fork a child process";
                ++o.figures.failures;
                ++next;
                continue;
            }
            r.pid = pid;
#endif
            running.push_back(r);
            ++next;
        }

        bool any = false;
        for (size_t i = 0; i < running.size();) {
            Running& r = running[i];
            const double elapsed = std::chrono::duration<double>(Clock::now() - r.started).count();
            bool ended = false;
            std::string ending;
#if defined(_WIN32)
            if (WaitForSingleObject(r.process, 0) == WAIT_OBJECT_0) {
                DWORD code = 0;
                GetExitCodeProcess(r.process, &code);
                ended = true;
                char text[48];
                std::snprintf(text, sizeof text, "exit code 0x%08lx", static_cast<unsigned long>(code));
                ending = code == 0 ? "" : text;
                if (code != 0) ended = false;  // reported as a crash below
                CloseHandle(r.process);
                finish(r, ending.empty() ? "ended early" : ending, code == 0);
                running.erase(running.begin() + long(i));
                any = true;
                continue;
            }
            if (elapsed > timeoutS) {
                TerminateProcess(r.process, 1);
                WaitForSingleObject(r.process, INFINITE);
                CloseHandle(r.process);
                finish(r, "hung: ended after " + std::to_string(int(timeoutS)) + " s", false);
                running.erase(running.begin() + long(i));
                any = true;
                continue;
            }
#else
            int status = 0;
            const pid_t done = waitpid(r.pid, &status, WNOHANG);
            if (done == r.pid) {
                if (WIFSIGNALED(status)) {
                    ending = "killed by signal " + std::to_string(WTERMSIG(status));
                } else if (WEXITSTATUS(status) != 0) {
                    ending = "exit status " + std::to_string(WEXITSTATUS(status));
                }
                ended = ending.empty();
                finish(r, ended ? "ended early" : ending, ended);
                running.erase(running.begin() + long(i));
                any = true;
                continue;
            }
            if (elapsed > timeoutS) {
                kill(r.pid, SIGKILL);
                waitpid(r.pid, &status, 0);
                finish(r, "hung: ended after " + std::to_string(int(timeoutS)) + " s", false);
                running.erase(running.begin() + long(i));
                any = true;
                continue;
            }
#endif
            (void)ended;
            ++i;
        }
        if (!any) std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    return outcomes;
}

}  // namespace validator
