#include "tools/host/provenance_text.h"

#include <algorithm>
#include <cstdint>
#include <vector>

namespace host {

namespace {

constexpr char kReplacement[] = "\xEF\xBF\xBD";  // U+FFFD

// The length of the valid UTF-8 sequence at `at`, or 0.
size_t validSequence(std::string_view text, size_t at, uint32_t& codePoint) {
    const auto byte = [&](size_t i) { return uint8_t(text[at + i]); };
    const uint8_t lead = byte(0);
    size_t length = 0;
    uint32_t least = 0;
    if (lead < 0x80) {
        codePoint = lead;
        return 1;
    } else if (lead >= 0xC2 && lead <= 0xDF) {
        length = 2, codePoint = lead & 0x1F, least = 0x80;
    } else if (lead >= 0xE0 && lead <= 0xEF) {
        length = 3, codePoint = lead & 0x0F, least = 0x800;
    } else if (lead >= 0xF0 && lead <= 0xF4) {
        length = 4, codePoint = lead & 0x07, least = 0x10000;
    } else {
        return 0;
    }
    if (at + length > text.size()) return 0;
    for (size_t i = 1; i < length; ++i) {
        if ((byte(i) & 0xC0) != 0x80) return 0;
        codePoint = codePoint << 6 | (byte(i) & 0x3F);
    }
    if (codePoint < least || codePoint > 0x10FFFF || (codePoint >= 0xD800 && codePoint <= 0xDFFF)) return 0;
    return length;
}

}  // namespace

std::string sanitisedProvenanceText(std::string_view raw, size_t maxCharacters) {
    // Character by character, each as the bytes it becomes.
    std::vector<std::string> characters;
    for (size_t at = 0; at < raw.size();) {
        uint32_t codePoint = 0;
        const size_t length = validSequence(raw, at, codePoint);
        if (length == 0) {
            characters.emplace_back(kReplacement);
            ++at;
            continue;
        }
        const bool control = codePoint < 0x20 || (codePoint >= 0x7F && codePoint <= 0x9F) || codePoint == 0x2028 ||
                             codePoint == 0x2029;
        characters.emplace_back(control ? std::string(" ") : std::string(raw.substr(at, length)));
        at += length;
    }
    std::string out;
    const size_t markCharacters = 6;
    maxCharacters = std::max(maxCharacters, markCharacters);
    const bool cut = characters.size() > maxCharacters;
    const size_t kept = cut ? maxCharacters - markCharacters : characters.size();
    for (size_t i = 0; i < kept; ++i) out += characters[i];
    if (cut) out += kProvenanceCutMark;
    return out;
}

}  // namespace host
