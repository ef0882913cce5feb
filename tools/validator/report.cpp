#include "tools/validator/report.h"

#include <cstdio>
#include <cstring>

#include "tools/validator/crash_note.h"

namespace validator {

Figures& Figures::operator+=(const Figures& o) {
    calls += o.calls;
    cases += o.cases;
    sequences += o.sequences;
    blobs += o.blobs;
    failures += o.failures;
    crashes += o.crashes;
    return *this;
}

void Report::enterCase(uint64_t index, const std::string& what, bool counted) {
    caseIndex_ = index;
    caseWhat_ = what;
    callsAtCaseStart_ = figures.calls;
    if (counted) ++figures.cases;
    crashNote().setCase(check_.c_str(), index);
}

void Report::fail(const std::string& message) {
    ++figures.failures;
    if (failedCases.empty() || failedCases.back() != caseIndex_) failedCases.push_back(caseIndex_);
    std::string line = check_ + " case " + std::to_string(caseIndex_);
    if (!caseWhat_.empty()) line += " (" + caseWhat_ + ")";
    line += ": " + message;
    if (echo) std::printf("FAIL %s\n", line.c_str());
    if (stream != nullptr) {
        std::fprintf(stream, "fail %s\n", line.c_str());
        std::fflush(stream);
    }
    if (failures.size() < kFailuresKept) failures.push_back(std::move(line));
}

std::string hexFloat(float value) {
    uint32_t bits;
    std::memcpy(&bits, &value, 4);
    char text[64];
    std::snprintf(text, sizeof text, "%.9g [0x%08x]", double(value), unsigned(bits));
    return text;
}

std::string describeBytes(const unsigned char* bytes, size_t count, size_t limit) {
    std::string out;
    char hex[4];
    for (size_t i = 0; i < count && i < limit; ++i) {
        std::snprintf(hex, sizeof hex, "%02x", bytes[i]);
        if (i > 0) out += (i % 4 == 0) ? " " : "";
        out += hex;
    }
    if (count > limit) out += " ...";
    return out + " (" + std::to_string(count) + " bytes)";
}

}  // namespace validator
