// The rule every text a measurement file carries about itself passes before
// it is copied into what we ship: names in any script survive byte for byte,
// nothing else can break a line or hide in it, and a cut is marked.
#include <gtest/gtest.h>

#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <map>
#include <random>
#include <string>
#include <vector>

#include "tools/host/provenance_text.h"

namespace {

using host::kMaxProvenanceCharacters;
using host::sanitisedProvenanceText;

const std::string kFffd = "\xEF\xBF\xBD";

size_t characterCount(const std::string& utf8) {
    size_t n = 0;
    for (unsigned char c : utf8) n += (c & 0xC0) != 0x80;
    return n;
}

TEST(ProvenanceText, NamesInAnyScriptAreKeptByteForByte) {
    for (const std::string name : {"Müller Lab", "Universität Ångström", "東京音響研究所", "Łódź ☃ 𝄞 lab",
                                   "plain ASCII, with 'quotes' and \"more\" $ { } ; [ ] \\ @VAR@"})
        EXPECT_EQ(sanitisedProvenanceText(name), name);
}

TEST(ProvenanceText, EveryByteOutsideAValidSequenceBecomesOneReplacementCharacter) {
    EXPECT_EQ(sanitisedProvenanceText("M\xFCller"), "M" + kFffd + "ller");            // Latin-1
    EXPECT_EQ(sanitisedProvenanceText("a\xC0\xAF" "b"), "a" + kFffd + kFffd + "b");     // overlong '/'
    EXPECT_EQ(sanitisedProvenanceText("\xED\xA0\x80"), kFffd + kFffd + kFffd);         // a surrogate
    EXPECT_EQ(sanitisedProvenanceText("\xF4\x90\x80\x80"), kFffd + kFffd + kFffd + kFffd);  // above U+10FFFF
    EXPECT_EQ(sanitisedProvenanceText("end\xE2\x82"), "end" + kFffd + kFffd);          // cut short
    EXPECT_EQ(sanitisedProvenanceText("\xE2\x82" "A"), kFffd + kFffd + "A");             // continuation missing
    EXPECT_EQ(sanitisedProvenanceText("\xF5\x80\xFF"), kFffd + kFffd + kFffd);
}

TEST(ProvenanceText, ControlCharactersAndLineBreaksBecomeSpaces) {
    const std::string title = std::string("X\x01License: CC0-fake\nFile: evil\r\tA") + std::string(1, '\0') +
                              "B\x7F" "C\xC2\x85" "D\xC2\x9F" "E\xE2\x80\xA8" "F\xE2\x80\xA9" "G\x1B[31m";
    EXPECT_EQ(sanitisedProvenanceText(title), "X License: CC0-fake File: evil  A B C D E F G [31m");
    // U+00A0 and U+0085's neighbours are text, not control.
    EXPECT_EQ(sanitisedProvenanceText("a\xC2\xA0" "b\xC2\xA1"), "a\xC2\xA0" "b\xC2\xA1");
}

TEST(ProvenanceText, ALongTextIsCutAtACharacterAndTheCutIsMarked) {
    std::string title;
    for (int i = 0; i < 2000; ++i) title += (i % 2) ? "Ü" : "x";
    const std::string cut = sanitisedProvenanceText(title);
    EXPECT_EQ(characterCount(cut), kMaxProvenanceCharacters);
    EXPECT_EQ(cut, title.substr(0, 117 * 3) + "\xE2\x80\xA6[cut]");  // 234 characters, 117 of them two bytes
    EXPECT_EQ(sanitisedProvenanceText(cut), cut);

    const std::string exactly(kMaxProvenanceCharacters, 'a');
    EXPECT_EQ(sanitisedProvenanceText(exactly), exactly);
    EXPECT_EQ(sanitisedProvenanceText(exactly + "b"), std::string(kMaxProvenanceCharacters - 6, 'a') + "\xE2\x80\xA6[cut]");
    // A wider cap for a whole record.
    EXPECT_EQ(sanitisedProvenanceText(exactly + "b", 4096), exactly + "b");
}

// Whatever bytes come in, what comes out is one line of valid UTF-8 within
// the cap, and the rule applied again changes nothing (the build applies it
// to what the import already wrote).
TEST(ProvenanceText, AnyBytesGiveOneCappedLineThatTheRuleLeavesAlone) {
    std::mt19937 random(29);
    for (int trial = 0; trial < 2000; ++trial) {
        std::string raw(random() % 400, '\0');
        for (char& c : raw) c = char(random() % 4 == 0 ? random() % 32 : 0x80 + random() % 128);
        if (trial % 3 == 0)
            for (char& c : raw) c = char(random());
        const std::string clean = sanitisedProvenanceText(raw);
        ASSERT_LE(characterCount(clean), kMaxProvenanceCharacters);
        for (unsigned char c : clean) ASSERT_TRUE(c >= 0x20 && c != 0x7F) << int(c);
        ASSERT_EQ(sanitisedProvenanceText(clean), clean);
    }
}

// The build's reader of a data folder's record (cmake/ProvenanceText.cmake),
// run as the configure runs it, with the builder's HOME set to a marker that
// must never come out.
class BuildReader : public ::testing::Test {
protected:
    void SetUp() override {
        std::string base = ::testing::TempDir() + "provenance_record_XXXXXX";
        ASSERT_NE(mkdtemp(base.data()), nullptr);
        dir_ = base;
    }
    void TearDown() override { std::system(("rm -rf '" + dir_ + "'").c_str()); }

    static std::string fileText(const std::string& path) {
        std::ifstream in(path, std::ios::binary);
        return std::string((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    }
    static std::string fromHex(const std::string& hex) {
        std::string bytes;
        for (size_t i = 0; i + 1 < hex.size(); i += 2) bytes += char(std::stoi(hex.substr(i, 2), nullptr, 16));
        return bytes;
    }

    // The keys and values the reader took from `record`, in order, and
    // whether it refused the file; `log` gets what CMake printed.
    bool read(const std::string& record, std::vector<std::pair<std::string, std::string>>& values, std::string& log) {
        const std::string in = dir_ + "/ktr.source.txt", out = dir_ + "/read.txt", logPath = dir_ + "/read.log";
        std::ofstream(in, std::ios::binary) << record;
        std::remove(out.c_str());
        const int status = std::system(("HOME=" + std::string(kHomeMarker) + " '" CMAKE_EXE "' -D SOURCE_DIR='" PROJECT_SOURCE
                                        "' -D RECORD='" + in + "' -D OUT='" + out + "' -P '" PROJECT_SOURCE
                                        "/tools/balloon/tests/read_record.cmake' > '" + logPath + "' 2>&1")
                                           .c_str());
        log = fileText(logPath);
        values.clear();
        std::string text = fileText(out);
        for (size_t at = 0; at < text.size();) {
            const size_t end = text.find('\n', at), equals = text.find('=', at);
            values.emplace_back(text.substr(at, equals - at), fromHex(text.substr(equals + 1, end - equals - 1)));
            at = end + 1;
        }
        return status == 0;
    }
    std::map<std::string, std::string> readMap(const std::string& record) {
        std::vector<std::pair<std::string, std::string>> values;
        std::string log;
        EXPECT_TRUE(read(record, values, log)) << log;
        EXPECT_EQ(log.find(kHomeMarker), std::string::npos) << log;
        std::map<std::string, std::string> map;
        for (const auto& [key, value] : values) map.emplace(key, value);
        return map;
    }

    static constexpr char kHomeMarker[] = "/home/leak-marker-7f3a";
    std::string dir_;
};

// One case per kind of hostile text a record's value may hold: each is read
// as inert text, no other key appears, and the reader never fails.
TEST_F(BuildReader, HostileTextIsReadAsInertTextAndMakesNoKeyOfItsOwn) {
    struct Case {
        const char* what;
        std::string value, expected;
    };
    const std::vector<Case> cases = {
        {"control characters", "A\x01" "B\x1B[31mC\x7F\xC2\x85" "D\t\r", "A B [31mC  D "},
        {"a licence forged after a control character", "X\x01License: CC0-fake", "X License: CC0-fake"},
        {"a file forged after a carriage return", "c\rFile: evil.sofa", "c File: evil.sofa"},
        {"the environment", "$ENV{HOME}", "$ENV{HOME}"},
        {"a variable", "${CMAKE_COMMAND} @PROJECT_SOURCE_DIR@ ${SOURCE_DIR}", "${CMAKE_COMMAND} @PROJECT_SOURCE_DIR@ ${SOURCE_DIR}"},
        {"an unterminated variable", "${x", "${x"},
        {"semicolons", "a;b;;c\\;", "a;b;;c\\;"},
        {"brackets", "a[b ]] [=[ x ]=] [[", "a[b ]] [=[ x ]=] [["},
        {"a zero byte", std::string("A\0B", 3), "A B"},
        {"invalid UTF-8", "M\xFCller \xC0\xAF", "M\xEF\xBF\xBDller \xEF\xBF\xBD\xEF\xBF\xBD"},
        {"a backslash at the end", "C:\\data\\", "C:\\data\\"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        const auto map = readMap("# ktr.f32: imported by balloon import-sofa\nTitle: " + c.value +
                                 "\nOrganization: Lab\nLicense: CC-BY-4.0\nFile: real.sofa\n");
        ASSERT_EQ(map.size(), 5u);  // four keys and the notice
        EXPECT_EQ(map.at("Title"), c.expected);
        EXPECT_EQ(map.at("License"), "CC-BY-4.0");
        EXPECT_EQ(map.at("File"), "real.sofa");
        EXPECT_EQ(map.at("NOTICE"), "  Title: " + c.expected +
                                        "\n  Organization: Lab\n  License: CC-BY-4.0\n  File: real.sofa\n");
    }
}

TEST_F(BuildReader, NamesSurviveAndALongTitleIsCutAsTheImportCutsIt) {
    std::string longTitle;
    for (int i = 0; i < 2000; ++i) longTitle += "Ω";
    const auto map = readMap("Title: " + longTitle + "\nOrganization: Universität Ångström, 東京音響研究所\nComment: Müller\n");
    EXPECT_EQ(map.at("Title"), sanitisedProvenanceText(longTitle));
    EXPECT_EQ(map.at("Organization"), "Universität Ångström, 東京音響研究所");
    EXPECT_EQ(map.at("Comment"), "Müller");
}

// The build applies the import's rule: any bytes (but the line feed that
// ends a value) come out as the importer's sanitiser gives them.
TEST_F(BuildReader, TheBuildSanitisesAsTheImporterDoes) {
    std::mt19937 random(2026);
    std::string record;
    std::vector<std::string> raw;
    for (int key = 0; key < 24; ++key) {
        std::string value(random() % 300, '\0');
        for (char& c : value) {
            do c = char(random() % 3 == 0 ? random() % 256 : 0x20 + random() % 96);
            while (c == '\n');
        }
        if (!value.empty() && value.back() == '\r') value.back() = 'r';  // a line's last CR is its line end
        raw.push_back(value);
        record += "K" + std::to_string(key) + ": " + value + "\n";
    }
    const auto map = readMap(record);
    for (size_t key = 0; key < raw.size(); ++key)
        EXPECT_EQ(map.at("K" + std::to_string(key)), sanitisedProvenanceText(raw[key])) << key;
}

// A second licence or file line is not something an import writes: the
// record is refused, naming the key; a second warning is not a fault.
TEST_F(BuildReader, AKeyGivenTwiceIsRefusedNamingIt) {
    std::vector<std::pair<std::string, std::string>> values;
    std::string log;
    EXPECT_FALSE(read("License: CC0-fake\nTitle: x\nLicense: CC-BY-4.0\n", values, log));
    EXPECT_NE(log.find("License is given twice"), std::string::npos) << log;
    EXPECT_TRUE(read("Warning: one\nWarning: two\n", values, log)) << log;
}

}  // namespace
