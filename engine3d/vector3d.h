#pragma once
// Homogeneous point or vector of four doubles. Points built by the engine have w = 1; a perspective
// transform leaves another w until Homogenize divides it out. Vectors are columns (M·v).

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
    double Length() const;
    // (x, y, z) scaled by 1 / Length(), w = 1. A zero vector gives non-finite components.
    Vector3D Normalized() const;
    Vector3D Cross(const Vector3D& b) const;
    // Divides x, y, z by w (through its reciprocal) and sets w to 1.
    void Homogenize();
};

// Sum, difference and scaling act on x, y, z and give w = 1.
Vector3D operator+(const Vector3D& a, const Vector3D& b);
Vector3D operator-(const Vector3D& a, const Vector3D& b);
Vector3D operator*(double s, const Vector3D& v);
