#include "engine3d/effects.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <map>
#include <string>
#include <utility>
#include <vector>

#include "engine3d/raster.h"
#include "gfx/png_writer.h"
#include "tests/support/test_paths.h"

using zorbrix::C3DObject2;
using zorbrix::CMatrix;
using zorbrix::effect_a_geometry;
using zorbrix::effect_a_init;
using zorbrix::effect_a_object;
using zorbrix::effect_a_render;
using zorbrix::effect_b_geometry;
using zorbrix::effect_b_init;
using zorbrix::effect_b_object;
using zorbrix::effect_b_render;
using zorbrix::face_height;
using zorbrix::HALF_DIAGONAL;
using zorbrix::pulse_radius;
using zorbrix::SCREEN_H;
using zorbrix::SCREEN_W;
using zorbrix::Vector3D;
using zorbrix::write_png_rgb;

namespace {

using poly_t = C3DObject2::poly_t;

void expect_poly(const poly_t& p, int a, int b, int c, bool ab, bool bc, bool ca) {
    EXPECT_EQ(p.a, a);
    EXPECT_EQ(p.b, b);
    EXPECT_EQ(p.c, c);
    EXPECT_EQ(bool(p.line_ab), ab);
    EXPECT_EQ(bool(p.line_bc), bc);
    EXPECT_EQ(bool(p.line_ca), ca);
}

// A closed, consistently oriented mesh uses every directed edge once and its reverse once.
void expect_closed(const C3DObject2& o, int vertex_count) {
    std::map<std::pair<int, int>, int> edges;
    const auto& polys = o.Polygons();
    for (int i = 0; i < polys.GetSize(); ++i) {
        const poly_t& p = polys[i];
        ASSERT_TRUE(p.a != p.b && p.b != p.c && p.c != p.a) << "triangle " << i;
        for (int v : {p.a, p.b, p.c}) ASSERT_TRUE(v >= 0 && v < vertex_count) << "triangle " << i;
        ++edges[{p.a, p.b}];
        ++edges[{p.b, p.c}];
        ++edges[{p.c, p.a}];
    }
    for (const auto& [edge, count] : edges) {
        EXPECT_EQ(count, 1) << "edge " << edge.first << "-" << edge.second << " used " << count << " times";
        const auto reverse = edges.find({edge.second, edge.first});
        EXPECT_TRUE(reverse != edges.end() && reverse->second == 1)
            << "edge " << edge.first << "-" << edge.second << " has no single opposite";
    }
}

uint64_t fnv1a(const std::vector<uint32_t>& px) {
    uint64_t h = 0xcbf29ce484222325ull;
    for (uint32_t p : px)
        for (int s = 0; s < 32; s += 8) h = (h ^ ((p >> s) & 0xFF)) * 0x100000001b3ull;
    return h;
}

std::string phase_name(float t) {
    char buf[32];
    std::snprintf(buf, sizeof buf, "%g", t);
    return buf;
}

}  // namespace

TEST(EffectA, MeshLayout) {
    effect_a_init();
    effect_a_geometry(0.0f);
    const C3DObject2& o = effect_a_object();
    ASSERT_EQ(o.Vertices().GetSize(), 302);
    ASSERT_EQ(o.Polygons().GetSize(), 600);
    expect_poly(o.Polygons()[0], 1, 0, 2, true, true, true);
    expect_poly(o.Polygons()[19], 20, 0, 1, true, true, true);
    expect_poly(o.Polygons()[20], 1, 2, 21, false, false, true);
    expect_poly(o.Polygons()[58], 20, 1, 40, false, false, true);
    expect_poly(o.Polygons()[59], 1, 21, 40, true, false, false);
    expect_poly(o.Polygons()[580], 301, 281, 282, true, true, true);
    expect_poly(o.Polygons()[599], 301, 300, 281, true, true, true);
    expect_closed(o, 302);
}

TEST(EffectA, ShapeAtPhaseZero) {
    effect_a_geometry(0.0f);
    const auto& v = effect_a_object().Vertices();
    EXPECT_NEAR(v[0].y, 210.0, 1e-4);  // top pole: 300 · 0.7
    EXPECT_NEAR(v[301].y, -300.0 * pulse_radius(1.0f, 0.0f), 1e-9);
    for (int g = 1; g <= 15; ++g) {
        // Segment 0 of every ring lies on the +z meridian with k = 1: its distance from the axis is the
        // ring radius r·sin θ and its height r·cos θ.
        const double r = 300.0 * pulse_radius(g / 16.0f, 0.0f), theta = g * M_PI / 16;
        const Vector3D& p = v[1 + 20 * (g - 1)];
        EXPECT_NEAR(p.x, 0.0, 1e-4);
        EXPECT_NEAR(p.z, r * std::sin(theta), 1e-3) << "ring " << g;
        EXPECT_NEAR(p.y, r * std::cos(theta), 1e-3) << "ring " << g;
    }
}

TEST(EffectB, MeshLayout) {
    effect_b_init();
    const C3DObject2& o = effect_b_object();
    ASSERT_EQ(o.Polygons().GetSize(), 764);
    const auto& p = o.Polygons();
    expect_poly(p[0], 0, 1, 8, true, false, true);
    expect_poly(p[1], 8, 1, 9, false, true, true);
    expect_poly(p[98], 65, 64, 72, true, true, false);  // face 1: the other split
    expect_poly(p[99], 65, 72, 73, false, true, true);
    expect_poly(p[588], 1, 0, 320, true, true, false);  // first seam
    expect_poly(p[589], 321, 1, 320, true, false, true);
    expect_poly(p[755], 255, 247, 127, true, false, true);  // last seam step
    expect_poly(p[756], 0, 128, 320, true, true, true);
    expect_poly(p[763], 127, 319, 255, true, true, true);
    expect_closed(o, 384);
}

TEST(EffectB, VerticesAndDisplacement) {
    EXPECT_DOUBLE_EQ(HALF_DIAGONAL, 247.48737341529164);
    EXPECT_DOUBLE_EQ(face_height(100.0, 0.0, 0.0, 2), 30.0);
    EXPECT_NEAR(face_height(0.0, M_PI / 2, 0.0, 2), 100.0, 1e-5);  // strongest at the centre
    EXPECT_DOUBLE_EQ(face_height(400.0, 1.0, 0.3, 2), 30.0);       // beyond the corner: no NaN
    EXPECT_EQ(face_height(50.0, 1.0, 0.3, 0), 0.0);

    effect_b_geometry(0.0, 2);
    const auto& v = effect_b_object().Vertices();
    ASSERT_EQ(v.GetSize(), 384);
    // Face 0 is pushed along -z only, its grid running from s_1 to s_8 = ±136.111; face 3 (x = +175)
    // is pushed along +x.
    EXPECT_NEAR(v[0].x, -136.1111, 1e-3);
    EXPECT_NEAR(v[63].y, 136.1111, 1e-3);
    EXPECT_LT(v[0].z, -175.0 + 70.0 - 30.0);
    EXPECT_GT(v[3 * 64 + 27].x, 175.0 - 40.0);

    effect_b_geometry(0.0, 1);  // flat faces in the other modes
    EXPECT_EQ(effect_b_object().Vertices()[0].z, -175.0);
}

TEST(EffectB, ModeTwoSpinsTwoAndAHalfTimesFaster) {
    std::vector<uint32_t> px(SCREEN_W * SCREEN_H, 0);
    effect_b_render(px.data(), 1.5f, 2, 1.5f, Vector3D(0, 0, 0, 1));
    const CMatrix fast = effect_b_object().Rotation();
    effect_b_render(px.data(), 3.75f, 1, 1.5f, Vector3D(0, 0, 0, 1));
    const CMatrix slow = effect_b_object().Rotation();
    for (int r = 0; r < 4; ++r)
        for (int c = 0; c < 4; ++c) EXPECT_EQ(fast.Get(r, c), slow.Get(r, c));
}

TEST(EffectA, SecondArgumentIsNotRead) {
    std::vector<uint32_t> a(SCREEN_W * SCREEN_H, 0), b(SCREEN_W * SCREEN_H, 0);
    effect_a_render(a.data(), 0, 2.0f, Vector3D(0, 0, 0, 1));
    effect_a_render(b.data(), 12345, 2.0f, Vector3D(0, 0, 0, 1));
    EXPECT_EQ(a, b);
}

// Frozen renders into a black screen, after looking at the pictures (build/test-output/effect_*.png).
TEST(Effects, GoldenPictures) {
    struct Golden {
        char effect;
        float t;
        uint64_t hash;
    };
    const Golden goldens[] = {
        {'a', 0.0f, 0xa683e61d89b8af1dull}, {'a', 1.5f, 0xea9db2389c1861efull}, {'a', 7.25f, 0xb9fdc32f5a209ef8ull},
        {'b', 0.0f, 0xc5ae58ab24c5440full}, {'b', 1.5f, 0x6f71efed2fbc2734ull}, {'b', 7.25f, 0x081173b478070c81ull},
    };
    effect_b_init();
    effect_a_init();
    for (const Golden& g : goldens) {
        std::vector<uint32_t> px(SCREEN_W * SCREEN_H, 0);
        if (g.effect == 'a')
            effect_a_render(px.data(), 0, g.t, Vector3D(0, 0, 0, 1));
        else
            effect_b_render(px.data(), g.t, 2, 1.5f, Vector3D(0, 0, 0, 1));
        const std::string name = std::string("effect_") + g.effect + "_" + phase_name(g.t) + ".png";
        EXPECT_TRUE(write_png_rgb(test_output_path(name), px.data(), SCREEN_W, SCREEN_H));
        EXPECT_EQ(fnv1a(px), g.hash) << name << " hash 0x" << std::hex << fnv1a(px);
    }
}
