// Thermal frames: the window average against a brute-force twin on a
// triclinic cell that changes from frame to frame, with atoms wrapped into
// arbitrary images; and every frame the same whether reached by next() or
// after skip().
#include <gtest/gtest.h>

#include <array>
#include <cstring>
#include <random>

#include "io/thermal_frames.h"

namespace kavet {
namespace {

class MemoryTrajectory : public TrajectoryReader {
public:
    explicit MemoryTrajectory(const std::vector<Frame>* frames) : frames_(frames) {}
    bool next(Coordinates& f) override
    {
        if (at_ >= frames_->size())
            return false;
        f = (*frames_)[at_++];
        return true;
    }
    int32_t atomCount() const override
    {
        return frames_->empty() ? 0 : static_cast<int32_t>(frames_->front().positions.size());
    }

private:
    const std::vector<Frame>* frames_;
    std::size_t at_ = 0;
};

using L3 = std::array<long double, 3>;
using Mat = std::array<L3, 3>; // rows: the cell vectors

Mat cellOf(const Box& b) { return {{{b.x, 0, 0}, {b.yx, b.y, 0}, {b.zx, b.zy, b.z}}}; }

L3 combine(const L3& s, const Mat& m) // s1 a + s2 b + s3 c
{
    L3 r{};
    for (int k = 0; k < 3; ++k)
        for (int i = 0; i < 3; ++i)
            r[i] += s[k] * m[k][i];
    return r;
}

L3 fractional(Vec3 r, const Mat& m) // by Cramer's rule
{
    auto det = [](const Mat& a) {
        return a[0][0] * (a[1][1] * a[2][2] - a[2][1] * a[1][2]) - a[1][0] * (a[0][1] * a[2][2] - a[2][1] * a[0][2]) +
               a[2][0] * (a[0][1] * a[1][2] - a[1][1] * a[0][2]);
    };
    L3 s{};
    for (int k = 0; k < 3; ++k) {
        Mat u = m;
        u[k] = {r.x, r.y, r.z};
        s[k] = det(u) / det(m);
    }
    return s;
}

long double length2(const L3& v) { return v[0] * v[0] + v[1] * v[1] + v[2] * v[2]; }

// Of v + n1 a + n2 b + n3 c (|n| <= 2, in the cell's or in unit steps), the
// image that `better` prefers.
template <class Better>
L3 bestImage(const L3& v, const Mat& steps, Better better)
{
    L3 best = v;
    for (int i = -2; i <= 2; ++i)
        for (int j = -2; j <= 2; ++j)
            for (int k = -2; k <= 2; ++k) {
                const L3 w = {v[0] + i * steps[0][0] + j * steps[1][0] + k * steps[2][0],
                              v[1] + i * steps[0][1] + j * steps[1][1] + k * steps[2][1],
                              v[2] + i * steps[0][2] + j * steps[1][2] + k * steps[2][2]};
                if (better(w, best))
                    best = w;
            }
    return best;
}

// The twin: each atom of each frame of the window at the image whose
// fractional position is nearest the centre's, the mean mapped with the
// centre's cell; each hydrogen then moved along its mean O-H vector
// (shortest image) to its O-H length in the centre frame.
std::vector<L3> twin(const std::vector<Frame>& frames, int c, int half, const std::vector<Water>& waters)
{
    const int lo = std::max(0, c - half), hi = std::min(static_cast<int>(frames.size()) - 1, c + half);
    const Mat mc = cellOf(frames[c].box), unit = {{{1, 0, 0}, {0, 1, 0}, {0, 0, 1}}};
    std::vector<L3> out;
    for (std::size_t i = 0; i < frames[c].positions.size(); ++i) {
        const L3 sc = fractional(frames[c].positions[i], mc);
        L3 mean{};
        for (int k = lo; k <= hi; ++k) {
            const L3 s = bestImage(fractional(frames[k].positions[i], cellOf(frames[k].box)), unit,
                                   [&](const L3& a, const L3& b) {
                                       return length2({a[0] - sc[0], a[1] - sc[1], a[2] - sc[2]}) <
                                              length2({b[0] - sc[0], b[1] - sc[1], b[2] - sc[2]});
                                   });
            for (int q = 0; q < 3; ++q)
                mean[q] += s[q] / (hi - lo + 1);
        }
        out.push_back(combine(mean, mc));
    }
    const auto shortest = [](const L3& a, const L3& b) { return length2(a) < length2(b); };
    for (const Water& w : waters)
        for (int32_t h : w.hydrogen) {
            const Vec3 rh = frames[c].positions[h], ro = frames[c].positions[w.oxygen];
            const L3 d0 = bestImage({rh.x - ro.x, rh.y - ro.y, rh.z - ro.z}, mc, shortest);
            const L3 v = bestImage({out[h][0] - out[w.oxygen][0], out[h][1] - out[w.oxygen][1],
                                    out[h][2] - out[w.oxygen][2]},
                                   mc, shortest);
            for (int q = 0; q < 3; ++q)
                out[h][q] += v[q] * (std::sqrt(length2(d0) / length2(v)) - 1);
        }
    return out;
}

TEST(ThermalFrames, WindowMeanMatchesBruteForceOnAChangingTriclinicCellAndSkipChangesNothing)
{
    // Four waters and two one-atom guests, nine frames: the cell breathes
    // and shears, every atom vibrates about a slow drift and is written at
    // a random periodic image.
    std::mt19937 rng(37);
    std::uniform_real_distribution<double> unit(0.0, 1.0), noise(-0.01, 0.01);
    std::uniform_int_distribution<int> image(-1, 1);
    const int nWater = 4, nGuest = 2, nFrames = 9, atoms = 3 * nWater + nGuest;
    std::vector<std::array<double, 3>> base(atoms); // hydrogens beside their oxygen
    for (int i = 0; i < atoms; ++i)
        base[i] = i < 3 * nWater && i % 3 ? std::array<double, 3>{base[i - i % 3][0] + 0.04, base[i - i % 3][1] + 0.03 * (i % 3), base[i - i % 3][2]}
                                          : std::array<double, 3>{unit(rng), unit(rng), unit(rng)};
    std::vector<Water> waters(nWater);
    for (int w = 0; w < nWater; ++w)
        waters[w] = {3 * w, {3 * w + 1, 3 * w + 2}};
    auto topology = std::make_shared<Topology>();
    topology->atomCount = atoms;
    topology->water = waters;
    std::vector<Frame> frames(nFrames);
    for (int f = 0; f < nFrames; ++f) {
        Frame& fr = frames[f];
        fr.time = 0.5 * f;
        fr.box = {static_cast<float>(24.0 * (1 + 0.02 * std::sin(f))), static_cast<float>(22.0 * (1 - 0.015 * f / 8.0)),
                  static_cast<float>(20.0 * (1 + 0.01 * std::cos(f))), static_cast<float>(3.0 + 0.4 * std::sin(2.0 * f)),
                  static_cast<float>(-2.5 + 0.1 * f), static_cast<float>(4.0 - 0.2 * std::sin(f))};
        const Mat m = cellOf(fr.box);
        for (int i = 0; i < atoms; ++i) {
            L3 s;
            for (int q = 0; q < 3; ++q)
                s[q] = base[i][q] + 0.002 * f + noise(rng) + image(rng);
            const L3 r = combine(s, m);
            fr.positions.push_back({static_cast<float>(r[0]), static_cast<float>(r[1]), static_cast<float>(r[2])});
        }
    }
    for (int half : {1, 2}) {
        SCOPED_TRACE(half);
        std::vector<Frame> whole;
        auto reader = averageFrames(std::make_unique<MemoryTrajectory>(&frames), half, "memory", topology);
        for (Frame out; reader->next(out);)
            whole.push_back(out);
        ASSERT_EQ(whole.size(), frames.size());
        for (int c = 0; c < nFrames; ++c) {
            SCOPED_TRACE(c);
            EXPECT_EQ(whole[c].box.yx, frames[c].box.yx);
            EXPECT_EQ(whole[c].time, frames[c].time);
            const auto expected = twin(frames, c, half, waters);
            for (int i = 0; i < atoms; ++i)
                EXPECT_LT(length2({whole[c].positions[i].x - expected[i][0], whole[c].positions[i].y - expected[i][1],
                                   whole[c].positions[i].z - expected[i][2]}),
                          1e-8L)
                    << i;
        }
        // Any number of frames skipped first: the same frames after them.
        for (int first = 1; first <= nFrames; ++first) {
            auto r = averageFrames(std::make_unique<MemoryTrajectory>(&frames), half, "memory", topology);
            for (int k = 0; k < first; ++k)
                ASSERT_TRUE(r->skip());
            int c = first;
            for (Frame out; r->next(out); ++c)
                EXPECT_EQ(std::memcmp(out.positions.data(), whole[c].positions.data(), sizeof(Vec3) * atoms), 0) << first;
            EXPECT_EQ(c, nFrames);
            EXPECT_FALSE(r->skip());
        }
    }
}

// Two waters that swap places within the window would average to one spot:
// both are left where the centre frame has them; a third, still water is
// averaged as ever.
TEST(ThermalFrames, WatersThatMeetInTheMeanStayWhereTheirFrameHasThem)
{
    const float xa[3] = {8.0f, 8.8f, 12.0f}, xb[3] = {12.0f, 11.2f, 8.0f}, xc[3] = {3.0f, 3.3f, 3.0f};
    std::vector<Frame> frames(3);
    for (int f = 0; f < 3; ++f) {
        frames[f].box = {20.0f, 20.0f, 20.0f};
        for (float x : {xa[f], xb[f], xc[f]})
            for (Vec3 d : {Vec3{0, 0, 0}, Vec3{0, 0.96f, 0}, Vec3{0, 0, 0.96f}})
                frames[f].positions.push_back(Vec3{x, 10.0f, 10.0f} + d);
    }
    auto topology = std::make_shared<Topology>();
    topology->atomCount = 9;
    topology->water = {{0, {1, 2}}, {3, {4, 5}}, {6, {7, 8}}};
    auto reader = averageFrames(std::make_unique<MemoryTrajectory>(&frames), 1, "memory", topology);
    Frame out;
    ASSERT_TRUE(reader->next(out) && reader->next(out));
    for (int i = 0; i < 6; ++i)
        EXPECT_EQ(out.positions[i].x, frames[1].positions[i].x) << i;
    EXPECT_NEAR(out.positions[6].x, 3.1, 1e-5);
}

} // namespace
} // namespace kavet
