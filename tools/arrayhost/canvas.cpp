#include "tools/arrayhost/canvas.h"

#include <algorithm>
#include <cmath>
#include <fstream>

#define STB_IMAGE_WRITE_STATIC
#define STB_IMAGE_WRITE_IMPLEMENTATION
#include <stb_image_write.h>
#include <stb_easy_font.h>

namespace arrayhost {

namespace {

// The font draws capitals and digits 7 units high, descenders to 9.
constexpr int kFontCapUnits = 9;

std::string printable(const std::string& s) {
    std::string out = s;
    for (char& c : out) {
        if (static_cast<unsigned char>(c) < 32 || static_cast<unsigned char>(c) > 126) c = '?';
    }
    return out;
}

struct Quad {
    float x0, y0, x1, y1;
};

std::vector<Quad> glyphQuads(const std::string& s) {
    std::string text = printable(s);
    // 64 bytes per quad; no glyph has more than 16 quads.
    std::vector<char> buffer(text.size() * 16 * 64 + 64);
    const int count = stb_easy_font_print(0, 0, text.data(), nullptr, buffer.data(), int(buffer.size()));
    std::vector<Quad> quads;
    for (int q = 0; q < count; ++q) {
        const float* v = reinterpret_cast<const float*>(buffer.data() + q * 64);
        // Four vertices of 16 bytes: x, y, z and a colour word.
        float x0 = v[0], y0 = v[1], x1 = v[0], y1 = v[1];
        for (int k = 1; k < 4; ++k) {
            x0 = std::min(x0, v[4 * k]);
            x1 = std::max(x1, v[4 * k]);
            y0 = std::min(y0, v[4 * k + 1]);
            y1 = std::max(y1, v[4 * k + 1]);
        }
        quads.push_back({x0, y0, x1, y1});
    }
    return quads;
}

}  // namespace

Canvas::Canvas(int width, int height, Rgb background)
    : width_(width), height_(height), pixels_(size_t(width) * size_t(height) * 3) {
    fillRect(0, 0, width, height, background);
}

Rgb Canvas::at(int x, int y) const {
    const size_t i = (size_t(y) * size_t(width_) + size_t(x)) * 3;
    return {pixels_[i], pixels_[i + 1], pixels_[i + 2]};
}

void Canvas::set(int x, int y, Rgb c) {
    if (x < 0 || y < 0 || x >= width_ || y >= height_) return;
    const size_t i = (size_t(y) * size_t(width_) + size_t(x)) * 3;
    pixels_[i] = c.r;
    pixels_[i + 1] = c.g;
    pixels_[i + 2] = c.b;
}

void Canvas::fillRect(int x0, int y0, int x1, int y1, Rgb c) {
    x0 = std::max(x0, 0);
    y0 = std::max(y0, 0);
    x1 = std::min(x1, width_);
    y1 = std::min(y1, height_);
    for (int y = y0; y < y1; ++y) {
        for (int x = x0; x < x1; ++x) set(x, y, c);
    }
}

void Canvas::frameRect(int x0, int y0, int x1, int y1, Rgb c) {
    fillRect(x0, y0, x1, y0 + 1, c);
    fillRect(x0, y1 - 1, x1, y1, c);
    fillRect(x0, y0, x0 + 1, y1, c);
    fillRect(x1 - 1, y0, x1, y1, c);
}

void Canvas::line(double x0, double y0, double x1, double y1, Rgb c, int thickness) {
    const double length = std::hypot(x1 - x0, y1 - y0);
    const int steps = std::max(1, int(std::ceil(length * 2)));
    const int lo = -(thickness - 1) / 2, hi = thickness / 2;
    for (int i = 0; i <= steps; ++i) {
        const double t = double(i) / steps;
        const int x = int(std::lround(x0 + t * (x1 - x0)));
        const int y = int(std::lround(y0 + t * (y1 - y0)));
        for (int dy = lo; dy <= hi; ++dy) {
            for (int dx = lo; dx <= hi; ++dx) set(x + dx, y + dy, c);
        }
    }
}

void Canvas::dashedLine(double x0, double y0, double x1, double y1, Rgb c, double dashPx) {
    const double length = std::hypot(x1 - x0, y1 - y0);
    if (length <= 0) return;
    const double ux = (x1 - x0) / length, uy = (y1 - y0) / length;
    for (double s = 0; s < length; s += 2 * dashPx) {
        const double e = std::min(s + dashPx, length);
        line(x0 + ux * s, y0 + uy * s, x0 + ux * e, y0 + uy * e, c);
    }
}

void Canvas::text(int x, int y, const std::string& s, Rgb c, int scale) {
    for (const Quad& q : glyphQuads(s)) {
        fillRect(x + int(std::lround(q.x0 * scale)), y + int(std::lround(q.y0 * scale)),
                 x + int(std::lround(q.x1 * scale)), y + int(std::lround(q.y1 * scale)), c);
    }
}

void Canvas::textUp(int x, int y, const std::string& s, Rgb c, int scale) {
    // Font x runs up the canvas from the bottom of the block; font y runs right.
    const int length = textWidth(s, scale);
    for (const Quad& q : glyphQuads(s)) {
        const int fx0 = int(std::lround(q.x0 * scale)), fx1 = int(std::lround(q.x1 * scale));
        const int fy0 = int(std::lround(q.y0 * scale)), fy1 = int(std::lround(q.y1 * scale));
        fillRect(x + fy0, y + length - fx1, x + fy1, y + length - fx0, c);
    }
}

int Canvas::textWidth(const std::string& s, int scale) {
    std::string text = printable(s);
    return stb_easy_font_width(text.data()) * scale;
}

int Canvas::textHeight(int scale) { return kFontCapUnits * scale; }

bool Canvas::writePng(const std::string& path, std::string& error) const {
    if (stbi_write_png(path.c_str(), width_, height_, 3, pixels_.data(), width_ * 3) == 0) {
        error = "cannot write " + path;
        return false;
    }
    return true;
}

std::optional<PngSize> readPngSize(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    unsigned char header[24] = {};
    if (!in.read(reinterpret_cast<char*>(header), sizeof header)) return std::nullopt;
    static const unsigned char kSignature[8] = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};
    if (!std::equal(kSignature, kSignature + 8, header)) return std::nullopt;
    if (!std::equal(header + 12, header + 16, "IHDR")) return std::nullopt;
    auto be32 = [&](int at) {
        return int(uint32_t(header[at]) << 24 | uint32_t(header[at + 1]) << 16 | uint32_t(header[at + 2]) << 8 |
                   uint32_t(header[at + 3]));
    };
    return PngSize{be32(16), be32(20)};
}

}  // namespace arrayhost
