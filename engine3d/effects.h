#pragma once
// The two 3D effects drawn over the video backdrop: A, a pulsing, wobbling blob of revolution, and B, a
// spinning cube whose grid faces bulge and ripple. Each is one C3DObject2 built once by its init function
// and redrawn from a phase every frame into 512 x 384 pixels (0x00RRGGBB). Triangles replace the pixels,
// lines brighten them.

#include <cstdint>

#include "engine3d/object3d.h"
#include "engine3d/vector3d.h"

namespace zorbrix {

// ---- Effect A: the pulsing blob (302 vertices rebuilt every frame, 600 fixed triangles) ----

void effect_a_init();
// One frame for phase t; the second argument is not read. pos moves the object before the camera.
void effect_a_render(uint32_t* pixels, int ignored, float t, const Vector3D& pos);
// Rebuilds the blob's 302 vertices for phase t (the triangles are set by effect_a_init).
void effect_a_geometry(float t);
// Radius factor of the latitude at u (0 = top pole, 1 = bottom pole): 0.7·sin²(4u + t) + 0.7.
double pulse_radius(float u, float t);
// The blob's object (created on first use if effect_a_init has not run).
const C3DObject2& effect_a_object();

// ---- Effect B: the rippling cube (384 vertices rebuilt every frame, 764 fixed triangles) ----

inline constexpr float CUBE_SIZE = 350.0f;
// Distance from a face centre to a face corner.
extern const double HALF_DIAGONAL;

void effect_b_init();
// One frame for phase t. Mode 2 (the one the intro uses) ripples the faces and spins 2.5 times faster;
// other modes draw the cube with flat faces. scale enlarges the cube about its centre.
void effect_b_render(uint32_t* pixels, float t, int mode, float scale, const Vector3D& pos);
// Rebuilds the cube's 384 vertices for phase t.
void effect_b_geometry(double t, int mode);
// Outward displacement of a grid point at distance d from its face centre and at the given angle round
// it; mode 2: a one-armed wave, strongest at the centre, over a constant offset of 30. Other modes: 0.
double face_height(double d, double angle, double t, int mode);
const C3DObject2& effect_b_object();

}  // namespace zorbrix
