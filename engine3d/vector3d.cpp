#include "engine3d/vector3d.h"

#include <cmath>

double Vector3D::Length() const { return std::sqrt(x * x + y * y + z * z); }

Vector3D Vector3D::Normalized() const {
    const double r = 1.0 / Length();
    return Vector3D(x * r, y * r, z * r, 1.0);
}

Vector3D Vector3D::Cross(const Vector3D& b) const {
    return Vector3D(y * b.z - z * b.y, z * b.x - x * b.z, x * b.y - y * b.x, 1.0);
}

void Vector3D::Homogenize() {
    if (w == 1.0) return;  // already divided: multiplying by 1 would change nothing
    const double r = 1.0 / w;
    x *= r;
    y *= r;
    z *= r;
    w = 1.0;
}

Vector3D operator+(const Vector3D& a, const Vector3D& b) { return Vector3D(a.x + b.x, a.y + b.y, a.z + b.z, 1.0); }

Vector3D operator-(const Vector3D& a, const Vector3D& b) { return Vector3D(a.x - b.x, a.y - b.y, a.z - b.z, 1.0); }

Vector3D operator*(double s, const Vector3D& v) { return Vector3D(s * v.x, s * v.y, s * v.z, 1.0); }
