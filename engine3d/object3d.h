#pragma once
// The engine's solid object: a triangle mesh over a vertex array, drawn as flat-shaded triangles in
// back-to-front order with selected edges added on top as light lines; and the camera both effects use.

#include <cstdint>
#include <vector>

#include "engine3d/containers.h"
#include "engine3d/depth_sort.h"
#include "engine3d/matrix.h"
#include "engine3d/vector3d.h"

namespace zorbrix {

class C3DObject2 {
public:
    // One triangle. The normal and the depth are scratch values: Draw rewrites every depth, and the
    // normals of the triangles it draws (ComputeNormals rewrites all of them).
    struct poly_t {
        int32_t a = 0, b = 0, c = 0;                    // vertex indices
        uint8_t line_ab = 0, line_bc = 0, line_ca = 0;  // nonzero: draw that edge as a line
        Vector3D normal;
        float depth = 0.0f;  // sum of the rotated z of the three vertices
    };

    C3DObject2() = default;
    virtual ~C3DObject2() = default;

    void SetVertices(const CList<Vector3D>& vertices);
    // Storage for count vertices that the caller fills in place (for meshes rebuilt every frame); the
    // previous contents are unspecified when the count changes.
    Vector3D* VertexStorage(int count);
    void SetPolygons(const CList<poly_t>& polygons);
    void SetRotation(const CMatrix& rotation);
    void SetBrightness(float brightness) { m_brightness = brightness; }
    void SetLineColour(uint32_t colour) { m_lineColour = colour; }
    void SetFillColour(uint32_t colour) { m_fillColour = colour; }

    // Rotates every vertex, and projects it through camera·rotation.
    void TransformVertices(const CMatrix& camera);
    // Unit normal and depth of every triangle from the rotated vertices.
    void ComputeNormals();
    // Draw order by descending depth (farthest first), as the engine's own unstable quicksort leaves it.
    void SortPolygons();
    // Shades, sorts and draws into 512 x 384 pixels; must follow TransformVertices after any change of
    // vertices. An object without triangles draws nothing.
    virtual void Draw(uint32_t* pixels);

    // Read access for inspection (tests, tools).
    const CArray<Vector3D>& Vertices() const { return m_vertices; }
    const CArray<Vector3D>& Rotated() const { return m_rotated; }
    const CArray<Vector3D>& Projected() const { return m_projected; }
    const CArray<poly_t>& Polygons() const { return m_polys; }
    const CArray<int>& Order() const { return m_order; }  // as SortPolygons last left it
    const CMatrix& Rotation() const { return m_rotation; }
    uint32_t LineColour() const { return m_lineColour; }
    uint32_t FillColour() const { return m_fillColour; }

    // Colour of a triangle with this normal: sqrt(1 - sqrt(ny² + nx²)) per channel, nx first rounded to a
    // float; 1 facing the viewer (or away), 0 edge-on. A rounding excess past edge-on gives 0.
    static uint32_t ShadeColour(uint32_t fill, const Vector3D& normal);
    // Each channel times the brightness, truncated, without clamping.
    static uint32_t ScaleColour(uint32_t colour, float brightness);
    // trunc(v + centre) as a screen coordinate; values far off screen (or not finite) are pinned to
    // ±16384 so that every later difference fits the rasterizer's fixed point.
    static int ScreenCoordinate(double v, double centre);

private:
    // Throws CArray<Vector3D>::Constraint if a triangle names a vertex without a rotated or projected point.
    void CheckIndices() const;
    void ComputeNormal(poly_t& p) const;
    void ComputeDepths();
    // The sum of the rotated z of the three corners, rounded to a float.
    static float Depth(const poly_t& p, const Vector3D* rotated) {
        return static_cast<float>((rotated[p.c].z + rotated[p.b].z) + rotated[p.a].z);
    }

    float m_brightness = 1.0f;
    CArray<int> m_order;
    CArray<poly_t> m_polys;
    CMatrix m_rotation;
    CArray<Vector3D> m_vertices;
    CArray<Vector3D> m_rotated;
    CArray<Vector3D> m_projected;
    uint32_t m_lineColour = 0;
    uint32_t m_fillColour = 0;
    std::vector<DepthKey> m_sortKeys;  // scratch of SortPolygons and Draw
    DepthSortScratch m_sortScratch;
    struct ScreenPoint {
        int x, y;
    };
    std::vector<ScreenPoint> m_screen;  // scratch of Draw
    std::vector<int> m_used;            // the vertices the triangles use, ascending
    int m_usedFor[2] = {-1, -1};        // the sizes of the projected and rotated arrays they were made for
    // A triangle as Draw rasterizes it: screen corners, colour, and which edges get lines.
    struct DrawItem {
        static constexpr uint32_t LINE_AB = 1, LINE_BC = 2, LINE_CA = 4;
        int x0, y0, x1, y1, x2, y2;
        uint32_t colour;
        uint32_t lines;
    };
    std::vector<DrawItem> m_drawItems;  // scratch of Draw
};

// Camera for a horizontal field of view fov over a screen width: focal = (width / 2) / tan(fov / 2) and
// the viewing distance = focal · 0.001 · depthScale.
void camera_setup(double fov, double width, double depthScale, double& focal, double& distance);

// The effects' camera for a position pos: Projection(focal) · Translation((0, 0, distance)) ·
// Translation(pos), with the effects' field of view (53.13 degrees), width 400 and depth scale 2000, so
// a point at model z = 0 is drawn at a third of its size.
CMatrix camera_matrix(const Vector3D& pos);

}  // namespace zorbrix
