// An affine transform in double precision, as scene files place their meshes,
// cameras and skeletons' joints.
#ifndef UMBREX_PREVIEW_AFFINE_H
#define UMBREX_PREVIEW_AFFINE_H

#include <assimp/matrix4x4.h>

#include "preview/scene/vec3.h"

// An affine transform in double precision: the top three rows of a 4x4
// matrix that maps column vectors.
struct Affine {
    double m[3][4] = {{1, 0, 0, 0}, {0, 1, 0, 0}, {0, 0, 1, 0}};

    static Affine from(const aiMatrix4x4 &a)
    {
        Affine t;
        for (unsigned r = 0; r < 3; ++r) {
            for (unsigned c = 0; c < 4; ++c)
                t.m[r][c] = a[r][c];
        }
        return t;
    }

    // This transform applied after `inner`.
    Affine operator*(const Affine &inner) const
    {
        Affine t;
        for (int r = 0; r < 3; ++r) {
            for (int c = 0; c < 4; ++c) {
                t.m[r][c] = m[r][0] * inner.m[0][c] + m[r][1] * inner.m[1][c] + m[r][2] * inner.m[2][c] +
                            (c == 3 ? m[r][3] : 0.0);
            }
        }
        return t;
    }

    DVec3 vector(DVec3 v) const
    {
        return {m[0][0] * v.x + m[0][1] * v.y + m[0][2] * v.z, m[1][0] * v.x + m[1][1] * v.y + m[1][2] * v.z,
                m[2][0] * v.x + m[2][1] * v.y + m[2][2] * v.z};
    }

    DVec3 point(DVec3 p) const { return vector(p) + DVec3{m[0][3], m[1][3], m[2][3]}; }

    double determinant() const
    {
        return dot(column(0), cross(column(1), column(2)));
    }

    // A normal carried by the inverse transpose, as a unit vector: the
    // cofactor matrix is the inverse transpose times the determinant, whose
    // sign is put back.
    DVec3 normal(DVec3 n) const
    {
        const DVec3 a = column(0), b = column(1), c = column(2);
        const DVec3 carried = cross(b, c) * n.x + cross(c, a) * n.y + cross(a, b) * n.z;
        return normalized(determinant() < 0.0 ? -carried : carried);
    }

    DVec3 column(int c) const { return {m[0][c], m[1][c], m[2][c]}; }

    // This transform plus `other` times `weight`, entry by entry: skinning
    // blends its joints' transforms so.
    void add(const Affine &other, double weight)
    {
        for (int r = 0; r < 3; ++r) {
            for (int c = 0; c < 4; ++c)
                m[r][c] += other.m[r][c] * weight;
        }
    }

    static Affine zero()
    {
        Affine t;
        t.add(t, -1.0);
        return t;
    }
};

#endif
