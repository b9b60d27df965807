// Draws the program's icons and side bitmap and writes them as .ico and .bmp files.
// Usage: koral_imggen <folder>. The output is the same on every run; see README.md beside it.
#include <algorithm>
#include <array>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <functional>
#include <string>
#include <vector>

namespace {

struct Color {
    double r = 0, g = 0, b = 0, a = 0;  // 0..1, straight alpha
};

Color rgb(unsigned hex, double a = 1) {
    return {((hex >> 16) & 0xFF) / 255.0, ((hex >> 8) & 0xFF) / 255.0, (hex & 0xFF) / 255.0, a};
}

Color mix(Color x, Color y, double t) {
    return {x.r + (y.r - x.r) * t, x.g + (y.g - x.g) * t, x.b + (y.b - x.b) * t, x.a + (y.a - x.a) * t};
}

// Shapes are "inside" tests in the unit square (icons) or in pixels (bitmap).
using Shape = std::function<bool(double x, double y)>;
// Paint of a shape may vary over the picture.
using Paint = std::function<Color(double x, double y)>;

struct Box {
    double x0, y0, x1, y1;
};

struct Image {
    int w, h;
    double unit;  // shape coordinates per pixel
    int samples;  // per pixel and axis: 8 smooths edges, 1 keeps every pixel one pure colour
    std::vector<Color> px;
    Image(int w_, int h_, double unit_, int samples_ = 8)
        : w(w_), h(h_), unit(unit_), samples(samples_), px(size_t(w_) * h_) {}
    Color& at(int x, int y) { return px[size_t(y) * w + x]; }

    // Composites the shape over the image, coverage from samples x samples points per pixel.
    // `box` (in shape coordinates) may bound the shape, which spares the pixels outside it.
    void fill(const Shape& inside, const Paint& paint, Box box = {-1e9, -1e9, 1e9, 1e9}) {
        const int n = samples;
        auto pixel = [this](double v, int limit) { return int(std::clamp(v / unit, 0.0, double(limit))); };
        int xa = pixel(std::floor(box.x0 / unit) * unit, w), xb = pixel(std::ceil(box.x1 / unit + 1) * unit, w);
        int ya = pixel(std::floor(box.y0 / unit) * unit, h), yb = pixel(std::ceil(box.y1 / unit + 1) * unit, h);
        for (int y = ya; y < yb; ++y) {
            for (int x = xa; x < xb; ++x) {
                int hits = 0;
                for (int sy = 0; sy < n; ++sy) {
                    for (int sx = 0; sx < n; ++sx) {
                        if (inside((x + (sx + 0.5) / n) * unit, (y + (sy + 0.5) / n) * unit)) ++hits;
                    }
                }
                if (hits == 0) continue;
                Color src = paint((x + 0.5) * unit, (y + 0.5) * unit);
                src.a *= double(hits) / (n * n);
                Color& dst = at(x, y);
                double a = src.a + dst.a * (1 - src.a);
                if (a <= 0) continue;
                dst = {(src.r * src.a + dst.r * dst.a * (1 - src.a)) / a,
                       (src.g * src.a + dst.g * dst.a * (1 - src.a)) / a,
                       (src.b * src.a + dst.b * dst.a * (1 - src.a)) / a, a};
            }
        }
    }
    void fill(const Shape& inside, Color c, Box box = {-1e9, -1e9, 1e9, 1e9}) {
        fill(inside, [c](double, double) { return c; }, box);
    }
};

Shape circle(double cx, double cy, double r) {
    return [=](double x, double y) { return std::hypot(x - cx, y - cy) <= r; };
}

double segmentDistance(double x, double y, double ax, double ay, double bx, double by) {
    double dx = bx - ax, dy = by - ay;
    double t = std::clamp(((x - ax) * dx + (y - ay) * dy) / (dx * dx + dy * dy), 0.0, 1.0);
    return std::hypot(x - ax - t * dx, y - ay - t * dy);
}

// A thick polyline with round ends and joints.
Shape stroke(std::vector<std::array<double, 2>> pts, double r) {
    return [pts = std::move(pts), r](double x, double y) {
        for (size_t i = 0; i + 1 < pts.size(); ++i) {
            if (segmentDistance(x, y, pts[i][0], pts[i][1], pts[i + 1][0], pts[i + 1][1]) <= r) return true;
        }
        return false;
    };
}

Shape unite(Shape a, Shape b) {
    return [a = std::move(a), b = std::move(b)](double x, double y) { return a(x, y) || b(x, y); };
}
Shape subtract(Shape a, Shape b) {
    return [a = std::move(a), b = std::move(b)](double x, double y) { return a(x, y) && !b(x, y); };
}

Shape roundedRect(double x0, double y0, double x1, double y1, double r) {
    return [=](double x, double y) {
        double qx = std::max({x0 + r - x, x - (x1 - r), 0.0});
        double qy = std::max({y0 + r - y, y - (y1 - r), 0.0});
        return x >= x0 && x <= x1 && y >= y0 && y <= y1 && std::hypot(qx, qy) <= r;
    };
}

Shape gear(double cx, double cy, double rOuter, double rInner, int teeth, double phase, double hole) {
    return [=](double x, double y) {
        double d = std::hypot(x - cx, y - cy);
        if (d < hole) return false;
        if (d <= rInner) return true;
        if (d > rOuter) return false;
        double a = std::atan2(y - cy, x - cx) * teeth / (2 * M_PI) + phase;
        double f = a - std::floor(a);  // position within one tooth period
        // Teeth narrow towards their tips.
        double halfWidth = 0.26 - 0.08 * (d - rInner) / (rOuter - rInner);
        return std::abs(f - 0.5) <= halfWidth;
    };
}

// A disc with a light top and a darker rim: the badge behind the result icons.
void badge(Image& img, unsigned light, unsigned dark) {
    img.fill(circle(0.5, 0.5, 0.47), rgb(dark));
    img.fill(circle(0.5, 0.5, 0.47 - 0.8 * img.unit),
             [&](double, double y) { return mix(rgb(light), rgb(dark), std::clamp((y - 0.1) / 0.85, 0.0, 1.0)); });
    // A soft gloss across the upper half.
    img.fill(subtract(circle(0.5, 0.5, 0.40), circle(0.5, 0.92, 0.62)), rgb(0xFFFFFF, 0.18));
}

constexpr unsigned kWhite = 0xFFFFFF;

void drawDone(Image& img) {
    badge(img, 0x4CC25E, 0x1E7A32);
    img.fill(stroke({{0.27, 0.52}, {0.43, 0.68}, {0.73, 0.35}}, 0.075), rgb(kWhite));
}

void drawFailed(Image& img) {
    badge(img, 0xEE5A45, 0xA3231A);
    img.fill(unite(stroke({{0.33, 0.33}, {0.67, 0.67}}, 0.075), stroke({{0.67, 0.33}, {0.33, 0.67}}, 0.075)),
             rgb(kWhite));
}

void drawUnsure(Image& img) {
    badge(img, 0x4A97EC, 0x1C4F9C);
    std::vector<std::array<double, 2>> hook;
    for (int i = 0; i <= 24; ++i) {  // from the left, over the top, down to the right
        double a = M_PI * (1.05 + 1.35 * i / 24.0);
        hook.push_back({0.5 + 0.14 * std::cos(a), 0.37 + 0.13 * std::sin(a)});
    }
    hook.push_back({0.5, 0.51});
    hook.push_back({0.5, 0.58});
    img.fill(unite(stroke(hook, 0.07), circle(0.5, 0.74, 0.075)), rgb(kWhite));
}

void drawBusy(Image& img) {
    Paint blue = [](double x, double y) { return mix(rgb(0x5AA6F0), rgb(0x1F5FB0), std::clamp(y * 0.9 + x * 0.2, 0.0, 1.0)); };
    Paint dark = [](double, double) { return rgb(0x15407A); };
    double u = img.unit;
    // The outline first, one pixel wider, so each gear reads against any background.
    img.fill(gear(0.39, 0.40, 0.36 + u, 0.26 + u, 9, 0.0, 0.0), dark);
    img.fill(gear(0.39, 0.40, 0.36, 0.26, 9, 0.0, 0.10), blue);
    img.fill(gear(0.72, 0.72, 0.25 + u, 0.17 + u, 7, 0.5, 0.0), dark);
    img.fill(gear(0.72, 0.72, 0.25, 0.17, 7, 0.5, 0.07), blue);
}

// The program's own icon: a chip receiving a downward arrow. The 16-colour images take their
// colours from the VGA palette as they are; the others may be softer.
void drawMain(Image& img) {
    double u = img.unit;
    bool vga = img.samples == 1;
    Shape pins = [](double x, double y) {
        for (int i = 0; i < 4; ++i) {
            if (std::abs(y - (0.52 + i * 0.12)) <= 0.035 && x >= 0.06 && x <= 0.94) return true;
        }
        return false;
    };
    img.fill(pins, rgb(0xC0C0C0));
    img.fill(roundedRect(0.16, 0.42, 0.84, 0.95, 0.06), rgb(0x000000));
    img.fill(roundedRect(0.16 + u, 0.42 + u, 0.84 - u, 0.95 - u, 0.05), rgb(vga ? 0x808080 : 0x4A535C));
    img.fill(circle(0.28, 0.85, 0.05), rgb(vga ? 0xC0C0C0 : 0x8A949E));
    auto arrow = [](double grow) -> Shape {
        return [grow](double x, double y) {
            bool shaft = std::abs(x - 0.5) <= 0.10 + grow && y >= 0.04 - grow && y <= 0.50;
            bool head = y >= 0.42 - grow && std::abs(x - 0.5) <= (0.80 + 1.7 * grow - y) * 0.75;
            return shaft || head;
        };
    };
    img.fill(arrow(u), rgb(vga ? 0x008000 : 0x1E7A32));
    img.fill(arrow(0), rgb(vga ? 0x00FF00 : 0x4CC25E));
}

// --- file writers -------------------------------------------------------------------------

void put16(std::string& s, unsigned v) {
    s += char(v & 0xFF);
    s += char((v >> 8) & 0xFF);
}
void put32(std::string& s, uint32_t v) {
    put16(s, v & 0xFFFF);
    put16(s, v >> 16);
}

void putInfoHeader(std::string& s, int w, int h, int bits, uint32_t imageSize, uint32_t colors) {
    put32(s, 40);
    put32(s, uint32_t(w));
    put32(s, uint32_t(h));
    put16(s, 1);
    put16(s, unsigned(bits));
    put32(s, 0);  // BI_RGB
    put32(s, imageSize);
    put32(s, 0);
    put32(s, 0);
    put32(s, colors);
    put32(s, 0);
}

uint8_t byte(double v) { return uint8_t(std::lround(std::clamp(v, 0.0, 1.0) * 255)); }

// The 16 colours of the standard VGA palette, in their usual order.
constexpr std::array<unsigned, 16> kVga = {0x000000, 0x800000, 0x008000, 0x808000, 0x000080, 0x800080,
                                           0x008080, 0xC0C0C0, 0x808080, 0xFF0000, 0x00FF00, 0xFFFF00,
                                           0x0000FF, 0xFF00FF, 0x00FFFF, 0xFFFFFF};

int nearest(const std::vector<std::array<uint8_t, 3>>& pal, std::array<uint8_t, 3> c) {
    int best = 0;
    long bestD = -1;
    for (size_t i = 0; i < pal.size(); ++i) {
        long d = 0;
        for (int k = 0; k < 3; ++k) d += long(pal[i][k] - c[k]) * (pal[i][k] - c[k]);
        if (bestD < 0 || d < bestD) {
            bestD = d;
            best = int(i);
        }
    }
    return best;
}

// One icon image (BITMAPINFOHEADER, colours, XOR and AND masks): 32-bit with alpha, or 4-bit
// in the VGA colours with a hard mask.
std::string iconImage(Image& img, int bits) {
    int w = img.w, h = img.h;
    int maskStride = ((w + 31) / 32) * 4;
    int colorStride = bits == 32 ? w * 4 : ((w * bits + 31) / 32) * 4;
    std::string s;
    // The image size counts the colour bits only, as other icon writers have it.
    putInfoHeader(s, w, 2 * h, bits, uint32_t(colorStride * h), bits == 4 ? 16 : 0);
    std::vector<std::array<uint8_t, 3>> vga;
    if (bits == 4) {
        for (unsigned c : kVga) {
            vga.push_back({uint8_t(c >> 16), uint8_t(c >> 8), uint8_t(c)});
            s += char(c & 0xFF);
            s += char((c >> 8) & 0xFF);
            s += char((c >> 16) & 0xFF);
            s += char(0);
        }
    }
    for (int y = h - 1; y >= 0; --y) {
        std::string row;
        for (int x = 0; x < w; ++x) {
            const Color& c = img.at(x, y);
            if (bits == 32) {
                row += char(byte(c.b));
                row += char(byte(c.g));
                row += char(byte(c.r));
                row += char(byte(c.a));
            } else {
                int idx = c.a >= 0.5 ? nearest(vga, {byte(c.r), byte(c.g), byte(c.b)}) : 0;
                if (x % 2 == 0) row += char(idx << 4);
                else row.back() = char(row.back() | idx);
            }
        }
        row.resize(size_t(colorStride), '\0');
        s += row;
    }
    for (int y = h - 1; y >= 0; --y) {
        std::string row(size_t(maskStride), '\0');
        for (int x = 0; x < w; ++x) {
            bool transparent = bits == 32 ? img.at(x, y).a <= 0 : img.at(x, y).a < 0.5;
            if (transparent) row[size_t(x / 8)] = char(row[size_t(x / 8)] | (0x80 >> (x % 8)));
        }
        s += row;
    }
    return s;
}

struct IconEntry {
    int size;
    int bits;
};

bool writeFile(const std::string& path, const std::string& bytes) {
    FILE* f = std::fopen(path.c_str(), "wb");
    if (!f) {
        std::fprintf(stderr, "koral_imggen: cannot write %s\n", path.c_str());
        return false;
    }
    bool ok = std::fwrite(bytes.data(), 1, bytes.size(), f) == bytes.size();
    return std::fclose(f) == 0 && ok;
}

bool writeIcon(const std::string& path, void (*draw)(Image&), const std::vector<IconEntry>& entries) {
    std::vector<std::string> images;
    for (const IconEntry& e : entries) {
        Image img(e.size, e.size, 1.0 / e.size, e.bits == 4 ? 1 : 8);
        draw(img);
        images.push_back(iconImage(img, e.bits));
    }
    std::string s;
    put16(s, 0);
    put16(s, 1);
    put16(s, unsigned(entries.size()));
    uint32_t offset = uint32_t(6 + 16 * entries.size());
    for (size_t i = 0; i < entries.size(); ++i) {
        s += char(entries[i].size);
        s += char(entries[i].size);
        s += char(entries[i].bits == 4 ? 16 : 0);
        s += char(0);
        put16(s, 1);
        put16(s, unsigned(entries[i].bits));
        put32(s, uint32_t(images[i].size()));
        put32(s, offset);
        offset += uint32_t(images[i].size());
    }
    for (const std::string& img : images) s += img;
    return writeFile(path, s);
}

// --- the side bitmap ----------------------------------------------------------------------

struct Rng {
    uint32_t state;
    double next() {
        state = state * 1664525u + 1013904223u;
        return (state >> 8) / double(1u << 24);
    }
};

struct CoralPart {
    Shape shape;
    Box box;
    double depth;
};

void coralBranch(std::vector<CoralPart>& parts, Rng& rng, double x, double y, double angle,
                 double length, double width, int depth) {
    double x2 = x + std::cos(angle) * length, y2 = y + std::sin(angle) * length;
    double xm = (x + x2) / 2 + std::cos(angle + M_PI / 2) * length * (rng.next() - 0.5) * 0.3;
    double ym = (y + y2) / 2 + std::sin(angle + M_PI / 2) * length * (rng.next() - 0.5) * 0.3;
    Box box{std::min({x, xm, x2}) - width, std::min({y, ym, y2}) - width, std::max({x, xm, x2}) + width,
            std::max({y, ym, y2}) + width};
    parts.push_back({stroke({{x, y}, {xm, ym}, {x2, y2}}, width), box, double(depth)});
    if (depth == 0) return;
    double spread = 0.35 + 0.25 * rng.next();
    coralBranch(parts, rng, x2, y2, angle - spread, length * (0.70 + 0.1 * rng.next()), width * 0.74, depth - 1);
    coralBranch(parts, rng, x2, y2, angle + spread, length * (0.70 + 0.1 * rng.next()), width * 0.74, depth - 1);
}

Image drawSidebar() {
    const int w = 161, h = 313;
    Image img(w, h, 1.0);
    // Deep sea at the top, lighter water towards the sea bed.
    img.fill([](double, double) { return true; },
             [h](double, double y) { return mix(rgb(0x0D2F5C), rgb(0x2F8FA6), y / h); });
    // Light from the surface: broad, faint rays.
    for (int i = 0; i < 3; ++i) {
        double x0 = 30 + 45 * i;
        img.fill([x0](double x, double y) { return std::abs(x - (x0 + y * 0.35)) <= 9 + y * 0.06; },
                 [h](double, double y) { return rgb(0xFFFFFF, 0.07 * (1 - y / h)); });
    }
    // The surface: two gentle waves.
    for (int k = 0; k < 2; ++k) {
        double base = 34 + 9 * k;
        img.fill([base, k](double x, double y) { return std::abs(y - (base + 3.5 * std::sin(x / 17.0 + k * 1.7))) <= 1.2; },
                 rgb(0xFFFFFF, 0.30 - 0.12 * k));
    }
    // Bubbles rising.
    Rng rng{20260406u};
    for (int i = 0; i < 11; ++i) {
        double bx = 20 + rng.next() * 125, by = 70 + rng.next() * 150, br = 2 + rng.next() * 4.5;
        Box around{bx - br, by - br, bx + br, by + br};
        img.fill(subtract(circle(bx, by, br), circle(bx, by, br - 1.1)), rgb(0xFFFFFF, 0.45), around);
        img.fill(circle(bx - br * 0.35, by - br * 0.35, br * 0.25), rgb(0xFFFFFF, 0.6), around);
    }
    // The sea bed.
    Shape bed = [](double x, double y) { return y >= 284 + 7 * std::sin(x / 29.0 + 0.8) + 3 * std::sin(x / 11.0); };
    // Coral: two branching trees, the tips lighter than the stems.
    std::vector<CoralPart> parts;
    coralBranch(parts, rng, 62, 300, -M_PI / 2 - 0.12, 46, 6.0, 5);
    coralBranch(parts, rng, 122, 302, -M_PI / 2 + 0.2, 30, 4.2, 4);
    std::stable_sort(parts.begin(), parts.end(), [](auto& a, auto& b) { return a.depth > b.depth; });
    for (const CoralPart& p : parts) img.fill(p.shape, mix(rgb(0xE0533D), rgb(0xFFB199), 1 - p.depth / 5), p.box);
    img.fill(bed, [](double, double y) { return mix(rgb(0xC9A66B), rgb(0x8C6D3F), (y - 280) / 33); });
    return img;
}

// Median cut: 256 colours chosen for this picture, so its soft gradients survive 8 bits.
std::vector<std::array<uint8_t, 3>> medianCut(std::vector<std::array<uint8_t, 3>> colors, size_t count) {
    using Box = std::pair<size_t, size_t>;  // range in `colors`
    std::vector<Box> boxes{{0, colors.size()}};
    auto spread = [&](const Box& b, int& channel) {
        int best = -1;
        for (int k = 0; k < 3; ++k) {
            uint8_t lo = 255, hi = 0;
            for (size_t i = b.first; i < b.second; ++i) {
                lo = std::min(lo, colors[i][k]);
                hi = std::max(hi, colors[i][k]);
            }
            if (hi - lo > best) {
                best = hi - lo;
                channel = k;
            }
        }
        return best;
    };
    while (boxes.size() < count) {
        size_t pick = 0;
        int pickSpread = -1, pickChannel = 0;
        for (size_t i = 0; i < boxes.size(); ++i) {
            int ch = 0;
            int s = boxes[i].second - boxes[i].first > 1 ? spread(boxes[i], ch) : 0;
            // Weigh by population so busy regions get more entries.
            int weighted = s * int(std::sqrt(double(boxes[i].second - boxes[i].first)));
            if (weighted > pickSpread) {
                pickSpread = weighted;
                pick = i;
                pickChannel = ch;
            }
        }
        if (pickSpread <= 0) break;
        Box b = boxes[pick];
        std::sort(colors.begin() + long(b.first), colors.begin() + long(b.second),
                  [pickChannel](auto& x, auto& y) { return x[pickChannel] < y[pickChannel]; });
        size_t mid = (b.first + b.second) / 2;
        boxes[pick] = {b.first, mid};
        boxes.push_back({mid, b.second});
    }
    std::vector<std::array<uint8_t, 3>> pal;
    for (const Box& b : boxes) {
        double sum[3] = {0, 0, 0};
        for (size_t i = b.first; i < b.second; ++i) {
            for (int k = 0; k < 3; ++k) sum[k] += colors[i][k];
        }
        double n = double(b.second - b.first);
        pal.push_back({uint8_t(std::lround(sum[0] / n)), uint8_t(std::lround(sum[1] / n)), uint8_t(std::lround(sum[2] / n))});
    }
    pal.resize(count, {0, 0, 0});
    return pal;
}

bool writeSidebar(const std::string& path) {
    Image img = drawSidebar();
    std::vector<std::array<uint8_t, 3>> colors;
    for (const Color& c : img.px) colors.push_back({byte(c.r), byte(c.g), byte(c.b)});
    std::vector<std::array<uint8_t, 3>> pal = medianCut(colors, 256);
    int stride = (img.w + 3) / 4 * 4;
    uint32_t pixelsOffset = 14 + 40 + 256 * 4;
    uint32_t imageSize = uint32_t(stride * img.h);
    std::string s = "BM";
    put32(s, pixelsOffset + imageSize);
    put32(s, 0);
    put32(s, pixelsOffset);
    putInfoHeader(s, img.w, img.h, 8, imageSize, 256);
    for (const auto& c : pal) {
        s += char(c[2]);
        s += char(c[1]);
        s += char(c[0]);
        s += char(0);
    }
    for (int y = img.h - 1; y >= 0; --y) {
        std::string row;
        for (int x = 0; x < img.w; ++x) row += char(nearest(pal, colors[size_t(y) * img.w + x]));
        row.resize(size_t(stride), '\0');
        s += row;
    }
    return writeFile(path, s);
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 2 || std::string(argv[1]) == "--help") {
        std::fprintf(stderr, "Usage: koral_imggen <folder>\nWrites mainframe.ico, done.ico, failed.ico, unsure.ico, "
                             "busy.ico and sidebar.bmp into <folder>.\n");
        return argc == 2 ? 0 : 2;
    }
    std::string dir = std::string(argv[1]) + "/";
    const std::vector<IconEntry> result = {{32, 32}, {16, 32}};
    bool ok = writeIcon(dir + "mainframe.ico", drawMain, {{32, 4}, {16, 4}, {32, 32}, {16, 32}}) &&
              writeIcon(dir + "done.ico", drawDone, result) && writeIcon(dir + "failed.ico", drawFailed, result) &&
              writeIcon(dir + "unsure.ico", drawUnsure, result) && writeIcon(dir + "busy.ico", drawBusy, result) &&
              writeSidebar(dir + "sidebar.bmp");
    return ok ? 0 : 1;
}
