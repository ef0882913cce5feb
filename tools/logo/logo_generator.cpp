// Makes dialog/logo.bmp, the word mark the setup dialog shows: the maker's
// name in blocky capitals over a thin rule and a letter-spaced second line,
// dark on the dialog's own background, 147 x 79 pixels, 24 bits per pixel.
//
//   logo_generator <file>           writes the bitmap
//   logo_generator --check <file>   exits 0 only if <file> holds exactly it
//
// Only integer arithmetic and no maths library make the pixels, so the check
// can ask for the same bytes on any machine.
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <vector>

namespace {

constexpr int kWidthPx = 147;
constexpr int kHeightPx = 79;

struct Rgb {
    uint8_t r, g, b;
};

constexpr Rgb kBackground{224, 223, 227};  // the dialog background
constexpr Rgb kInk{38, 42, 52};
constexpr Rgb kRule{120, 124, 134};

// 5 x 7 glyphs, one string per row, '#' for ink.
struct Glyph {
    char letter;
    const char* rows[7];
};

constexpr Glyph kGlyphs[] = {
    {'B', {"####.", "#...#", "#...#", "####.", "#...#", "#...#", "####."}},
    {'C', {".###.", "#...#", "#....", "#....", "#....", "#...#", ".###."}},
    {'D', {"####.", "#...#", "#...#", "#...#", "#...#", "#...#", "####."}},
    {'E', {"#####", "#....", "#....", "####.", "#....", "#....", "#####"}},
    {'I', {"#####", "..#..", "..#..", "..#..", "..#..", "..#..", "#####"}},
    {'K', {"#...#", "#..#.", "#.#..", "##...", "#.#..", "#..#.", "#...#"}},
    {'N', {"#...#", "##..#", "#.#.#", "#.#.#", "#..##", "#...#", "#...#"}},
    {'O', {".###.", "#...#", "#...#", "#...#", "#...#", "#...#", ".###."}},
    {'R', {"####.", "#...#", "#...#", "####.", "#.#..", "#..#.", "#...#"}},
    {'S', {".####", "#....", "#....", ".###.", "....#", "....#", "####."}},
    {'U', {"#...#", "#...#", "#...#", "#...#", "#...#", "#...#", ".###."}},
};

const Glyph* glyphFor(char letter) {
    for (const Glyph& g : kGlyphs) {
        if (g.letter == letter) return &g;
    }
    return nullptr;
}

class Canvas {
public:
    Canvas() : pixels_(size_t(kWidthPx) * kHeightPx, kBackground) {}

    void fill(int x, int y, int w, int h, Rgb colour) {
        for (int row = y; row < y + h; ++row) {
            for (int col = x; col < x + w; ++col) {
                if (row >= 0 && row < kHeightPx && col >= 0 && col < kWidthPx) {
                    pixels_[size_t(row) * kWidthPx + col] = colour;
                }
            }
        }
    }

    // Text in glyphs scaled by `scale`, `gap` pixels between letters,
    // centred horizontally with its top at y.
    void centredText(const char* text, int y, int scale, int gap, Rgb colour) {
        const int letters = int(std::strlen(text));
        const int width = letters * 5 * scale + (letters - 1) * gap;
        int x = (kWidthPx - width) / 2;
        for (const char* p = text; *p != '\0'; ++p, x += 5 * scale + gap) {
            const Glyph* g = glyphFor(*p);
            if (g == nullptr) continue;
            for (int row = 0; row < 7; ++row) {
                for (int col = 0; col < 5; ++col) {
                    if (g->rows[row][col] == '#') {
                        fill(x + col * scale, y + row * scale, scale, scale, colour);
                    }
                }
            }
        }
    }

    // A BMP file: headers, then rows bottom-up in blue, green, red order, each
    // padded to a multiple of 4 bytes.
    std::vector<uint8_t> bmpFile() const {
        const uint32_t rowBytes = (uint32_t(kWidthPx) * 3 + 3) / 4 * 4;
        const uint32_t imageBytes = rowBytes * kHeightPx;
        const uint32_t offset = 14 + 40;
        std::vector<uint8_t> out;
        auto u16 = [&](uint32_t v) {
            out.push_back(uint8_t(v));
            out.push_back(uint8_t(v >> 8));
        };
        auto u32 = [&](uint32_t v) {
            u16(v & 0xFFFF);
            u16(v >> 16);
        };
        out.push_back('B');
        out.push_back('M');
        u32(offset + imageBytes);
        u32(0);
        u32(offset);
        u32(40);  // BITMAPINFOHEADER
        u32(kWidthPx);
        u32(kHeightPx);  // positive: bottom-up
        u16(1);
        u16(24);
        u32(0);  // uncompressed
        u32(imageBytes);
        u32(2835);  // 72 dots per inch, in dots per metre
        u32(2835);
        u32(0);
        u32(0);
        for (int row = kHeightPx - 1; row >= 0; --row) {
            for (int col = 0; col < kWidthPx; ++col) {
                const Rgb& p = pixels_[size_t(row) * kWidthPx + col];
                out.push_back(p.b);
                out.push_back(p.g);
                out.push_back(p.r);
            }
            for (uint32_t pad = kWidthPx * 3; pad < rowBytes; ++pad) out.push_back(0);
        }
        return out;
    }

private:
    std::vector<Rgb> pixels_;
};

std::vector<uint8_t> makeLogo() {
    Canvas canvas;
    canvas.centredText("BRENNICK", 14, 3, 2, kInk);
    canvas.fill(14, 43, kWidthPx - 28, 2, kRule);
    canvas.centredText("SOUND", 52, 2, 8, kInk);
    return canvas.bmpFile();
}

bool readFile(const char* path, std::vector<uint8_t>& bytes) {
    std::FILE* f = std::fopen(path, "rb");
    if (f == nullptr) return false;
    uint8_t buffer[4096];
    size_t n = 0;
    while ((n = std::fread(buffer, 1, sizeof buffer, f)) > 0) bytes.insert(bytes.end(), buffer, buffer + n);
    std::fclose(f);
    return true;
}

}  // namespace

int main(int argc, char** argv) {
    const std::vector<uint8_t> logo = makeLogo();
    if (argc == 3 && std::strcmp(argv[1], "--check") == 0) {
        std::vector<uint8_t> committed;
        if (!readFile(argv[2], committed)) {
            std::fprintf(stderr, "cannot read %s\n", argv[2]);
            return 1;
        }
        if (committed != logo) {
            std::fprintf(stderr, "%s is not what this generator makes (%zu bytes, expected %zu)\n",
                         argv[2], committed.size(), logo.size());
            return 1;
        }
        return 0;
    }
    if (argc != 2) {
        std::fprintf(stderr, "usage: %s <file.bmp> | --check <file.bmp>\n", argv[0]);
        return 2;
    }
    std::FILE* f = std::fopen(argv[1], "wb");
    if (f == nullptr || std::fwrite(logo.data(), 1, logo.size(), f) != logo.size()) {
        std::fprintf(stderr, "cannot write %s\n", argv[1]);
        if (f != nullptr) std::fclose(f);
        return 1;
    }
    return std::fclose(f) == 0 ? 0 : 1;
}
