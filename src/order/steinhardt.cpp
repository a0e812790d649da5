#include "order/steinhardt.h"

#include <algorithm>
#include <cmath>
#include <limits>
#include <stdexcept>
#include <string>

#include <tbb/blocked_range.h>
#include <tbb/parallel_for.h>

#include "core/offsets.h"

namespace kavet {
namespace {

constexpr double kPi = 3.14159265358979323846;

// Real spherical harmonics of the asked degrees at a unit vector, normalised
// so that their squares over m sum to (2l + 1) / 4 pi. With z = cos theta and
// x + iy = sin theta e^{i phi}, Y_l0 = P̄_l^0(z) and, for m > 0, the pair
// sqrt 2 P̄_l^m(z) cos m phi, sqrt 2 P̄_l^m(z) sin m phi, where P̄ are the
// associated Legendre functions normalised on the sphere. P̄_l^m / sin^m theta
// is a polynomial in z (the standard recurrences over l at fixed m), and
// sin^m theta e^{i m phi} is (x + iy)^m: no trigonometric call. Signs that
// depend only on l and m are left out; they cancel in every sum over m of a
// product of two harmonics of the same (l, m).
class Harmonics {
public:
    explicit Harmonics(const std::vector<int32_t>& degrees)
    {
        for (int32_t l : degrees)
            if (l < 0 || l > kMaxQbarDegree)
                throw std::invalid_argument("bond-orientational degree " + std::to_string(l) + " is outside 0.." +
                                            std::to_string(kMaxQbarDegree));
        lmax_ = 0;
        for (int32_t l : degrees)
            lmax_ = std::max(lmax_, l);
        const std::size_t side = static_cast<std::size_t>(lmax_ + 1);
        offset_.assign(side, -1);
        for (int32_t l : degrees)
            if (offset_[l] < 0) {
                offset_[l] = size_;
                size_ += 2 * l + 1;
            }
        a_.assign(side * side, 0.0);
        b_.assign(side * side, 0.0);
        diagStep_.assign(side, 1.0);
        firstStep_.assign(side, 0.0);
        for (int32_t m = 0; m <= lmax_; ++m) {
            if (m > 0)
                diagStep_[m] = std::sqrt((2.0 * m + 1.0) / (2.0 * m));
            firstStep_[m] = std::sqrt(2.0 * m + 3.0);
        }
        for (int32_t m = 0; m <= lmax_; ++m)
            for (int32_t l = m + 2; l <= lmax_; ++l) {
                const double ll = l, mm = m;
                a_[l * side + m] = std::sqrt((4.0 * ll * ll - 1.0) / (ll * ll - mm * mm));
                b_[l * side + m] = std::sqrt(((ll - 1.0) * (ll - 1.0) - mm * mm) / (4.0 * (ll - 1.0) * (ll - 1.0) - 1.0));
            }
    }
    int32_t size() const { return size_; }
    // Where the 2l + 1 harmonics of degree l start (m = -l first), or -1.
    int32_t offset(int32_t l) const { return offset_[l]; }

    // The harmonics at the unit vector u into out[0 .. size()).
    void evaluate(DVec3 u, double* out) const
    {
        const std::size_t side = static_cast<std::size_t>(lmax_ + 1);
        const double z = u.z;
        double diag = std::sqrt(0.25 / kPi); // P̄_m^m / sin^m theta
        double c = 1.0, s = 0.0;            // (x + iy)^m
        for (int32_t m = 0; m <= lmax_; ++m) {
            if (m > 0) {
                diag *= diagStep_[m];
                const double cn = c * u.x - s * u.y;
                s = c * u.y + s * u.x;
                c = cn;
            }
            const double re = m > 0 ? std::sqrt(2.0) * c : 1.0, im = std::sqrt(2.0) * s;
            double before = 0.0, p = diag;
            for (int32_t l = m; l <= lmax_; ++l) {
                if (l == m + 1) {
                    before = p;
                    p = firstStep_[m] * z * p;
                } else if (l > m + 1) {
                    const double next = a_[l * side + m] * (z * p - b_[l * side + m] * before);
                    before = p;
                    p = next;
                }
                const int32_t o = offset_[l];
                if (o < 0)
                    continue;
                out[o + l + m] = p * re;
                if (m > 0)
                    out[o + l - m] = p * im;
            }
        }
    }

private:
    int32_t lmax_ = 0, size_ = 0;
    std::vector<int32_t> offset_;
    std::vector<double> a_, b_;
    // The factors of the recurrences that depend on m alone.
    std::vector<double> diagStep_, firstStep_;
};

} // namespace

Steinhardt averagedBondOrder(int32_t waterCount, const std::vector<NeighbourPair>& pairs,
                             const std::vector<int32_t>& degrees)
{
    const Harmonics y(degrees);
    const std::size_t n = static_cast<std::size_t>(std::max(waterCount, 0));
    const std::size_t width = static_cast<std::size_t>(y.size());
    // Y_lm(-u) = (-1)^l Y_lm(u): the bond seen from j adds the same
    // harmonics with that sign.
    std::vector<double> sign(width, 1.0);
    for (int32_t l : degrees)
        for (int32_t m = 0; m <= 2 * l; ++m)
            sign[y.offset(l) + m] = l % 2 ? -1.0 : 1.0;
    // Each water's bonds in the order of `pairs`: 2e where the water is pair
    // e's i, 2e + 1 where it is its j (a pair of a water with itself gives
    // both, in that order). The sums of q̄ run over a water's bonds in this
    // order, so its value does not depend on the thread that takes it.
    auto bonded = [&](const NeighbourPair& p) {
        return norm(p.d) > 0.0 && p.i >= 0 && p.j >= 0 && p.i < waterCount && p.j < waterCount;
    };
    if (pairs.size() > static_cast<std::size_t>(std::numeric_limits<int32_t>::max() / 2))
        throw std::length_error("too many O-O pairs for the bond-orientational order");
    const OffsetArray bonds = buildOffsets(n, [&](auto emit) {
        for (std::size_t e = 0; e < pairs.size(); ++e)
            if (bonded(pairs[e])) {
                emit(pairs[e].i, static_cast<int32_t>(2 * e));
                emit(pairs[e].j, static_cast<int32_t>(2 * e + 1));
            }
    });
    // q_lm of each water: the mean of the harmonics over its bonds. The
    // harmonics of a run of pairs are evaluated in parallel, then added in
    // pair order.
    std::vector<double> q(n * width, 0.0);
    constexpr std::size_t run = 1 << 14;
    std::vector<double> h(std::min(run, pairs.size()) * width);
    for (std::size_t first = 0; first < pairs.size(); first += run) {
        const std::size_t last = std::min(pairs.size(), first + run);
        tbb::parallel_for(tbb::blocked_range<std::size_t>(first, last, 512),
                          [&](const tbb::blocked_range<std::size_t>& block) {
                              for (std::size_t e = block.begin(); e < block.end(); ++e)
                                  if (bonded(pairs[e]))
                                      y.evaluate(pairs[e].d * (1.0 / norm(pairs[e].d)), &h[(e - first) * width]);
                          });
        for (std::size_t e = first; e < last; ++e) {
            const NeighbourPair& p = pairs[e];
            if (!bonded(p))
                continue;
            const double* he = &h[(e - first) * width];
            double* qi = &q[static_cast<std::size_t>(p.i) * width];
            double* qj = &q[static_cast<std::size_t>(p.j) * width];
            for (std::size_t k = 0; k < width; ++k) {
                qi[k] += he[k];
                qj[k] += sign[k] * he[k];
            }
        }
    }
    tbb::parallel_for(tbb::blocked_range<std::size_t>(0, n, 4096), [&](const tbb::blocked_range<std::size_t>& block) {
        for (std::size_t i = block.begin(); i < block.end(); ++i)
            if (const std::size_t count = bonds.size(i); count > 0)
                for (std::size_t k = 0; k < width; ++k)
                    q[i * width + k] /= static_cast<double>(count);
    });
    // q̄_lm: each water's own q_lm and its neighbours', summed in bond order.
    Steinhardt s;
    s.degrees = degrees;
    const double nan = std::numeric_limits<double>::quiet_NaN();
    s.perWater.assign(degrees.size(), std::vector<double>(n, nan));
    s.value.assign(degrees.size(), nan);
    tbb::parallel_for(tbb::blocked_range<std::size_t>(0, n, 4096), [&](const tbb::blocked_range<std::size_t>& block) {
        std::vector<double> bar(width);
        for (std::size_t i = block.begin(); i < block.end(); ++i) {
            const std::size_t count = bonds.size(i);
            if (count == 0)
                continue;
            std::copy_n(&q[i * width], width, bar.begin());
            for (const int32_t e : bonds[i]) {
                const NeighbourPair& p = pairs[static_cast<std::size_t>(e >> 1)];
                const double* other = &q[static_cast<std::size_t>(e & 1 ? p.i : p.j) * width];
                for (std::size_t k = 0; k < width; ++k)
                    bar[k] += other[k];
            }
            const double inv = 1.0 / (static_cast<double>(count) + 1.0);
            for (std::size_t d = 0; d < degrees.size(); ++d) {
                const int32_t l = degrees[d];
                const double* b = &bar[static_cast<std::size_t>(y.offset(l))];
                double t = 0.0;
                for (int32_t m = 0; m <= 2 * l; ++m)
                    t += b[m] * b[m];
                s.perWater[d][i] = std::sqrt(4.0 * kPi / (2.0 * l + 1.0) * t) * inv;
            }
        }
    });
    std::vector<double> sum(degrees.size(), 0.0);
    for (std::size_t i = 0; i < n; ++i) {
        if (bonds.size(i) == 0)
            continue;
        ++s.waters;
        for (std::size_t d = 0; d < degrees.size(); ++d)
            sum[d] += s.perWater[d][i];
    }
    if (s.waters > 0)
        for (std::size_t d = 0; d < degrees.size(); ++d)
            s.value[d] = sum[d] / static_cast<double>(s.waters);
    return s;
}

Steinhardt averagedBondOrder(const std::vector<Vec3>& oxygens, const Box& box, const std::vector<int32_t>& degrees)
{
    return averagedBondOrder(static_cast<int32_t>(oxygens.size()), neighbourPairs(oxygens, box, kSteinhardtCutoff),
                             degrees);
}

} // namespace kavet
