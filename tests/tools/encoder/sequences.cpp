#include "tests/tools/encoder/sequences.h"

#include <cmath>
#include <cstdlib>

namespace enc_test {
namespace {

uint32_t hash(uint32_t x) {
    x ^= x >> 16;
    x *= 0x7feb352dU;
    x ^= x >> 15;
    x *= 0x846ca68bU;
    x ^= x >> 16;
    return x;
}

uint8_t clamp8(double v) { return static_cast<uint8_t>(v < 0 ? 0 : v > 255 ? 255 : v); }

void fill(YuvFrame& f, int w, int h, auto luma, auto cb, auto cr) {
    f.allocate(w, h);
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x) f.y[y * w + x] = luma(x, y);
    for (int y = 0; y < h / 2; ++y)
        for (int x = 0; x < w / 2; ++x) {
            f.u[y * (w / 2) + x] = cb(x, y);
            f.v[y * (w / 2) + x] = cr(x, y);
        }
}

}  // namespace

std::vector<YuvFrame> make_sequence(const std::string& kind, int w, int h, int frames) {
    std::vector<YuvFrame> out(frames);
    for (int t = 0; t < frames; ++t) {
        YuvFrame& f = out[t];
        if (kind == "gradients") {
            const double sx = 1.5 * t, sy = 0.5 * t;
            fill(
                f, w, h,
                [&](int x, int y) {
                    return clamp8(40 + 0.6 * (x + sx) + 0.4 * (y + sy) + 20 * std::sin((x + sx) * 0.07));
                },
                [&](int x, int y) { return clamp8(128 + 40 * std::sin((x + sx / 2) * 0.05 + y * 0.03)); },
                [&](int x, int y) { return clamp8(128 + 40 * std::cos((y + sy / 2) * 0.06 - x * 0.02)); });
        } else if (kind == "noise") {
            const uint32_t seed = static_cast<uint32_t>(t) * 7919u;
            fill(
                f, w, h, [&](int x, int y) { return static_cast<uint8_t>(hash(seed + y * 4099 + x)); },
                [&](int x, int y) { return static_cast<uint8_t>(hash(seed ^ (y * 977 + x + 0x1000000))); },
                [&](int x, int y) { return static_cast<uint8_t>(hash(seed ^ (y * 631 + x + 0x2000000))); });
        } else if (kind == "text") {
            const int scroll = 3 * t;
            auto ink = [&](int x, int y) {
                const int yy = y + scroll;
                const int line = yy / 12, in_line = yy % 12;
                const int glyph = x / 7, in_glyph = x % 7;
                if (in_line < 2 || in_line > 9 || in_glyph > 4) return false;
                const uint32_t bits = hash(static_cast<uint32_t>(line * 1000 + glyph));
                if ((bits & 7) == 0) return false;  // a space
                return ((bits >> ((in_line - 2) * 4 + in_glyph % 4)) & 1) != 0;
            };
            fill(
                f, w, h, [&](int x, int y) { return static_cast<uint8_t>(ink(x, y) ? 30 : 225); },
                [&](int, int) { return static_cast<uint8_t>(128); },
                [&](int, int) { return static_cast<uint8_t>(132); });
        } else if (kind == "cut") {
            if (t < frames / 2) {
                fill(
                    f, w, h,
                    [&](int x, int y) { return static_cast<uint8_t>(((x + 2 * t) / 8 + y / 8) % 2 ? 200 : 50); },
                    [&](int, int) { return static_cast<uint8_t>(100); },
                    [&](int, int) { return static_cast<uint8_t>(160); });
            } else {
                fill(
                    f, w, h,
                    [&](int x, int y) { return clamp8(128 + 100 * std::sin(x * 0.2 + t) * std::cos(y * 0.15)); },
                    [&](int x, int) { return clamp8(60 + x); }, [&](int, int y) { return clamp8(200 - y); });
            }
        } else {  // blobs
            fill(
                f, w, h,
                [&](int x, int y) {
                    double v = 60 + 0.3 * x;
                    const double cx[3] = {10.0 + 2.5 * t, w - 10.0 - 1.5 * t, w / 2.0};
                    const double cy[3] = {h / 3.0, 2 * h / 3.0, 5.0 + 2.0 * t};
                    for (int i = 0; i < 3; ++i) {
                        const double d2 = (x - cx[i]) * (x - cx[i]) + (y - cy[i]) * (y - cy[i]);
                        v += 150 * std::exp(-d2 / 60.0) * (i == 1 ? -0.6 : 1.0);
                        if (((x + y) & 4) && d2 < 40) v += 30;
                    }
                    return clamp8(v);
                },
                [&](int x, int y) { return clamp8(128 + 30 * std::sin(x * 0.1 + t * 0.3) + (y & 1)); },
                [&](int x, int y) { return clamp8(128 - 30 * std::cos(y * 0.1 - t * 0.2) + (x & 3)); });
        }
    }
    return out;
}

}  // namespace enc_test
