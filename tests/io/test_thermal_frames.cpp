// Thermal frames: the window average against a brute-force twin on a
// triclinic cell that changes from frame to frame, with atoms wrapped into
// arbitrary images; and every frame the same whether reached by next() or
// after skip().
#include <gtest/gtest.h>

#include <array>
#include <random>

#include "io/thermal_frames.h"

namespace kavet {
namespace {

class MemoryTrajectory : public TrajectoryReader {
public:
    explicit MemoryTrajectory(const std::vector<Frame>* frames) : frames_(frames) {}
    bool next(Frame& f) override
    {
        if (at_ >= frames_->size())
            return false;
        const Frame& src = (*frames_)[at_++];
        f.numAtom = src.numAtom;
        f.atmXYZ = src.atmXYZ;
        f.box = src.box;
        f.hasTime = true;
        f.time = src.time;
        f.step = src.step;
        return true;
    }
    int32_t numAtom() const override { return frames_->empty() ? 0 : frames_->front().numAtom; }

private:
    const std::vector<Frame>* frames_;
    std::size_t at_ = 0;
};

using Mat = std::array<std::array<long double, 3>, 3>; // rows: the cell vectors

Mat cellOf(const Box& b)
{
    return {{{b.x, 0, 0}, {b.yx, b.y, 0}, {b.zx, b.zy, b.z}}};
}

// r = s1 a + s2 b + s3 c, solved by Cramer's rule.
std::array<long double, 3> fractional(Vec3 r, const Mat& m)
{
    auto det = [](const Mat& a) {
        return a[0][0] * (a[1][1] * a[2][2] - a[1][2] * a[2][1]) - a[0][1] * (a[1][0] * a[2][2] - a[1][2] * a[2][0]) +
               a[0][2] * (a[1][0] * a[2][1] - a[1][1] * a[2][0]);
    };
    Mat t{}; // columns: the cell vectors
    for (int i = 0; i < 3; ++i)
        for (int j = 0; j < 3; ++j)
            t[i][j] = m[j][i];
    const long double d = det(t), rv[3] = {r.x, r.y, r.z};
    std::array<long double, 3> s{};
    for (int k = 0; k < 3; ++k) {
        Mat u = t;
        for (int i = 0; i < 3; ++i)
            u[i][k] = rv[i];
        s[k] = det(u) / d;
    }
    return s;
}

std::array<long double, 3> cartesianOf(const std::array<long double, 3>& s, const Mat& m)
{
    std::array<long double, 3> r{};
    for (int k = 0; k < 3; ++k)
        for (int i = 0; i < 3; ++i)
            r[i] += s[k] * m[k][i];
    return r;
}

// The shortest of the images v + n1 a + n2 b + n3 c, |n| <= 2.
std::array<long double, 3> shortestImage(std::array<long double, 3> v, const Mat& m)
{
    std::array<long double, 3> best = v;
    long double bestLength = 1e30L;
    for (int i = -2; i <= 2; ++i)
        for (int j = -2; j <= 2; ++j)
            for (int k = -2; k <= 2; ++k) {
                std::array<long double, 3> w{};
                long double l = 0;
                for (int c = 0; c < 3; ++c) {
                    w[c] = v[c] + i * m[0][c] + j * m[1][c] + k * m[2][c];
                    l += w[c] * w[c];
                }
                if (l < bestLength)
                    bestLength = l, best = w;
            }
    return best;
}

// The twin: each atom of each frame of the window at the image (of 125) whose
// fractional position is nearest the centre's, the mean fractional position
// mapped with the centre's cell; each hydrogen then moved along its mean O-H
// vector (shortest image) to its O-H length in the centre frame.
std::vector<std::array<long double, 3>> twin(const std::vector<Frame>& frames, int c, int half,
                                             const std::vector<Water>& waters)
{
    const int lo = std::max(0, c - half), hi = std::min(static_cast<int>(frames.size()) - 1, c + half);
    const Mat mc = cellOf(frames[c].box);
    std::vector<std::array<long double, 3>> out;
    for (int32_t i = 0; i < frames[c].numAtom; ++i) {
        const auto sc = fractional(frames[c].atmXYZ[i], mc);
        std::array<long double, 3> mean{};
        for (int k = lo; k <= hi; ++k) {
            const auto sk = fractional(frames[k].atmXYZ[i], cellOf(frames[k].box));
            std::array<long double, 3> best{};
            long double bestDistance = 1e30L;
            for (int a = -2; a <= 2; ++a)
                for (int b = -2; b <= 2; ++b)
                    for (int g = -2; g <= 2; ++g) {
                        const std::array<long double, 3> s = {sk[0] + a, sk[1] + b, sk[2] + g};
                        const long double d = (s[0] - sc[0]) * (s[0] - sc[0]) + (s[1] - sc[1]) * (s[1] - sc[1]) +
                                              (s[2] - sc[2]) * (s[2] - sc[2]);
                        if (d < bestDistance)
                            bestDistance = d, best = s;
                    }
            for (int q = 0; q < 3; ++q)
                mean[q] += best[q] / (hi - lo + 1);
        }
        out.push_back(cartesianOf(mean, mc));
    }
    for (const Water& w : waters)
        for (int32_t h : w.hydrogen) {
            auto diff = [&](const std::array<long double, 3>& p, const std::array<long double, 3>& q) {
                return shortestImage({p[0] - q[0], p[1] - q[1], p[2] - q[2]}, mc);
            };
            auto at = [&](int32_t i) {
                const Vec3 r = frames[c].atmXYZ[i];
                return std::array<long double, 3>{r.x, r.y, r.z};
            };
            const auto d0 = diff(at(h), at(w.oxygen)), v = diff(out[h], out[w.oxygen]);
            const long double l0 = std::sqrt(d0[0] * d0[0] + d0[1] * d0[1] + d0[2] * d0[2]);
            const long double l = std::sqrt(v[0] * v[0] + v[1] * v[1] + v[2] * v[2]);
            for (int q = 0; q < 3; ++q)
                out[h][q] += v[q] * (l0 / l - 1);
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
    std::vector<std::array<double, 3>> base(atoms);
    for (int w = 0; w < nWater; ++w) {
        base[3 * w] = {unit(rng), unit(rng), unit(rng)};
        for (int h = 1; h <= 2; ++h)
            base[3 * w + h] = {base[3 * w][0] + 0.04 * (h == 1 ? 1 : -0.3), base[3 * w][1] + 0.03, base[3 * w][2]};
    }
    for (int g = 0; g < nGuest; ++g)
        base[3 * nWater + g] = {unit(rng), unit(rng), unit(rng)};
    std::vector<Water> waters(nWater);
    for (int w = 0; w < nWater; ++w)
        waters[w] = {3 * w, {3 * w + 1, 3 * w + 2}};
    std::vector<Frame> frames(nFrames);
    for (int f = 0; f < nFrames; ++f) {
        Frame& fr = frames[f];
        fr.numAtom = atoms;
        fr.time = 0.5 * f;
        fr.step = 250 * f;
        fr.box = {static_cast<float>(24.0 * (1 + 0.02 * std::sin(f))), static_cast<float>(22.0 * (1 - 0.015 * f / 8.0)),
                  static_cast<float>(20.0 * (1 + 0.01 * std::cos(f))), static_cast<float>(3.0 + 0.4 * std::sin(2.0 * f)),
                  static_cast<float>(-2.5 + 0.1 * f), static_cast<float>(4.0 - 0.2 * std::sin(f))};
        const Mat m = cellOf(fr.box);
        for (int i = 0; i < atoms; ++i) {
            std::array<long double, 3> s;
            for (int q = 0; q < 3; ++q)
                s[q] = base[i][q] + 0.002 * f + noise(rng) + image(rng);
            const auto r = cartesianOf(s, m);
            fr.atmXYZ.push_back({static_cast<float>(r[0]), static_cast<float>(r[1]), static_cast<float>(r[2])});
        }
    }
    for (int half : {1, 2}) {
        SCOPED_TRACE(half);
        std::vector<Frame> whole;
        auto reader = averageFrames(std::make_unique<MemoryTrajectory>(&frames), half, "memory");
        for (Frame out; out.water = waters, reader->next(out);)
            whole.push_back(out);
        ASSERT_EQ(whole.size(), frames.size());
        for (int c = 0; c < nFrames; ++c) {
            SCOPED_TRACE(c);
            EXPECT_EQ(whole[c].box.yx, frames[c].box.yx);
            EXPECT_EQ(whole[c].time, frames[c].time);
            const auto expected = twin(frames, c, half, waters);
            for (int i = 0; i < atoms; ++i) {
                EXPECT_NEAR(whole[c].atmXYZ[i].x, static_cast<double>(expected[i][0]), 2e-4) << i;
                EXPECT_NEAR(whole[c].atmXYZ[i].y, static_cast<double>(expected[i][1]), 2e-4) << i;
                EXPECT_NEAR(whole[c].atmXYZ[i].z, static_cast<double>(expected[i][2]), 2e-4) << i;
            }
        }
        // Any number of frames skipped first: the same frames after them.
        for (int first = 1; first <= nFrames; ++first) {
            auto r = averageFrames(std::make_unique<MemoryTrajectory>(&frames), half, "memory");
            for (int k = 0; k < first; ++k)
                ASSERT_TRUE(r->skip());
            int c = first;
            for (Frame out; out.water = waters, r->next(out); ++c)
                for (int i = 0; i < atoms; ++i)
                    EXPECT_TRUE(out.atmXYZ[i].x == whole[c].atmXYZ[i].x && out.atmXYZ[i].y == whole[c].atmXYZ[i].y &&
                                out.atmXYZ[i].z == whole[c].atmXYZ[i].z)
                        << first << " " << c << " " << i;
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
        frames[f].numAtom = 9;
        frames[f].box = {20.0f, 20.0f, 20.0f};
        for (float x : {xa[f], xb[f], xc[f]})
            for (Vec3 d : {Vec3{0, 0, 0}, Vec3{0, 0.96f, 0}, Vec3{0, 0, 0.96f}})
                frames[f].atmXYZ.push_back(Vec3{x, 10.0f, 10.0f} + d);
    }
    auto reader = averageFrames(std::make_unique<MemoryTrajectory>(&frames), 1, "memory");
    Frame out;
    out.water = {{0, {1, 2}}, {3, {4, 5}}, {6, {7, 8}}};
    ASSERT_TRUE(reader->next(out) && reader->next(out));
    for (int i = 0; i < 6; ++i)
        EXPECT_EQ(out.atmXYZ[i].x, frames[1].atmXYZ[i].x) << i;
    EXPECT_NEAR(out.atmXYZ[6].x, 3.1, 1e-5);
}

} // namespace
} // namespace kavet
