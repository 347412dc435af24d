#include "engine3d/object3d.h"

#include <algorithm>
#include <cmath>

#include "engine3d/depth_sort.h"
#include "engine3d/raster.h"
#include "engine3d/shade_kernels.h"
#include "engine3d/transform_kernels.h"

namespace zorbrix {

void C3DObject2::SetVertices(const CList<Vector3D>& vertices) { m_vertices.CopyFrom(vertices); }

Vector3D* C3DObject2::VertexStorage(int count) {
    if (m_vertices.GetSize() != count) m_vertices.SetSize(count);
    return m_vertices.Data();
}

void C3DObject2::SetPolygons(const CList<poly_t>& polygons) {
    m_polys.CopyFrom(polygons);
    m_usedFor[0] = m_usedFor[1] = -1;
}

void C3DObject2::SetRotation(const CMatrix& rotation) { m_rotation = rotation; }

void C3DObject2::TransformVertices(const CMatrix& camera) {
    const CMatrix k = camera * m_rotation;
    if (m_rotation.Rows() != 4 || m_rotation.Cols() != 4) throw CMatrix::Error{};
    const int count = m_vertices.GetSize();
    if (m_projected.GetSize() != count) m_projected.SetSize(count);
    if (m_rotated.GetSize() != count) m_rotated.SetSize(count);
    const Vector3D* in = m_vertices.Data();
    Vector3D* projected = m_projected.Data();
    Vector3D* rotated = m_rotated.Data();
    const TransformKernels& t = transform_kernels();
    t.points(k.Data(), in, projected, static_cast<size_t>(count));
    t.points(m_rotation.Data(), in, rotated, static_cast<size_t>(count));
}

void C3DObject2::CheckIndices() const {
    // Indices are checked against both arrays: a vertex without a projection is an error too.
    const unsigned limit = static_cast<unsigned>(std::min(m_projected.GetSize(), m_rotated.GetSize()));
    const int count = m_polys.GetSize();
    const poly_t* polys = m_polys.Data();
    for (int i = 0; i < count; ++i) {
        const poly_t& p = polys[i];
        if (static_cast<unsigned>(p.a) >= limit || static_cast<unsigned>(p.b) >= limit ||
            static_cast<unsigned>(p.c) >= limit)
            throw CArray<Vector3D>::Constraint{};
    }
}

void C3DObject2::ComputeNormal(poly_t& p) const {
    const Vector3D* rotated = m_rotated.Data();
    p.normal = shade::normal_scalar(rotated[p.a], rotated[p.b], rotated[p.c]);
}

void C3DObject2::ComputeDepths() {
    const int count = m_polys.GetSize();
    poly_t* polys = m_polys.Data();
    const Vector3D* rotated = m_rotated.Data();
    for (int i = 0; i < count; ++i) polys[i].depth = Depth(polys[i], rotated);
}

void C3DObject2::ComputeNormals() {
    CheckIndices();
    const int count = m_polys.GetSize();
    poly_t* polys = m_polys.Data();
    for (int i = 0; i < count; ++i) ComputeNormal(polys[i]);
    ComputeDepths();
}

void C3DObject2::SortPolygons() {
    const int count = m_polys.GetSize();
    if (m_order.GetSize() != count) m_order.SetSize(count);
    m_sortKeys.resize(static_cast<size_t>(count));
    const poly_t* polys = m_polys.Data();
    for (int i = 0; i < count; ++i) m_sortKeys[i] = DepthKey{polys[i].depth, i};
    sort_by_depth(m_sortKeys.data(), count, m_sortScratch);
    int* order = m_order.Data();
    for (int i = 0; i < count; ++i) order[i] = m_sortKeys[i].index;
}

namespace {

// A scaled channel truncated toward zero; a value no int can hold (only from absurd brightness) gives 0.
uint32_t truncate_channel(double v) {
    if (!(v > -2147483648.0 && v < 2147483648.0)) return 0;
    return static_cast<uint32_t>(static_cast<int32_t>(v));
}

}  // namespace

uint32_t C3DObject2::ScaleColour(uint32_t colour, float brightness) {
    const uint32_t r = truncate_channel(static_cast<float>((colour >> 16) & 0xFF) * brightness);
    const uint32_t g = truncate_channel(static_cast<float>((colour >> 8) & 0xFF) * brightness);
    const uint32_t b = truncate_channel(static_cast<float>(colour & 0xFF) * brightness);
    return (r << 8 | g) << 8 | b;
}

uint32_t C3DObject2::ShadeColour(uint32_t fill, const Vector3D& normal) { return shade::colour_scalar(fill, normal); }

int C3DObject2::ScreenCoordinate(double v, double centre) {
    constexpr double LIMIT = 16384.0;
    const double s = v + centre;
    if (s >= -LIMIT && s <= LIMIT) return static_cast<int>(s);
    return s > LIMIT ? static_cast<int>(LIMIT) : -static_cast<int>(LIMIT);  // NaN goes to the far left
}

void C3DObject2::Draw(uint32_t* pixels) {
    const uint32_t line = ScaleColour(m_lineColour, m_brightness);
    const int count = m_polys.GetSize();
    poly_t* polys = m_polys.Data();
    // The indices are checked, and the vertices the triangles use listed, once per change of the
    // triangles or of the vertex count: the effects draw the same mesh every frame.
    const int vertex_count = m_projected.GetSize();
    if (m_usedFor[0] != vertex_count || m_usedFor[1] != m_rotated.GetSize()) {
        CheckIndices();
        std::vector<bool> used(static_cast<size_t>(vertex_count), false);
        for (int i = 0; i < count; ++i) used[polys[i].a] = used[polys[i].b] = used[polys[i].c] = true;
        m_used.clear();
        for (int v = 0; v < vertex_count; ++v)
            if (used[static_cast<size_t>(v)]) m_used.push_back(v);
        m_usedFor[0] = vertex_count;
        m_usedFor[1] = m_rotated.GetSize();
    }
    // Screen points of the used vertices: homogenised in place (once) and truncated to pixels.
    m_screen.resize(static_cast<size_t>(vertex_count));
    ScreenPoint* screen = m_screen.data();
    Vector3D* projected = m_projected.Data();
    for (const int v : m_used) {
        Vector3D& p = projected[v];
        p.Homogenize();
        screen[v] = ScreenPoint{ScreenCoordinate(p.x, SCREEN_W / 2), ScreenCoordinate(p.y, SCREEN_H / 2)};
    }

    // Everything a triangle needs before the sort, in list order: its depth, whether it faces the viewer,
    // and for those that do, the normal and the colour, two triangles at a time.
    m_drawItems.resize(static_cast<size_t>(count));
    DrawItem* items = m_drawItems.data();
    m_sortKeys.clear();
    const Vector3D* rotated = m_rotated.Data();
    bool any_nan = false;
    for (int i = 0; i < count; ++i) {
        poly_t& t = polys[i];
        t.depth = Depth(t, rotated);
        any_nan |= t.depth != t.depth;
        const ScreenPoint& a = screen[t.a];
        const ScreenPoint& b = screen[t.b];
        const ScreenPoint& c = screen[t.c];
        // Back faces and triangles seen edge-on run counter-clockwise or not at all (y is down).
        const int64_t turn = int64_t(b.x - a.x) * (c.y - a.y) - int64_t(c.x - a.x) * (b.y - a.y);
        if (turn <= 0) continue;
        const uint32_t lines = (t.line_ab ? DrawItem::LINE_AB : 0u) | (t.line_bc ? DrawItem::LINE_BC : 0u) |
                               (t.line_ca ? DrawItem::LINE_CA : 0u);
        items[i] = DrawItem{a.x, a.y, b.x, b.y, c.x, c.y, 0, lines};
        m_sortKeys.push_back(DepthKey{t.depth, i});
    }
    const size_t drawn = m_sortKeys.size();
    const shade::NormalsAndColoursFn normals_and_colours = shade_kernels().normals_and_colours.fn;
    for (size_t k = 0; k < drawn; k += 2) {
        // An odd last triangle is paired with itself.
        const int pair[2] = {m_sortKeys[k].index, m_sortKeys[std::min(k + 1, drawn - 1)].index};
        const Vector3D* a[2];
        const Vector3D* b[2];
        const Vector3D* c[2];
        for (int j = 0; j < 2; ++j) {
            const poly_t& t = polys[pair[j]];
            a[j] = &rotated[t.a];
            b[j] = &rotated[t.b];
            c[j] = &rotated[t.c];
        }
        Vector3D normals[2];
        uint32_t colours[2];
        normals_and_colours(a, b, c, m_fillColour, normals, colours);
        for (int j = 0; j < 2; ++j) {
            polys[pair[j]].normal = normals[j];
            items[pair[j]].colour = colours[j];
        }
    }

    // Back to front: the order of all triangles by depth (SortPolygons), of which only the drawn ones
    // matter. Without NaNs that order is sorted, so when the drawn triangles' depths are distinct it is
    // simply their own descending order. Otherwise sort everything as SortPolygons does and keep the
    // drawn ones.
    if (any_nan || !sort_distinct_depths(m_sortKeys.data(), static_cast<int>(m_sortKeys.size()), m_sortScratch)) {
        std::vector<bool> visible(static_cast<size_t>(count), false);
        for (const DepthKey& key : m_sortKeys) visible[static_cast<size_t>(key.index)] = true;
        m_sortKeys.resize(static_cast<size_t>(count));
        for (int i = 0; i < count; ++i) m_sortKeys[static_cast<size_t>(i)] = DepthKey{polys[i].depth, i};
        sort_by_depth(m_sortKeys.data(), count, m_sortScratch);
        std::erase_if(m_sortKeys, [&](const DepthKey& key) { return !visible[static_cast<size_t>(key.index)]; });
    }

    for (const DepthKey& key : m_sortKeys) {
        const DrawItem& d = items[key.index];
        fill_triangle(d.x0, d.y0, d.x1, d.y1, d.x2, d.y2, d.colour, pixels);
        if (d.lines & DrawItem::LINE_AB) draw_line_add(pixels, d.x0, d.y0, d.x1, d.y1, line);
        if (d.lines & DrawItem::LINE_CA) draw_line_add(pixels, d.x0, d.y0, d.x2, d.y2, line);
        if (d.lines & DrawItem::LINE_BC) draw_line_add(pixels, d.x2, d.y2, d.x1, d.y1, line);
    }
}

void camera_setup(double fov, double width, double depthScale, double& focal, double& distance) {
    focal = (width * 0.5) / std::tan(fov * 0.5);
    distance = focal * 0.001 * depthScale;
}

CMatrix camera_matrix(const Vector3D& pos) {
    constexpr float PI_F = 3.1415927f;
    double focal, distance;
    camera_setup(PI_F * 0.2951666666666667, 400.0, 2000.0, focal, distance);
    CMatrix projection, push, move;
    projection.Projection(focal);
    push.Translation(Vector3D(0.0, 0.0, distance, 1.0));
    move.Translation(pos);
    return projection * push * move;
}

}  // namespace zorbrix
