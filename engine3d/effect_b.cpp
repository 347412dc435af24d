// Effect B: a cube whose six faces are 8 x 8 grids that bulge outward and ripple round their centres,
// joined by seam strips across the cube edges and corner triangles into one closed mesh.

#include <algorithm>
#include <cmath>
#include <memory>
#include <vector>

#include "engine3d/effects.h"

namespace zorbrix {

const double HALF_DIAGONAL = std::sqrt((CUBE_SIZE * 0.5) * (CUBE_SIZE * 0.5) * 2.0);

namespace {

constexpr float PI_F = 3.1415927f;
constexpr float GRID_STEP = 0.11111111f;  // 1/9 of the cube size between grid lines
constexpr int GRID = 8;
constexpr uint32_t LINE_COLOUR = 0x404040;
constexpr uint32_t FILL_COLOUR = 0xFAE0AF;

std::unique_ptr<C3DObject2> g_cube;

C3DObject2& cube() {
    if (!g_cube) effect_b_init();
    return *g_cube;
}

int v(int f, int r, int c) { return 64 * f + 8 * r + c; }

// Grid coordinates: columns use the exact product k·q, rows the product rounded to a float first.
double column_coordinate(int k) { return double(CUBE_SIZE) * (k * double(GRID_STEP)) - 175.0; }
double row_coordinate(int k) { return double(CUBE_SIZE) * double(float(k * GRID_STEP)) - 175.0; }

struct Face {
    Vector3D centre;
    Vector3D normal;
};

const Face FACES[6] = {
    {Vector3D(0, 0, -175, 1), Vector3D(0, 0, -1, 1)}, {Vector3D(0, 0, 175, 1), Vector3D(0, 0, 1, 1)},
    {Vector3D(-175, 0, 0, 1), Vector3D(-1, 0, 0, 1)}, {Vector3D(175, 0, 0, 1), Vector3D(1, 0, 0, 1)},
    {Vector3D(0, 175, 0, 1), Vector3D(0, 1, 0, 1)},   {Vector3D(0, -175, 0, 1), Vector3D(0, -1, 0, 1)},
};

Vector3D grid_point(int f, int r, int c) {
    const double h = CUBE_SIZE * 0.5;
    const double sc = column_coordinate(c + 1);
    const double sr = row_coordinate(r + 1);
    switch (f) {
    case 0: return Vector3D(sc, sr, -h, 1);
    case 1: return Vector3D(sc, sr, h, 1);
    case 2: return Vector3D(-h, sr, sc, 1);
    case 3: return Vector3D(h, sr, sc, 1);
    case 4: return Vector3D(sc, h, sr, 1);
    default: return Vector3D(sc, -h, sr, 1);
    }
}

// Angle of an offset from the face centre, measured in the face's own plane.
double face_angle(int f, const Vector3D& p) {
    if (f <= 1) return std::atan2(p.x, p.y);
    if (f <= 3) return std::atan2(p.y, p.z);
    return std::atan2(p.x, p.z);
}

struct MeshBuilder {
    CList<C3DObject2::poly_t> list;
    void add(int a, int b, int c, bool ab, bool bc, bool ca) {
        C3DObject2::poly_t p;
        p.a = a;
        p.b = b;
        p.c = c;
        p.line_ab = ab;
        p.line_bc = bc;
        p.line_ca = ca;
        list.AddHead(p);
    }
};

// The 764 triangles: face grids, then the seams across the twelve cube edges, then the eight corners.
// Every quad side carries a line, no quad diagonal does.
void build_cube_triangles(MeshBuilder& m) {
    for (int f = 0; f < 6; ++f) {
        const bool first_split = f == 0 || f == 3 || f == 4;
        for (int r = 0; r < GRID - 1; ++r)
            for (int c = 0; c < GRID - 1; ++c) {
                if (first_split) {
                    m.add(v(f, r, c), v(f, r, c + 1), v(f, r + 1, c), true, false, true);
                    m.add(v(f, r + 1, c), v(f, r, c + 1), v(f, r + 1, c + 1), false, true, true);
                } else {
                    m.add(v(f, r, c + 1), v(f, r, c), v(f, r + 1, c), true, true, false);
                    m.add(v(f, r, c + 1), v(f, r + 1, c), v(f, r + 1, c + 1), false, true, true);
                }
            }
    }

    // Seams: each step adds a first triangle (own flags) and a second one with ab and ca.
    constexpr bool T = true, F = false;
    const auto pair = [&m](int a0, int b0, int c0, bool ab, bool bc, bool ca, int a1, int b1, int c1) {
        m.add(a0, b0, c0, ab, bc, ca);
        m.add(a1, b1, c1, T, F, T);
    };
    for (int k = 0; k < 7; ++k) {  // face 0 row 0 - face 5 row 0
        const int i = k + 1;
        pair(i, i - 1, i + 319, T, T, F, i + 320, i, i + 319);
    }
    for (int k = 0; k < 7; ++k) {  // face 0 row 7 - face 4 row 0
        const int j = 57 + k;
        pair(j, j + 199, j - 1, F, T, T, j + 200, j + 199, j);
    }
    for (int k = 0; k < 7; ++k) {  // face 0 column 0 - face 2 column 0
        const int g = 8 * k + 8;
        pair(g, g + 120, g - 8, F, T, T, g + 128, g + 120, g);
    }
    for (int k = 0; k < 7; ++k) {  // face 0 column 7 - face 3 column 0
        const int g = 8 * k + 15;
        pair(g, g - 8, g + 177, T, T, F, g + 185, g, g + 177);
    }
    for (int k = 0; k < 7; ++k) {  // face 3 row 0 - face 5 column 7
        const int g = 192 + k, e = 335 + 8 * k;
        pair(e, g, e - 8, F, T, T, g + 1, g, e);
    }
    for (int k = 0; k < 7; ++k) {  // face 5 column 0 - face 2 row 0
        const int g = 128 + k, e = 328 + 8 * k;
        pair(e, e - 8, g, T, T, F, g + 1, e, g);
    }
    for (int k = 0; k < 7; ++k) {  // face 4 column 7 - face 3 row 7
        const int g = 248 + k, e = 271 + 8 * k;
        pair(e, e - 8, g, T, T, F, g + 1, e, g);
    }
    for (int k = 0; k < 7; ++k) {  // face 4 column 0 - face 2 row 7
        const int g = 184 + k, e = 264 + 8 * k;
        pair(e, g, e - 8, F, T, T, g + 1, g, e);
    }
    for (int k = 0; k < 7; ++k) {  // face 1 row 0 - face 5 row 7
        const int q = 65 + k;
        pair(q, q + 311, q - 1, F, T, T, q + 312, q + 311, q);
    }
    for (int k = 0; k < 7; ++k) {  // face 1 row 7 - face 4 row 7
        const int q = 121 + k;
        pair(q, q - 1, q + 191, T, T, F, q + 192, q, q + 191);
    }
    for (int k = 0; k < 7; ++k) {  // face 1 column 0 - face 2 column 7
        const int e = 72 + 8 * k, g = 135 + 8 * k;
        pair(e, e - 8, g, T, T, F, g + 8, e, g);
    }
    for (int k = 0; k < 7; ++k) {  // face 1 column 7 - face 3 column 7
        const int e = 79 + 8 * k, g = 199 + 8 * k;
        pair(e, g, e - 8, F, T, T, g + 8, g, e);
    }

    const int corners[8][3] = {{0, 128, 320},  {56, 256, 184}, {7, 327, 192},   {63, 248, 263},
                               {64, 376, 135}, {71, 199, 383}, {120, 191, 312}, {127, 319, 255}};
    for (const auto& c : corners) m.add(c[0], c[1], c[2], T, T, T);
}

// Mode 2 wave from the sine of the point's phase sin(pi·t + angle) and its root distance to the face
// corner sqrt(R - d).
double wave(double sine, double root_reach) {
    static const double root_r = std::sqrt(HALF_DIAGONAL);
    return sine * root_reach * 70.0 / root_r + 30.0;
}

// A point beyond the face corner (never on the cube's grid) keeps only the constant offset.
double root_reach(double d) { return std::sqrt(std::max(HALF_DIAGONAL - d, 0.0)); }

// What the grid fixes about each vertex: its undisplaced point, its face's outward normal, the reach
// that the wave reads, and which of the grid's angles is its own. The faces share their angles (a face
// measures the same in-plane offsets as its opposite, and four faces read them in the same order), so a
// frame takes one sine per distinct angle rather than one per vertex. Worked out once.
struct GridVertex {
    Vector3D point;
    Vector3D normal;
    double root_reach;
    int angle;  // index into Grid::angles
};

struct Grid {
    std::vector<GridVertex> vertices;
    std::vector<double> angles;  // distinct
};

const Grid& grid() {
    static const Grid grid = [] {
        Grid g;
        for (int f = 0; f < 6; ++f)
            for (int r = 0; r < GRID; ++r)
                for (int c = 0; c < GRID; ++c) {
                    const Vector3D point = grid_point(f, r, c);
                    const Vector3D p = point - FACES[f].centre;
                    const double angle = face_angle(f, p);
                    auto found = std::find(g.angles.begin(), g.angles.end(), angle);
                    if (found == g.angles.end()) found = g.angles.insert(found, angle);
                    g.vertices.push_back(
                        {point, FACES[f].normal, root_reach(p.Length()), static_cast<int>(found - g.angles.begin())});
                }
        return g;
    }();
    return grid;
}

}  // namespace

double face_height(double d, double angle, double t, int mode) {
    if (mode != 2) return 0.0;
    return wave(std::sin(double(PI_F) * t + angle), root_reach(d));
}

void effect_b_init() {
    g_cube = std::make_unique<C3DObject2>();
    g_cube->SetLineColour(LINE_COLOUR);
    g_cube->SetFillColour(FILL_COLOUR);
    MeshBuilder mesh;
    build_cube_triangles(mesh);
    g_cube->SetPolygons(mesh.list);
}

const C3DObject2& effect_b_object() { return cube(); }

void effect_b_geometry(double t, int mode) {
    const Grid& g = grid();
    Vector3D* out = cube().VertexStorage(static_cast<int>(g.vertices.size()));
    if (mode != 2) {
        for (const GridVertex& v : g.vertices) *out++ = v.point + 0.0 * v.normal;
        return;
    }
    double sines[6 * GRID * GRID];
    const double phase = double(PI_F) * t;
    for (size_t i = 0; i < g.angles.size(); ++i) sines[i] = std::sin(phase + g.angles[i]);
    for (const GridVertex& v : g.vertices) *out++ = v.point + wave(sines[v.angle], v.root_reach) * v.normal;
}

void effect_b_render(uint32_t* pixels, float t, int mode, float scale, const Vector3D& pos) {
    const CMatrix camera = camera_matrix(pos);
    effect_b_geometry(t, mode);
    double a = 3.0 * double(t);
    if (mode == 2) a *= 2.5;
    CMatrix rx, rz, ry, scaling;
    rx.RotationX(0.08 * a);
    rz.RotationZ(0.035 * a);
    ry.RotationY(-0.051 * a);
    scaling.Scaling(scale);
    C3DObject2& object = cube();
    object.SetRotation(rx * rz * ry * scaling);
    object.TransformVertices(camera);
    object.SetBrightness(1.0f);
    object.Draw(pixels);
}

}  // namespace zorbrix
