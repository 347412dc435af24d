#pragma once
// Row-major matrix of doubles with the 4 x 4 transforms the effects compose every frame. Vectors are
// columns: in A·B·v the transform B acts first.

#include "engine3d/containers.h"
#include "engine3d/vector3d.h"

namespace zorbrix {

class CMatrix {
public:
    // Dimensions that do not fit (product, identity of a non-square matrix, a 4 x 4 operation on
    // another shape).
    class Error {};

    // The 4 x 4 identity.
    CMatrix();
    // rows x cols zeros; a negative (or unrepresentable) element count throws CArray<double>::Constraint.
    CMatrix(int rows, int cols);
    // Always builds a 4 x 4 matrix: a source of another shape throws Error.
    CMatrix(const CMatrix& other);
    // Takes over the shape and the elements of any matrix.
    CMatrix& operator=(const CMatrix& other);

    int Rows() const { return m_rows; }
    int Cols() const { return m_cols; }

    // Element (r, c) lives at index c + cols·r; an index outside the storage throws CArray<double>::Constraint.
    double Get(int r, int c) const { return m_data[c + m_cols * r]; }
    void Set(int r, int c, double value) { m_data[c + m_cols * r] = value; }

    void Identity();

    // Setters that overwrite a 4 x 4 matrix. Sine and cosine are taken in extended precision and stored
    // as doubles.
    void Translation(const Vector3D& v);
    void RotationX(double a);
    void RotationY(double a);
    void RotationZ(double a);
    void Scaling(double s);
    // Maps (x, y, z, 1) to (x, y, 0, 1 + z / f): after Homogenize the screen offsets are f·x / (f + z)
    // and f·y / (f + z).
    void Projection(double f);

    // out = a·b of any fitting shapes; the sum for each element runs over ascending k.
    static void Multiply(const CMatrix& a, const CMatrix& b, CMatrix& out);

    const double* Data() const { return m_data.Data(); }

private:
    void RequireFourByFour() const;
    void SetRows(double r0c0, double r0c1, double r0c2, double r0c3, double r1c0, double r1c1, double r1c2, double r1c3,
                 double r2c0, double r2c1, double r2c2, double r2c3, double r3c0, double r3c1, double r3c2,
                 double r3c3);

    int m_rows;
    int m_cols;
    CArray<double> m_data;
};

// The product the effects use: the result passes through the 4 x 4 copy construction, so a product that
// is not 4 x 4 throws CMatrix::Error.
CMatrix operator*(const CMatrix& a, const CMatrix& b);

// M·v for a 4 x 4 M, all four rows, w kept (no division). Each row sum runs from the w term toward the x
// term, rounding after every addition.
Vector3D Transform(const CMatrix& m, const Vector3D& v);

}  // namespace zorbrix
