// Two-dimensional integrators over a rectangle [a, b] x [c, d] of the panel parameters (s, t).
//
// The panel integrals of this folder reduce to integrals of a function f(s, t) over a
// rectangle.  Three integrators serve them, selected by a method code:
//
//   1  romberg_2d           midpoint rule on 2^k x 2^k equal cells, k = 0, 1, ..., with
//                           Richardson extrapolation in h^2:
//                               R(k, 0) = M_k,
//                               R(k, m) = c1_m R(k, m-1) + c2_m R(k-1, m-1),          (1)
//                               c1_m = 1 + f_m,  c2_m = -f_m,  f_m = 1/(4^m - 1) in float,
//                           stopping when |R(k,k) - R(k-1,k-1)| <= tol |R(k,k)|.
//   2  adaptive_2d_size     4 x 4 Gauss-Legendre on pieces small enough compared with the
//                           distance from the field point F to the panel centre C:
//                               16 max(delta_1^2, delta_2^2) < |F - C|^2,              (2)
//                           delta_1, delta_2 the diagonals of the piece's image on the panel.
//   3  adaptive_2d_tworule  4 x 4 and 5 x 5 Gauss-Legendre on every piece; a piece is
//                           accepted when delta = |q4 - q5| satisfies
//                               |q5 tol| > delta  or  |tol S| > delta  or  delta < 2^-23  (3)
//                           (S the sum accepted so far).
//
// Both adaptive integrators keep a last-in-first-out stack of rectangles (index 1 to 31).  A
// rejected piece is replaced by its four quarters, pushed lower-left, lower-right,
// upper-right, upper-left, so the upper-left quarter is examined next.  Deep pieces are
// accepted regardless and the error flag set to -1 (index above 28 for method 2, index 29
// or more for method 3), so a stack of 31 entries never overflows: a split at index 28
// reaches 31.
//
// gauss_product_4 / gauss_product_5 are the tensor Gauss-Legendre rules
//     Q = (b - a)/2 (d - c)/2 sum_i sum_j w_i w_j f(s_i, t_j),                           (4)
// with the standard nodes x_i on [-1, 1] mapped affinely, s_i = (a+b)/2 + (b-a)/2 x_i.
//
// The integrand is passed as a ParamFunction, a non-owning reference to any callable of
// (s, t); the integrators keep no state between calls, so they may run in parallel.
#pragma once

#include <array>
#include <concepts>
#include <type_traits>
#include <utility>

namespace torva {

using Vec3d = std::array<double, 3>;

// Non-owning reference to a callable f(s, t) -> R.  The callable must outlive the reference
// (pass a lambda straight into the integrator call).
template <class R>
class ParamFunction {
public:
    template <class F>
        requires(!std::is_same_v<std::remove_cvref_t<F>, ParamFunction> &&
                 std::is_invocable_r_v<R, const F&, double, double>)
    ParamFunction(const F& callable) noexcept  // NOLINT: implicit on purpose, like a function_ref
        : object_(static_cast<const void*>(&callable)),
          call_([](const void* object, double s, double t) -> R {
              return (*static_cast<const F*>(object))(s, t);
          })
    {}

    R operator()(double s, double t) const { return call_(object_, s, t); }

private:
    const void* object_;
    R (*call_)(const void*, double, double);
};

using Integrand2d = ParamFunction<double>;   // f(s, t)
using SurfaceMap2d = ParamFunction<Vec3d>;   // X(s, t): the panel point of a parameter pair

// Result of one integral: the value and the error flag (0 success, -1 when the level or
// subdivision limit was reached; the value is then the best the integrator had).
struct Integral2d {
    double value = 0.0;
    int error_flag = 0;
};

// Relative tolerance used for every panel integral.
inline constexpr double kPanelTolerance = 1.0e-4;
// Romberg's tolerance when none is given: the double-precision machine epsilon.
inline constexpr double kMachineEpsilon = 2.220446049250313e-16;

// Levels of romberg_2d (level k has 2^k x 2^k cells); level kRombergMaxLevel is the last.
inline constexpr int kRombergMaxLevel = 19;
// Capacity of the adaptive integrators' rectangle stack.
inline constexpr int kAdaptiveStackSize = 31;

// Gauss-Legendre nodes and weights on [-1, 1], ascending.
inline constexpr std::array<double, 4> kGauss4Nodes = {
    -0.86113631159405257522, -0.33998104358485626480, 0.33998104358485626480,
    0.86113631159405257522};
inline constexpr std::array<double, 4> kGauss4Weights = {
    0.34785484513745385737, 0.65214515486254614263, 0.65214515486254614263,
    0.34785484513745385737};
inline constexpr std::array<double, 5> kGauss5Nodes = {
    -0.90617984593866399280, -0.53846931010568309104, 0.0, 0.53846931010568309104,
    0.90617984593866399280};
inline constexpr std::array<double, 5> kGauss5Weights = {
    0.23692688505618908751, 0.47862867049936646804, 0.56888888888888888889,
    0.47862867049936646804, 0.23692688505618908751};

// (4) with 4 x 4 and 5 x 5 points.  Exact for polynomials of degree 7 (resp. 9) in each
// variable.
[[nodiscard]] double gauss_product_4(Integrand2d f, double a, double b, double c, double d);
[[nodiscard]] double gauss_product_5(Integrand2d f, double a, double b, double c, double d);

// Method 1: (1).  `tol` is relative; without one the machine epsilon is used.  That stop
// test is seldom met (the float factors of (1) limit the extrapolation to ~1e-7), and
// level k costs 4^k evaluations, so the default is for tests of tiny integrands only; the
// panel integrals always pass 1e-4.  Level 0 evaluates f at the rectangle's midpoint; a
// non-finite extrapolated value ends the integration with the flag -1 at once.
[[nodiscard]] Integral2d romberg_2d(Integrand2d f, double a, double b, double c, double d,
                                    double tol = kMachineEpsilon);

// Method 2: (2).  `panel_point` maps (s, t) to the surface (the piece's diagonals are
// measured between its mapped corners); `reference_distance_sq` is |F - C|^2.  A field point
// at the centre itself (|F - C| = 0) can never satisfy (2): the whole rectangle is then
// taken with one 4 x 4 rule and the flag set to -1 at once, rather than subdividing for ever.
[[nodiscard]] Integral2d adaptive_2d_size(Integrand2d f, SurfaceMap2d panel_point,
                                          double reference_distance_sq, double a, double b,
                                          double c, double d);

// Method 3: (3) with relative tolerance `tol`.
[[nodiscard]] Integral2d adaptive_2d_tworule(Integrand2d f, double a, double b, double c,
                                             double d, double tol);

}  // namespace torva
