// What a check found: its figures and its failures, each failure tagged with
// the case that shows it, so that `--reproduce` can run that case alone.
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

namespace validator {

struct Figures {
    uint64_t calls = 0;      // export calls made
    uint64_t cases = 0;      // cases checked
    uint64_t sequences = 0;  // random call sequences run against the model
    uint64_t blobs = 0;      // setup blobs handed to IP_SetValue as cases
    uint64_t failures = 0;
    uint64_t crashes = 0;    // child processes that died or hung

    Figures& operator+=(const Figures& o);
};

class Report {
public:
    explicit Report(std::string check) : check_(std::move(check)) {}

    const std::string& check() const { return check_; }

    // The case now running, for failure messages and the crash note;
    // counted among the cases unless it only sets the scene.
    void enterCase(uint64_t index, const std::string& what, bool counted = true);
    uint64_t caseIndex() const { return caseIndex_; }
    // Export calls made since the case began.
    uint64_t callsInCase() const { return figures.calls - callsAtCaseStart_; }

    // Records a failure of the current case.
    void fail(const std::string& message);
    // Records a failure and returns false when `ok` is false.
    bool expect(bool ok, const std::string& message) {
        if (!ok) fail(message);
        return ok;
    }

    Figures figures;
    // The first failures in full; the count is in the figures.
    std::vector<std::string> failures;
    // Cases that failed, each once, in order.
    std::vector<uint64_t> failedCases;

    // When set, failures are also printed as they happen (for --reproduce).
    bool echo = false;
    // When set, each failure is also written here at once as a "fail" line,
    // so that failures seen before a crash reach the parent.
    std::FILE* stream = nullptr;

private:
    std::string check_;
    uint64_t caseIndex_ = 0;
    uint64_t callsAtCaseStart_ = 0;
    std::string caseWhat_;
};

inline constexpr size_t kFailuresKept = 40;

// Formatting helpers for messages.
std::string hexFloat(float value);  // the value and its bits
std::string describeBytes(const unsigned char* bytes, size_t count, size_t limit = 48);

}  // namespace validator
