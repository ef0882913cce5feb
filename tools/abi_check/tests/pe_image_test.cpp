// The PE reader on small modules made here, 32-bit and 64-bit, and on
// damaged ones: it must list what a loader would see, and refuse, never read
// past the end, whatever the file claims.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "tools/host/pe_image.h"

namespace {

using Bytes = std::vector<unsigned char>;

void put(Bytes& b, size_t at, uint64_t value, int bytes) {
    for (int i = 0; i < bytes; ++i) b[at + size_t(i)] = uint8_t(value >> (8 * i));
}
void putText(Bytes& b, size_t at, const char* text) { std::memcpy(&b[at], text, std::strlen(text) + 1); }

constexpr size_t kPe = 0x80;
constexpr size_t kOptional = kPe + 24;
constexpr size_t kSectionFile = 0x200;
constexpr uint32_t kSectionRva = 0x1000;
size_t fileAt(uint32_t rva) { return kSectionFile + (rva - kSectionRva); }

// A module with one section that holds an export directory (Alpha, Beta), an
// import table (KERNEL32.dll: GetTickCount and ordinal 7), a base relocation
// of one stored address (of 0x2000) and a TLS directory with one callback
// (0x2010); its entry point is 0x2000.
Bytes makeModule(bool pe32Plus) {
    Bytes b(0x500, 0);
    b[0] = 'M';
    b[1] = 'Z';
    put(b, 0x3C, kPe, 4);
    std::memcpy(&b[kPe], "PE\0\0", 4);
    const uint16_t optionalBytes = pe32Plus ? 240 : 224;
    put(b, kPe + 4, pe32Plus ? 0x8664 : 0x14C, 2);
    put(b, kPe + 6, 1, 2);
    put(b, kPe + 20, optionalBytes, 2);
    put(b, kOptional, pe32Plus ? 0x20B : 0x10B, 2);
    if (pe32Plus) put(b, kOptional + 24, 0x180000000ull, 8);
    else put(b, kOptional + 28, 0x10000000, 4);
    const size_t directories = kOptional + (pe32Plus ? 112 : 96);
    put(b, directories - 4, 16, 4);
    put(b, directories, 0x1000, 4);  // exports
    put(b, directories + 4, 0x100, 4);
    put(b, directories + 8, 0x1100, 4);  // imports
    put(b, directories + 12, 0x40, 4);
    put(b, directories + 40, 0x1200, 4);  // base relocations
    put(b, directories + 44, 12, 4);
    put(b, directories + 72, 0x1240, 4);  // TLS
    put(b, directories + 76, pe32Plus ? 40 : 24, 4);
    put(b, kOptional + 16, 0x2000, 4);  // entry point
    const size_t section = kOptional + optionalBytes;
    std::memcpy(&b[section], ".rdata", 6);
    put(b, section + 8, 0x300, 4);
    put(b, section + 12, kSectionRva, 4);
    put(b, section + 16, 0x300, 4);
    put(b, section + 20, kSectionFile, 4);

    const size_t exports = fileAt(0x1000);
    put(b, exports + 20, 2, 4);
    put(b, exports + 24, 2, 4);
    put(b, exports + 28, 0x1040, 4);
    put(b, exports + 32, 0x1050, 4);
    put(b, exports + 36, 0x1060, 4);
    put(b, fileAt(0x1040), 0x2000, 4);
    put(b, fileAt(0x1044), 0x2010, 4);
    put(b, fileAt(0x1050), 0x1070, 4);
    put(b, fileAt(0x1054), 0x1080, 4);
    put(b, fileAt(0x1060), 0, 2);
    put(b, fileAt(0x1062), 1, 2);
    putText(b, fileAt(0x1070), "Alpha");
    putText(b, fileAt(0x1080), "Beta");

    const size_t imports = fileAt(0x1100);
    put(b, imports, 0x1140, 4);
    put(b, imports + 12, 0x1130, 4);
    put(b, imports + 16, 0x1160, 4);
    putText(b, fileAt(0x1130), "KERNEL32.dll");
    const int slot = pe32Plus ? 8 : 4;
    const uint64_t byOrdinal = (pe32Plus ? 1ull << 63 : 1ull << 31) | 7;
    for (uint32_t table : {0x1140u, 0x1160u}) {
        put(b, fileAt(table), 0x1180, slot);
        put(b, fileAt(table) + size_t(slot), byOrdinal, slot);
    }
    putText(b, fileAt(0x1182), "GetTickCount");

    const uint64_t base = pe32Plus ? 0x180000000ull : 0x10000000ull;
    put(b, fileAt(0x1200), 0x1200, 4);  // the page
    put(b, fileAt(0x1204), 12, 4);
    put(b, fileAt(0x1208), (pe32Plus ? 10u : 3u) << 12 | 0x20, 2);  // the word at 0x1220
    put(b, fileAt(0x1220), base + 0x2000, slot);
    put(b, fileAt(0x1240) + 3 * size_t(slot), base + 0x1280, slot);  // the list of callbacks
    put(b, fileAt(0x1280), base + 0x2010, slot);
    put(b, kOptional + 64, host::peFileChecksum(b, kOptional + 64), 4);
    return b;
}

TEST(PeImage, ReadsTheTablesOfThirtyTwoAndSixtyFourBitModules) {
    for (bool wide : {false, true}) {
        SCOPED_TRACE(wide ? "PE32+" : "PE32");
        std::string error;
        const auto image = host::readPeImage(makeModule(wide), error);
        ASSERT_TRUE(image) << error;
        EXPECT_EQ(image->pe32Plus, wide);
        EXPECT_EQ(image->machine, wide ? 0x8664 : 0x14C);
        EXPECT_EQ(image->imageBase, wide ? 0x180000000ull : 0x10000000ull);
        ASSERT_EQ(image->exports.size(), 2u);
        EXPECT_EQ(image->exports[0].name, "Alpha");
        EXPECT_EQ(image->exports[0].rva, 0x2000u);
        EXPECT_EQ(image->exports[1].name, "Beta");
        EXPECT_EQ(image->exports[1].rva, 0x2010u);
        EXPECT_FALSE(image->exports[1].forwarded);
        EXPECT_EQ(image->importedLibraries, std::vector<std::string>{"kernel32.dll"});
        ASSERT_EQ(image->importedFunctions.size(), 2u);
        EXPECT_EQ(image->importedFunctions[0].function, "GetTickCount");
        EXPECT_EQ(image->importedFunctions[0].addressSlotRva, 0x1160u);
        EXPECT_EQ(image->importedFunctions[1].function, "#7");
        EXPECT_EQ(image->importedFunctions[1].addressSlotRva, 0x1160u + (wide ? 8u : 4u));
        EXPECT_EQ(image->storedChecksum, image->computedChecksum);
        const uint64_t base = image->imageBase;
        EXPECT_EQ(image->entryPointRva, 0x2000u);
        EXPECT_EQ(image->storedAddresses, std::vector<uint64_t>{base + 0x2000});
        EXPECT_EQ(image->tlsCallbacks, std::vector<uint64_t>{base + 0x2010});
    }
}

TEST(PeImage, AChangedByteChangesTheChecksumButNotTheField) {
    Bytes b = makeModule(false);
    b[0x50] ^= 0x20;  // the DOS stub
    std::string error;
    const auto image = host::readPeImage(b, error);
    ASSERT_TRUE(image) << error;
    EXPECT_NE(image->storedChecksum, image->computedChecksum);
}

TEST(PeImage, AnExportAddressInsideItsDirectoryIsAForwarder) {
    Bytes b = makeModule(false);
    put(b, fileAt(0x1044), 0x1090, 4);
    std::string error;
    const auto image = host::readPeImage(b, error);
    ASSERT_TRUE(image) << error;
    EXPECT_TRUE(image->exports[1].forwarded);
}

TEST(PeImage, RefusesDamagedModulesWithAReason) {
    struct Damage {
        const char* what;
        size_t at;
        uint64_t value;
        int bytes;
    };
    const Damage damages[] = {
        {"no MZ", 0, 'X', 1},
        {"header offset past the end", 0x3C, 0x7FFFFFF0, 4},
        {"neither PE32 nor PE32+", kOptional, 0x107, 2},
        {"optional header too short for its directories", kPe + 20, 64, 2},
        {"65,535 sections", kPe + 6, 0xFFFF, 2},
        {"four billion exported names", fileAt(0x1000) + 24, 0xFFFFFFFF, 4},
        {"name table outside every section", fileAt(0x1000) + 32, 0x7FFFFFFF, 4},
        {"ordinal beyond the address table", fileAt(0x1062), 5, 2},
        {"name without its terminating NUL", fileAt(0x1050), 0x12FF, 4},
        {"library name outside the file", fileAt(0x1100) + 12, 0x9000, 4},
        {"imported name outside the file", fileAt(0x1140), 0x9000, 4},
        {"a relocation block longer than its directory", fileAt(0x1204), 0xFFFF, 4},
        {"a relocation block of no bytes", fileAt(0x1204), 0, 4},
        {"TLS callbacks outside the file", fileAt(0x1240) + 12, 0x10009000, 4},
    };
    for (const Damage& d : damages) {
        SCOPED_TRACE(d.what);
        Bytes b = makeModule(false);
        put(b, d.at, d.value, d.bytes);
        if (std::string(d.what) == "name without its terminating NUL") std::memset(&b[fileAt(0x12FF)], 'A', 1);
        std::string error;
        EXPECT_FALSE(host::readPeImage(b, error));
        EXPECT_FALSE(error.empty());
    }
}

TEST(PeImage, AnImportTableWithoutItsEndIsRefused) {
    // Descriptors naming the same library until the section ends.
    Bytes b = makeModule(false);
    for (size_t at = fileAt(0x1100); at + 20 <= b.size(); at += 20) {
        put(b, at, 0x1140, 4);
        put(b, at + 12, 0x1130, 4);
        put(b, at + 16, 0x1160, 4);
    }
    // The table now overwrites its own names; what matters is the verdict.
    std::string error;
    EXPECT_FALSE(host::readPeImage(b, error));
}

TEST(PeImage, EveryTruncationIsReadOrRefusedWithinTheBytesGiven) {
    for (bool wide : {false, true}) {
        const Bytes whole = makeModule(wide);
        for (size_t length = 0; length < whole.size(); ++length) {
            // An exact-size copy, so that a read past its end is a sanitizer report.
            const Bytes cut(whole.begin(), whole.begin() + std::ptrdiff_t(length));
            std::string error;
            const auto image = host::readPeImage(cut, error);
            EXPECT_TRUE(image || !error.empty()) << length;
            // The last imported name ends the tables: any shorter copy loses some.
            if (length < fileAt(0x1182) + sizeof("GetTickCount")) {
                EXPECT_FALSE(image && image->importedFunctions.size() == 2) << length;
            }
        }
    }
}

}  // namespace
