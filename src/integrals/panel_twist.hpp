// The constant-density dipole of a twisted panel: the solid angle of its four true corners.
//
// A panel is the bilinear patch through its four corners.  Its flat image in the panel frame
// (the plane through the corner mean c with normal n = t1 x t2) misses the twist: with the
// corners in the order of the corner record, their offsets along n are exactly
//     zeta_k = (+l, -l, +l, -l),   l = n . (P1 - P2 + P3 - P4) / 4,                     (1)
// because n is normal to both midlines t1 = (P1 + P2 - P3 - P4)/2 and t2 = (P1 + P4 - P2 - P3)/2.
// Neighbouring flat images do not meet along their common side: they leave slits of width
// about 2 l there, and l grows as h^2 with the panel size h wherever the grid is skewed on a
// curved surface.  A slit seen from a distance of a few h subtends about l/h, so the dipoles
// of the flat images summed over a closed body miss the solid angle 2 pi by O(h) at every
// collocation point, which drags the whole method down to first order.
//
// The dipole of a unit density, integral (F - X).n_X / |F - X|^3 dA, is the solid angle of
// the surface seen from F, and so depends only on the surface's boundary, the four straight
// sides through the true corners, which neighbouring patches share exactly.  Away from the
// patch it is the solid angle of the two triangles (P1, P2, P3) and (P1, P3, P4), each by
// Van Oosterom and Strackee's formula with r_i = F - P_i:
//     tan(Omega/2) = r1.(r2 x r3) / (|r1||r2||r3| + (r1.r2)|r3| + (r1.r3)|r2| + (r2.r3)|r1|)   (2)
// (positive on the side n points to, as the flat kernel's, with the corners taken
// counter-clockwise about n).  At the panel's own centre c, which
// lies on the patch with tangent plane normal to n, the principal value is the mean of the two
// one-sided limits, 2 pi - Omega_cap, Omega_cap being the area of the unit sphere that the
// corner directions d_k = P_k - c fence off around n: the sum over the sides of the spherical
// triangles (n, d_k, d_k+1), each by (2) with r1 = n:
//     PV = 2 pi - sum_k 2 atan2(n.(d_k x d_k+1), |d_k||d_k+1| + (n.d_k)|d_k+1| + (n.d_k+1)|d_k| + d_k.d_k+1)   (3)
// For an untwisted panel (3) is 0, the flat value.
//
// Far from the panel the flat image's moment series misses the twist at the order of its
// second-moment terms.  With N the patch's area vector, A and B its midline vectors and
// tau = n . (P1 - P2 + P3 - P4) = 4 l, the patch's dipole-weighted first moment exceeds the
// flat image's by
//     Delta T = integral (X - c) (x) N dA - flat = tau/12 [B (x) (n x B) - A (x) (n x A)],
// which seen from (x, y, z) = R in the panel frame adds Delta T_ij d_i d_j (1/R):
//     Delta phi_d = l [(B1 B2 - A1 A2)(y^2 - x^2) + ((B1^2 - B2^2) - (A1^2 - A2^2)) x y] / R^5
//                 = w20 a200 + w11 a110 + w02 a020,                                     (4)
//     w20 = -w02 = -2/3 l (B1 B2 - A1 A2),   w11 = 1/3 l ((B1^2 - B2^2) - (A1^2 - A2^2)),
// in the second-order Taylor coefficients a200 = (3x^2 - R^2)/(2R^5), a110 = 3xy/R^5,
// a020 = (3y^2 - R^2)/(2R^5) of the inverse distance, and (A1, A2), (B1, B2) the midlines
// A = (P1 + P2 - P3 - P4)/2, B = (P1 + P4 - P2 - P3)/2 in the panel plane.  A slit is a wall
// of zero net area, so (4) is the leading term; the source is not changed at this order.
#pragma once

#include <array>
#include <cmath>

namespace torva {

// (1) from the corner record (x1..x4, y1..y4, z1..z4) and the unit normal n, in double.
[[nodiscard]] inline double panel_lift(const float* corners, const std::array<double, 3>& n) noexcept
{
    double l = 0.0;
    for (int axis = 0; axis < 3; ++axis) {
        const float* c = corners + 4 * axis;
        l += n[static_cast<std::size_t>(axis)] *
             ((static_cast<double>(c[0]) - c[1]) + (static_cast<double>(c[2]) - c[3]));
    }
    return 0.25 * l;
}

// The dipole of a unit density over the twisted panel with in-plane corners (xi_k, eta_k) and
// lift l, seen from (x, y, z) in the panel frame: (3) when the point is the panel's centre,
// otherwise (2).
template <class Real>
[[nodiscard]] Real twisted_panel_dipole(Real x, Real y, Real z, const std::array<Real, 4>& xi,
                                        const std::array<Real, 4>& eta, Real lift, Real area) noexcept
{
    using V = std::array<Real, 3>;
    auto dot = [](const V& a, const V& b) { return a[0] * b[0] + a[1] * b[1] + a[2] * b[2]; };
    auto norm = [&](const V& a) { return std::sqrt(dot(a, a)); };
    auto triple = [](const V& a, const V& b, const V& c) {
        return a[0] * (b[1] * c[2] - b[2] * c[1]) + a[1] * (b[2] * c[0] - b[0] * c[2]) +
               a[2] * (b[0] * c[1] - b[1] * c[0]);
    };
    auto triangle = [&](const V& a, const V& b, const V& c) {
        const Real na = norm(a), nb = norm(b), nc = norm(c);
        return Real(2) * std::atan2(triple(a, b, c), na * nb * nc + dot(a, b) * nc + dot(a, c) * nb + dot(b, c) * na);
    };
    // The corners counter-clockwise about n (the corner record runs either way round).
    Real twice_area = 0;
    for (std::size_t k = 0; k < 4; ++k) twice_area += xi[k] * eta[(k + 1) % 4] - xi[(k + 1) % 4] * eta[k];
    std::array<V, 4> r;
    for (std::size_t k = 0; k < 4; ++k) {
        const std::size_t c = twice_area >= 0 ? k : 3 - k;
        const Real zc = (c % 2 == 0) ? lift : -lift;
        r[k] = {x - xi[c], y - eta[c], z - zc};
    }
    if (x * x + y * y + z * z <= Real(1e-12) * area) {
        // The own centre: d_k = P_k - c = -r_k.
        const V n = {Real(0), Real(0), Real(1)};
        Real cap = 0;
        for (std::size_t k = 0; k < 4; ++k) {
            const V& a = r[k];
            const V& b = r[(k + 1) % 4];
            const V da = {-a[0], -a[1], -a[2]}, db = {-b[0], -b[1], -b[2]};
            cap += triangle(n, da, db);
        }
        return Real(6.283185307179586) - cap;
    }
    return triangle(r[0], r[1], r[2]) + triangle(r[0], r[2], r[3]);
}

// (4): the weights of a200, a110, a020 in the twist's share of the constant density's dipole.
template <class Real>
struct TwistMoments {
    Real w20 = 0, w11 = 0, w02 = 0;
};

template <class Real>
[[nodiscard]] TwistMoments<Real> twist_moments(const std::array<Real, 4>& xi, const std::array<Real, 4>& eta,
                                               double lift) noexcept
{
    const double a1 = 0.5 * ((double(xi[0]) + xi[1]) - (double(xi[2]) + xi[3]));
    const double a2 = 0.5 * ((double(eta[0]) + eta[1]) - (double(eta[2]) + eta[3]));
    const double b1 = 0.5 * ((double(xi[0]) + xi[3]) - (double(xi[1]) + xi[2]));
    const double b2 = 0.5 * ((double(eta[0]) + eta[3]) - (double(eta[1]) + eta[2]));
    const double cross = b1 * b2 - a1 * a2;
    const double diagonal = (b1 * b1 - b2 * b2) - (a1 * a1 - a2 * a2);
    TwistMoments<Real> w;
    w.w20 = static_cast<Real>(-2.0 / 3.0 * lift * cross);
    w.w02 = static_cast<Real>(2.0 / 3.0 * lift * cross);
    w.w11 = static_cast<Real>(1.0 / 3.0 * lift * diagonal);
    return w;
}

}  // namespace torva
