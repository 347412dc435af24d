#include "engine3d/matrix.h"

#include <climits>
#include <cmath>

namespace zorbrix {

CMatrix::CMatrix() : m_rows(4), m_cols(4) {
    m_data.SetSize(16);
    Identity();
}

CMatrix::CMatrix(int rows, int cols) : m_rows(rows), m_cols(cols) {
    const long long count = static_cast<long long>(rows) * cols;
    if (count > INT_MAX) throw CArray<double>::Constraint{};
    m_data.SetSize(static_cast<int>(count));  // throws for a negative count
    for (int i = 0; i < m_data.GetSize(); ++i) m_data[i] = 0.0;
}

CMatrix::CMatrix(const CMatrix& other) : m_rows(4), m_cols(4) {
    if (other.m_rows != 4 || other.m_cols != 4) throw Error{};
    m_data.SetSize(16);
    for (int r = 0; r < 4; ++r)
        for (int c = 0; c < 4; ++c) Set(r, c, other.Get(r, c));
}

CMatrix& CMatrix::operator=(const CMatrix& other) {
    if (this == &other) return *this;
    m_data = other.m_data;
    m_rows = other.m_rows;
    m_cols = other.m_cols;
    return *this;
}

void CMatrix::Identity() {
    if (m_rows != m_cols) throw Error{};
    for (int r = 0; r < m_rows; ++r)
        for (int c = 0; c < m_cols; ++c) Set(r, c, r == c ? 1.0 : 0.0);
}

void CMatrix::RequireFourByFour() const {
    if (m_rows != 4 || m_cols != 4) throw Error{};
}

void CMatrix::SetRows(double r0c0, double r0c1, double r0c2, double r0c3, double r1c0, double r1c1, double r1c2,
                      double r1c3, double r2c0, double r2c1, double r2c2, double r2c3, double r3c0, double r3c1,
                      double r3c2, double r3c3) {
    RequireFourByFour();
    const double values[16] = {r0c0, r0c1, r0c2, r0c3, r1c0, r1c1, r1c2, r1c3,
                               r2c0, r2c1, r2c2, r2c3, r3c0, r3c1, r3c2, r3c3};
    for (int i = 0; i < 16; ++i) m_data[i] = values[i];
}

void CMatrix::Translation(const Vector3D& v) {
    RequireFourByFour();
    Identity();
    Set(0, 3, v.x);
    Set(1, 3, v.y);
    Set(2, 3, v.z);
}

namespace {

// Sine and cosine through long double (x87 extended precision on x86-64), rounded once to double.
void sin_cos_extended(double a, double& s, double& c) {
    const long double wide = a;
    s = static_cast<double>(std::sin(wide));
    c = static_cast<double>(std::cos(wide));
}

}  // namespace

void CMatrix::RotationX(double a) {
    double s, c;
    sin_cos_extended(a, s, c);
    SetRows(1, 0, 0, 0,   //
            0, c, -s, 0,  //
            0, s, c, 0,   //
            0, 0, 0, 1);
}

void CMatrix::RotationY(double a) {
    double s, c;
    sin_cos_extended(a, s, c);
    SetRows(c, 0, s, 0,   //
            0, 1, 0, 0,   //
            -s, 0, c, 0,  //
            0, 0, 0, 1);
}

void CMatrix::RotationZ(double a) {
    double s, c;
    sin_cos_extended(a, s, c);
    SetRows(c, -s, 0, 0,  //
            s, c, 0, 0,   //
            0, 0, 1, 0,   //
            0, 0, 0, 1);
}

void CMatrix::Scaling(double s) {
    RequireFourByFour();
    Identity();
    Set(0, 0, s);
    Set(1, 1, s);
    Set(2, 2, s);
}

void CMatrix::Projection(double f) {
    RequireFourByFour();
    Identity();
    Set(3, 2, 1.0 / f);
    Set(2, 2, 0.0);
}

void CMatrix::Multiply(const CMatrix& a, const CMatrix& b, CMatrix& out) {
    if (a.m_cols != b.m_rows) throw Error{};
    CMatrix result(a.m_rows, b.m_cols);
    for (int i = 0; i < a.m_rows; ++i)
        for (int j = 0; j < b.m_cols; ++j) {
            double sum = 0.0;
            for (int k = 0; k < a.m_cols; ++k) sum += a.Get(i, k) * b.Get(k, j);
            result.Set(i, j, sum);
        }
    out = result;
}

CMatrix operator*(const CMatrix& a, const CMatrix& b) {
    CMatrix product(0, 0);
    CMatrix::Multiply(a, b, product);
    return CMatrix(product);
}

Vector3D Transform(const CMatrix& m, const Vector3D& v) {
    if (m.Rows() != 4 || m.Cols() != 4) throw CMatrix::Error{};
    const double* e = m.Data();
    Vector3D r;
    r.x = ((e[3] * v.w + e[2] * v.z) + e[1] * v.y) + e[0] * v.x;
    r.y = ((e[7] * v.w + e[6] * v.z) + e[5] * v.y) + e[4] * v.x;
    r.z = ((e[11] * v.w + e[10] * v.z) + e[9] * v.y) + e[8] * v.x;
    r.w = ((e[15] * v.w + e[14] * v.z) + e[13] * v.y) + e[12] * v.x;
    return r;
}

}  // namespace zorbrix
