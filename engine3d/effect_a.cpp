// Effect A: a closed body of revolution whose latitude rings swell and shrink in a travelling pulse and
// whose outline wobbles with a three-lobed and a two-lobed wave, tumbling about all three axes.

#include <cmath>
#include <memory>

#include "engine3d/effects.h"

namespace zorbrix {

namespace {

constexpr float PI_F = 3.1415927f;
constexpr int RINGS = 15;
constexpr int SEGMENTS = 20;
constexpr int BOTTOM_POLE = 1 + RINGS * SEGMENTS;  // 301
constexpr uint32_t LINE_COLOUR = 0x404040;
constexpr uint32_t FILL_COLOUR = 0xFAE0AF;

std::unique_ptr<C3DObject2> g_blob;

C3DObject2& blob() {
    if (!g_blob) effect_a_init();
    return *g_blob;
}

C3DObject2::poly_t triangle(int a, int b, int c, bool ab, bool bc, bool ca) {
    C3DObject2::poly_t p;
    p.a = a;
    p.b = b;
    p.c = c;
    p.line_ab = ab;
    p.line_bc = bc;
    p.line_ca = ca;
    return p;
}

}  // namespace

double pulse_radius(float u, float t) {
    const double s = std::sin(double(4.0f) * u + t);
    return double(0.7f) * s * s + double(0.7f);
}

// The triangles do not depend on the phase: they are set once, with the colours.
void effect_a_init() {
    g_blob = std::make_unique<C3DObject2>();
    g_blob->SetLineColour(LINE_COLOUR);
    g_blob->SetFillColour(FILL_COLOUR);
    CList<C3DObject2::poly_t> polys;
    for (int o = 1; o <= SEGMENTS; ++o) polys.AddHead(triangle(o, 0, o % SEGMENTS + 1, true, true, true));
    // Bands between consecutive rings: only the meridian edges carry lines, flagged from both sides.
    for (int m = 0; m < RINGS - 1; ++m) {
        const int base = SEGMENTS * m;
        for (int j = 0; j < SEGMENTS; ++j) {
            const int p = base + 1 + j;
            const int u = base + 1 + (j + 1) % SEGMENTS;
            const int q = base + 1 + SEGMENTS + j;
            polys.AddHead(triangle(p, u, q, false, false, true));
            polys.AddHead(triangle(u, u + SEGMENTS, q, true, false, false));
        }
    }
    const int last_ring = BOTTOM_POLE - SEGMENTS;  // 281
    for (int w = 0; w < SEGMENTS; ++w)
        polys.AddHead(triangle(BOTTOM_POLE, last_ring + w, last_ring + (w + 1) % SEGMENTS, true, true, true));

    g_blob->SetPolygons(polys);
}

const C3DObject2& effect_a_object() { return blob(); }

void effect_a_geometry(float t) {
    // Values marked float below are rounded to 32 bits on purpose: the picture (pixel truncation, depth
    // order) depends on it.
    Vector3D* out = blob().VertexStorage(BOTTOM_POLE + 1);
    *out++ = Vector3D(0.0, 300.0 * pulse_radius(0.0f, t), 0.0, 1.0);
    // The wobble factor k and the direction φ depend on the segment only, not on the ring: work them
    // out once per segment.
    double k[SEGMENTS], sin_phi[SEGMENTS], cos_phi[SEGMENTS];
    for (int j = 0; j < SEGMENTS; ++j) {
        const double alpha = j * double(0.05f) * double(PI_F);
        const float phi = static_cast<float>(2.0 * alpha);
        k[j] = double(0.9f) + double(0.1f) * std::cos(double(-2.15f) * t + 6.0 * alpha) +
               double(0.1f) * std::sin(double(4.0f) * t + 4.0 * alpha);
        sin_phi[j] = std::sin(double(phi));
        cos_phi[j] = std::cos(double(phi));
    }
    for (int g = 1; g <= RINGS; ++g) {
        const float u = static_cast<float>(g * 0.0625);
        const double r = 300.0 * pulse_radius(u, t);
        const double theta = g * double(PI_F) * 0.0625;
        const float rho = static_cast<float>(r * std::sin(theta));  // ring radius
        const double y = r * std::cos(theta);
        for (int j = 0; j < SEGMENTS; ++j) {
            const double radius = k[j] * rho;
            *out++ = Vector3D(radius * sin_phi[j], y, radius * cos_phi[j], 1.0);
        }
    }
    *out = Vector3D(0.0, -300.0 * pulse_radius(1.0f, t), 0.0, 1.0);
}

void effect_a_render(uint32_t* pixels, int /*ignored*/, float t, const Vector3D& pos) {
    const CMatrix camera = camera_matrix(pos);
    effect_a_geometry(t);
    const double a = 3.0 * double(t);
    CMatrix rz, ry, rx;
    rz.RotationZ(0.035 * a);
    ry.RotationY(0.051 * a);
    rx.RotationX(0.08 * a);
    C3DObject2& object = blob();
    object.SetRotation(rz * ry * rx);
    object.TransformVertices(camera);
    object.SetBrightness(1.0f);
    object.Draw(pixels);
}

}  // namespace zorbrix
