#pragma once
// Homogeneous point or vector of four doubles. Points built by the engine have w = 1; a perspective
// transform leaves another w until Homogenize divides it out. Vectors are columns (M·v).

#include <cmath>

namespace zorbrix {

class Vector3D {
public:
    double x = 0.0;
    double y = 0.0;
    double z = 0.0;
    double w = 1.0;

    Vector3D() = default;
    Vector3D(double x_, double y_, double z_, double w_) : x(x_), y(y_), z(z_), w(w_) {}

    double GetX() const { return x; }
    double GetY() const { return y; }
    double GetZ() const { return z; }
    double GetW() const { return w; }
    void Get(double& ox, double& oy, double& oz) const {
        ox = x;
        oy = y;
        oz = z;
    }

    // sqrt(x² + y² + z²); w does not take part.
    double Length() const { return std::sqrt(x * x + y * y + z * z); }

    // (x, y, z) scaled by 1 / Length(), w = 1. A zero vector gives non-finite components.
    Vector3D Normalized() const {
        const double r = 1.0 / Length();
        return Vector3D(x * r, y * r, z * r, 1.0);
    }

    Vector3D Cross(const Vector3D& b) const {
        return Vector3D(y * b.z - z * b.y, z * b.x - x * b.z, x * b.y - y * b.x, 1.0);
    }

    // Divides x, y, z by w (through its reciprocal) and sets w to 1. A point already divided is left
    // as it is (multiplying by 1 would change nothing).
    void Homogenize() {
        if (w == 1.0) return;
        const double r = 1.0 / w;
        x *= r;
        y *= r;
        z *= r;
        w = 1.0;
    }
};

// Sum, difference and scaling act on x, y, z and give w = 1.
inline Vector3D operator+(const Vector3D& a, const Vector3D& b) {
    return Vector3D(a.x + b.x, a.y + b.y, a.z + b.z, 1.0);
}
inline Vector3D operator-(const Vector3D& a, const Vector3D& b) {
    return Vector3D(a.x - b.x, a.y - b.y, a.z - b.z, 1.0);
}
inline Vector3D operator*(double s, const Vector3D& v) { return Vector3D(s * v.x, s * v.y, s * v.z, 1.0); }

}  // namespace zorbrix
