// Text a measurement file carries about itself (its title, its maker, its
// licence), made safe to copy into what we ship: the import's record, the
// plug-in's provenance line, the release's notices. The build applies the
// same rule again to whatever a data folder holds (cmake/ProvenanceText.cmake).
//
// - Valid UTF-8 stays as it is; each byte that is not part of a valid
//   sequence (overlong forms and surrogates included) becomes U+FFFD.
// - Control characters (C0, DEL, C1) and the line and paragraph separators
//   become a space: the text is one line.
// - A text of more than `maxCharacters` characters (kMaxProvenanceCharacters
//   for one attribute) keeps its first maxCharacters - 6 and ends in the
//   mark "…[cut]", so that it is exactly maxCharacters long (and unchanged
//   when sanitised again).
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace host {

inline constexpr size_t kMaxProvenanceCharacters = 240;
inline constexpr char kProvenanceCutMark[] = "\xE2\x80\xA6[cut]";  // "…[cut]", 6 characters

std::string sanitisedProvenanceText(std::string_view raw, size_t maxCharacters = kMaxProvenanceCharacters);

}  // namespace host
