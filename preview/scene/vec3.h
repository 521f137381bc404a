// Three-component vectors for the preview host's geometry: single precision
// for what is traced, double precision for coordinates as the scene file and
// the user give them.
#ifndef UMBREX_PREVIEW_VEC3_H
#define UMBREX_PREVIEW_VEC3_H

#include <cmath>

template <typename T>
struct Vector3 {
    T x = 0, y = 0, z = 0;
};
using Vec3 = Vector3<float>;
using DVec3 = Vector3<double>;

template <typename T>
inline Vector3<T> operator+(Vector3<T> a, Vector3<T> b) { return {a.x + b.x, a.y + b.y, a.z + b.z}; }
template <typename T>
inline Vector3<T> operator-(Vector3<T> a, Vector3<T> b) { return {a.x - b.x, a.y - b.y, a.z - b.z}; }
template <typename T>
inline Vector3<T> operator-(Vector3<T> a) { return {-a.x, -a.y, -a.z}; }
template <typename T>
inline Vector3<T> operator*(Vector3<T> a, T s) { return {a.x * s, a.y * s, a.z * s}; }
template <typename T>
inline T dot(Vector3<T> a, Vector3<T> b) { return a.x * b.x + a.y * b.y + a.z * b.z; }
template <typename T>
inline Vector3<T> cross(Vector3<T> a, Vector3<T> b)
{
    return {a.y * b.z - a.z * b.y, a.z * b.x - a.x * b.z, a.x * b.y - a.y * b.x};
}
template <typename T>
inline T length(Vector3<T> a) { return std::sqrt(dot(a, a)); }

// Unit vector along a; the zero vector stays zero.
template <typename T>
inline Vector3<T> normalized(Vector3<T> a)
{
    const T l = length(a);
    return l > T(0) ? a * (T(1) / l) : a;
}

template <typename T>
inline bool is_finite(Vector3<T> a)
{
    return std::isfinite(a.x) && std::isfinite(a.y) && std::isfinite(a.z);
}

inline Vec3 to_float(DVec3 a)
{
    return {static_cast<float>(a.x), static_cast<float>(a.y), static_cast<float>(a.z)};
}
inline DVec3 to_double(Vec3 a) { return {a.x, a.y, a.z}; }

#endif
