// An RGB picture in memory with the few drawing operations the plots need,
// text in a small built-in bitmap font, and PNG output.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace arrayhost {

struct Rgb {
    uint8_t r = 0, g = 0, b = 0;
    bool operator==(const Rgb&) const = default;
};

inline constexpr Rgb kWhite{255, 255, 255};
inline constexpr Rgb kBlack{0, 0, 0};

class Canvas {
public:
    Canvas(int width, int height, Rgb background);

    int width() const { return width_; }
    int height() const { return height_; }
    Rgb at(int x, int y) const;
    // Drawing clips to the canvas.
    void set(int x, int y, Rgb colour);
    void fillRect(int x0, int y0, int x1, int y1, Rgb colour);  // x1, y1 exclusive
    void frameRect(int x0, int y0, int x1, int y1, Rgb colour);
    void line(double x0, double y0, double x1, double y1, Rgb colour, int thickness = 1);
    void dashedLine(double x0, double y0, double x1, double y1, Rgb colour, double dashPx);
    // Text with its top-left corner at (x, y), each font pixel `scale` pixels.
    // Characters outside printable ASCII are drawn as '?'.
    void text(int x, int y, const std::string& s, Rgb colour, int scale = 1);
    // The same text turned a quarter turn counter-clockwise, read bottom to top;
    // (x, y) is the top-left corner of the turned block.
    void textUp(int x, int y, const std::string& s, Rgb colour, int scale = 1);

    static int textWidth(const std::string& s, int scale = 1);
    static int textHeight(int scale = 1);

    bool writePng(const std::string& path, std::string& error) const;
    const std::vector<uint8_t>& pixels() const { return pixels_; }  // rows of r, g, b

private:
    int width_, height_;
    std::vector<uint8_t> pixels_;
};

struct PngSize {
    int width = 0, height = 0;
};

// Width and height from a PNG file's header, or nothing if it is not a PNG.
std::optional<PngSize> readPngSize(const std::string& path);

}  // namespace arrayhost
