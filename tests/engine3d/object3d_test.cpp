#include "engine3d/object3d.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <limits>
#include <random>
#include <vector>

#include "engine3d/raster.h"
#include "engine3d/shade_kernels.h"
#include "tests/support/kernel_levels.h"

using zorbrix::C3DObject2;
using zorbrix::camera_matrix;
using zorbrix::CArray;
using zorbrix::CList;
using zorbrix::CMatrix;
using zorbrix::DepthKey;
using zorbrix::DepthSortScratch;
using zorbrix::draw_line_add;
using zorbrix::fill_triangle;
using zorbrix::quicksort_by_depth;
using zorbrix::SCREEN_H;
using zorbrix::SCREEN_W;
using zorbrix::shade_kernels_for;
using zorbrix::ShadeKernels;
using zorbrix::sort_by_depth;
using zorbrix::Vector3D;

namespace {

using poly_t = C3DObject2::poly_t;

poly_t tri(int a, int b, int c, bool lines = false) {
    poly_t p;
    p.a = a;
    p.b = b;
    p.c = c;
    p.line_ab = p.line_bc = p.line_ca = lines;
    return p;
}

// An object whose vertices are given in screen offsets from the centre (identity camera: x + 256, y + 192).
struct Flat {
    C3DObject2 object;
    std::vector<uint32_t> px = std::vector<uint32_t>(SCREEN_W * SCREEN_H, 0);

    Flat(std::initializer_list<Vector3D> points, std::initializer_list<poly_t> polys) {
        CList<Vector3D> v;
        for (const auto& p : points) v.AddHead(p);
        CList<poly_t> t;
        for (const auto& p : polys) t.AddHead(p);
        object.SetVertices(v);
        object.SetPolygons(t);
        object.SetFillColour(0xFAE0AF);
        object.SetLineColour(0x404040);
        object.TransformVertices(CMatrix());
    }
    uint32_t at(int x, int y) const { return px[y * SCREEN_W + x]; }
    int painted() const {
        return int(std::count_if(px.begin(), px.end(), [](uint32_t p) { return p; }));
    }
};

}  // namespace

TEST(C3DObject2, DrawsClockwiseTrianglesAndCullsTheRest) {
    // Screen points (0,0), (100,0), (0,100) around the centre: clockwise with y down.
    Flat drawn({Vector3D(0, 0, 0, 1), Vector3D(100, 0, 0, 1), Vector3D(0, 100, 0, 1)}, {tri(0, 1, 2, true)});
    drawn.object.Draw(drawn.px.data());
    EXPECT_NE(drawn.at(256 + 20, 192 + 20), 0u);
    // Face-on (normal along z): full fill colour, and the edge a-b is lined on top of it.
    EXPECT_EQ(drawn.at(256 + 30, 192 + 30), 0xFAE0AFu);
    EXPECT_EQ(drawn.at(256 + 50, 192), std::min(0xFAu + 0x40u, 0xFFu) << 16 | 0xFF00 | (0xAF + 0x40));

    Flat reversed({Vector3D(0, 0, 0, 1), Vector3D(100, 0, 0, 1), Vector3D(0, 100, 0, 1)}, {tri(0, 2, 1, true)});
    reversed.object.Draw(reversed.px.data());
    EXPECT_EQ(reversed.painted(), 0);  // neither fill nor lines

    // Collinear on screen (a triangle standing edge-on to the viewer) is culled too.
    Flat edge_on({Vector3D(0, 0, 0, 1), Vector3D(100, 0, 50, 1), Vector3D(50, 0, -80, 1)}, {tri(0, 1, 2, true)});
    edge_on.object.Draw(edge_on.px.data());
    EXPECT_EQ(edge_on.painted(), 0);
}

TEST(C3DObject2, ShadingAndLineColourArithmetic) {
    EXPECT_EQ(C3DObject2::ShadeColour(0xFAE0AF, Vector3D(0, 0, 1, 1)), 0xFAE0AFu);
    EXPECT_EQ(C3DObject2::ShadeColour(0xFAE0AF, Vector3D(0, 0, -1, 1)), 0xFAE0AFu);  // facing away: also 1
    // sqrt(1 - 0.75) = 0.5: 250, 224, 175 become 125, 112, 87.
    EXPECT_EQ(C3DObject2::ShadeColour(0xFAE0AF, Vector3D(0, 0.75, 0.6614378277661477, 1)), 0x7D7057u);
    // Rounding just past edge-on, and a non-finite normal, give black rather than garbage.
    EXPECT_EQ(C3DObject2::ShadeColour(0xFAE0AF, Vector3D(0, 1.0000000000000002, 0, 1)), 0u);
    const double nan = std::numeric_limits<double>::quiet_NaN();
    EXPECT_EQ(C3DObject2::ShadeColour(0xFAE0AF, Vector3D(nan, nan, nan, 1)), 0u);

    EXPECT_EQ(C3DObject2::ScaleColour(0x404040, 1.0f), 0x404040u);
    EXPECT_EQ(C3DObject2::ScaleColour(0x404041, 0.5f), 0x202020u);
}

TEST(C3DObject2, SharedVerticesAreHomogenisedOnceAndBadIndicesThrow) {
    C3DObject2 o;
    CList<Vector3D> v;
    for (const auto& p : {Vector3D(0, 0, 0, 1), Vector3D(90, 0, 0, 1), Vector3D(0, 90, 0, 1), Vector3D(90, 90, 0, 1)})
        v.AddHead(p);
    CList<poly_t> t;
    t.AddHead(tri(0, 1, 2));
    t.AddHead(tri(2, 1, 3));
    o.SetVertices(v);
    o.SetPolygons(t);
    o.SetFillColour(0xFFFFFF);
    o.TransformVertices(camera_matrix(Vector3D(0, 0, 0, 1)));
    EXPECT_NEAR(o.Projected()[1].w, 3.0, 1e-9);  // pushed two focal lengths away
    std::vector<uint32_t> px(SCREEN_W * SCREEN_H, 0);
    o.Draw(px.data());
    for (int i = 0; i < 4; ++i) EXPECT_EQ(o.Projected()[i].w, 1.0);
    EXPECT_NEAR(o.Projected()[3].x, 30.0, 1e-6);  // divided once, not once per triangle
    EXPECT_NE(px[(192 + 20) * SCREEN_W + 256 + 20], 0u);

    CList<poly_t> bad;
    bad.AddHead(tri(0, 1, 4));
    o.SetPolygons(bad);
    EXPECT_THROW(o.Draw(px.data()), CArray<Vector3D>::Constraint);

    // The check is remembered per mesh and vertex count: fewer vertices make good indices bad again.
    o.SetPolygons(t);
    EXPECT_NO_THROW(o.Draw(px.data()));
    CList<Vector3D> three;
    for (const auto& p : {Vector3D(0, 0, 0, 1), Vector3D(90, 0, 0, 1), Vector3D(0, 90, 0, 1)}) three.AddHead(p);
    o.SetVertices(three);
    o.TransformVertices(camera_matrix(Vector3D(0, 0, 0, 1)));
    EXPECT_THROW(o.Draw(px.data()), CArray<Vector3D>::Constraint);
}

TEST(C3DObject2, AnEmptyObjectDrawsNothing) {
    C3DObject2 o;
    std::vector<uint32_t> px(SCREEN_W * SCREEN_H, 0);
    o.TransformVertices(CMatrix());
    EXPECT_NO_THROW(o.Draw(px.data()));
    EXPECT_TRUE(std::all_of(px.begin(), px.end(), [](uint32_t p) { return p == 0; }));
}

TEST(DepthSort, GivesExactlyTheQuicksortOrder) {
    // With distinct depths any sort agrees; with ties, NaNs or signed zeros only the quicksort's own
    // exchanges define the order, and the fast path must hand over to it.
    std::mt19937 rng(21);
    DepthSortScratch scratch;
    for (int n = 0; n < 400; ++n) {
        const int count = int(rng() % 900);
        const int kind = n % 4;
        std::vector<DepthKey> fast(count), reference;
        for (int i = 0; i < count; ++i) {
            float d = std::uniform_real_distribution<float>(-2000, 2000)(rng);
            if (kind == 1) d = std::round(d / 200);  // many ties
            if (kind == 2 && rng() % 50 == 0) d = std::numeric_limits<float>::quiet_NaN();
            if (kind == 3 && rng() % 20 == 0) d = rng() % 2 ? 0.0f : -0.0f;
            fast[i] = DepthKey{d, i};
        }
        reference = fast;
        if (count > 0) quicksort_by_depth(reference.data(), 0, count - 1);
        for (int i = 1; i < count && kind != 2; ++i) ASSERT_GE(reference[i - 1].depth, reference[i].depth);
        sort_by_depth(fast.data(), count, scratch);
        for (int i = 0; i < count; ++i) ASSERT_EQ(fast[i].index, reference[i].index) << "case " << n << " at " << i;
    }
}

// Draw sorts only the triangles it draws when their order is unique, and everything otherwise; either
// way the picture must be that of drawing in the full sort order, ties and NaN depths included.
TEST(C3DObject2, DrawPaintsInTheFullSortOrder) {
    std::mt19937 rng(3);
    for (int n = 0; n < 80; ++n) {
        // Distinct depths; many ties; a NaN depth on triangles that are drawn; NaN depths only on
        // triangles facing away, which the quicksort still meets.
        const int kind = n % 4;
        std::vector<Vector3D> points;
        for (int i = 0; i < 40; ++i) {
            const auto coordinate = [&] { return double(int(rng() % 301) - 150); };
            const double z =
                kind != 1 ? std::uniform_real_distribution<double>(-50, 50)(rng) : double(int(rng() % 5) - 2);
            points.push_back(Vector3D(coordinate(), coordinate(), i == 7 && kind >= 2 ? std::nan("") : z, 1));
        }
        CList<Vector3D> v;
        for (const Vector3D& p : points) v.AddHead(p);
        CList<poly_t> t;
        for (int i = 0; i < 120; ++i) {
            poly_t p = tri(int(rng() % 40), int(rng() % 40), int(rng() % 40), rng() % 2);
            // Screen positions: a NaN anywhere in a point sends it to the far corner (-16384, -16384).
            const auto sx = [&](int i) { return i == 7 && kind >= 2 ? -16384.0 : points[i].x + 256; };
            const auto sy = [&](int i) { return i == 7 && kind >= 2 ? -16384.0 : points[i].y + 192; };
            const bool clockwise =
                (sx(p.b) - sx(p.a)) * (sy(p.c) - sy(p.a)) - (sx(p.c) - sx(p.a)) * (sy(p.b) - sy(p.a)) > 0;
            if (kind == 3 && clockwise && (p.a == 7 || p.b == 7 || p.c == 7)) std::swap(p.b, p.c);
            t.AddHead(p);
        }

        C3DObject2 drawn, reference;
        for (C3DObject2* o : {&drawn, &reference}) {
            o->SetVertices(v);
            o->SetPolygons(t);
            o->SetFillColour(0xFAE0AF);
            o->SetLineColour(0x404040);
            o->TransformVertices(CMatrix());
        }
        std::vector<uint32_t> ours(SCREEN_W * SCREEN_H, 0), expected(SCREEN_W * SCREEN_H, 0);
        drawn.Draw(ours.data());

        reference.ComputeNormals();
        reference.SortPolygons();
        const auto screen = [&](int i, int& x, int& y) {
            Vector3D p = reference.Projected()[i];
            p.Homogenize();
            x = C3DObject2::ScreenCoordinate(p.x, SCREEN_W / 2);
            y = C3DObject2::ScreenCoordinate(p.y, SCREEN_H / 2);
        };
        for (int k = 0; k < reference.Order().GetSize(); ++k) {
            const poly_t& p = reference.Polygons()[reference.Order()[k]];
            int x0, y0, x1, y1, x2, y2;
            screen(p.a, x0, y0);
            screen(p.b, x1, y1);
            screen(p.c, x2, y2);
            if (int64_t(x1 - x0) * (y2 - y0) - int64_t(x2 - x0) * (y1 - y0) <= 0) continue;
            fill_triangle(x0, y0, x1, y1, x2, y2, C3DObject2::ShadeColour(0xFAE0AF, p.normal), expected.data());
            if (p.line_ab) draw_line_add(expected.data(), x0, y0, x1, y1, 0x404040);
            if (p.line_ca) draw_line_add(expected.data(), x0, y0, x2, y2, 0x404040);
            if (p.line_bc) draw_line_add(expected.data(), x2, y2, x1, y1, 0x404040);
        }
        ASSERT_EQ(ours, expected) << "case " << n;
    }
}

class ShadeKernelLevels : public zorbrix::test::KernelLevelTest {};
ZORBRIX_KERNEL_LEVELS(ShadeKernelLevels);

TEST_P(ShadeKernelLevels, PairsMatchTheScalarReferenceBitForBit) {
    const ShadeKernels ref = shade_kernels_for(zorbrix::CpuLevel::scalar), k = shade_kernels_for(level());
    std::mt19937 rng(9);
    std::uniform_real_distribution<double> coordinate(-400, 400);
    int compared = 0;
    for (int n = 0; n < 20000; ++n) {
        Vector3D corners[2][3];
        for (auto& triangle : corners)
            for (auto& p : triangle) p = Vector3D(coordinate(rng), coordinate(rng), coordinate(rng), 1);
        if (n % 10 == 0) corners[0][2] = corners[0][1];  // degenerate: NaN normal
        if (n % 10 == 1) corners[1][1] = Vector3D(corners[1][0].x, corners[1][0].y, corners[1][0].z + 5, 1);  // edge-on
        if (n % 10 == 2) corners[1][0].x *= 1e-300;  // tiny and huge magnitudes
        const Vector3D* a[2] = {&corners[0][0], &corners[1][0]};
        const Vector3D* b[2] = {&corners[0][1], &corners[1][1]};
        const Vector3D* c[2] = {&corners[0][2], &corners[1][2]};
        Vector3D scalar_normal[2], vector_normal[2];
        uint32_t scalar_colour[2], vector_colour[2];
        const uint32_t fill = uint32_t(rng()) & 0xFFFFFF;
        ref.normals_and_colours(a, b, c, fill, scalar_normal, scalar_colour);
        k.normals_and_colours(a, b, c, fill, vector_normal, vector_colour);
        for (int k = 0; k < 2; ++k) {
            ASSERT_EQ(scalar_colour[k], vector_colour[k]) << n;
            ASSERT_EQ(0, std::memcmp(&scalar_normal[k], &vector_normal[k], sizeof(Vector3D))) << n;
            ++compared;
        }
    }
    EXPECT_EQ(compared, 40000);
}
