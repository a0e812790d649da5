#include "io/thermal_frames.h"

#include <algorithm>
#include <cmath>
#include <deque>
#include <utility>
#include <vector>

#include "core/dvec3.h"
#include "core/error.h"
#include "core/neighbours.h"
#include "io/frame_checks.h"

namespace kavet {

namespace {

// Scaled coordinates of r in `box`: r = s1 a + s2 b + s3 c, the cell's rows
// lower triangular. Along an axis that is not periodic (a rectangular cell
// only: a triclinic one has three positive lengths) the coordinate is r's own.
DVec3 scaled(Vec3 r, const Box& box)
{
    if (box.triclinic()) {
        const double s3 = r.z / static_cast<double>(box.z);
        const double s2 = (r.y - s3 * box.zy) / static_cast<double>(box.y);
        const double s1 = (r.x - s2 * box.yx - s3 * box.zx) / static_cast<double>(box.x);
        return {s1, s2, s3};
    }
    auto one = [](double v, float length) { return length > 0.0f ? v / static_cast<double>(length) : v; };
    return {one(r.x, box.x), one(r.y, box.y), one(r.z, box.z)};
}

DVec3 cartesian(DVec3 s, const Box& box)
{
    if (box.triclinic())
        return {s.x * box.x + s.y * box.yx + s.z * box.zx, s.y * box.y + s.z * box.zy, s.z * box.z};
    auto one = [](double v, float length) { return length > 0.0f ? v * static_cast<double>(length) : v; };
    return {one(s.x, box.x), one(s.y, box.y), one(s.z, box.z)};
}

class AveragedTrajectory : public TrajectoryReader {
public:
    AveragedTrajectory(std::unique_ptr<TrajectoryReader> inner, int32_t halfWidth, std::string name,
                       std::shared_ptr<const Topology> topology)
        : inner_(std::move(inner)), half_(halfWidth), name_(std::move(name)),
          water_(topology ? std::move(topology) : std::make_shared<const Topology>())
    {
        if (halfWidth < 0)
            throw Failure("the half-width of the frame average must be 0 or more frames, not " +
                          std::to_string(halfWidth));
    }

    bool next(Coordinates& frame) override
    {
        if (!load(centre_ + half_))
            return false;
        average(frame);
        ++centre_;
        return true;
    }

    bool skip() override
    {
        // The frames that a later frame's window needs are read whole.
        if (!load(centre_))
            return false;
        ++centre_;
        return true;
    }

    int32_t atomCount() const override { return inner_->atomCount(); }
    double fractionRead() const override { return inner_->fractionRead(); }

private:
    struct Raw {
        Coordinates frame;        // positions, cell, time and step as read
        std::vector<DVec3> s;     // scaled positions, in the frame's own cell
    };

    // Reads on until frame `last` (or the end) is held, keeping the frames
    // from centre_ - H on; false when frame centre_ does not exist.
    bool load(int64_t last)
    {
        while (window_.size() > 0 && first_ < centre_ - half_) {
            window_.pop_front();
            ++first_;
        }
        while (!ended_ && read_ <= last) {
            if (read_ < centre_ - half_) {
                // No window still to come reaches it.
                if (!inner_->skip())
                    ended_ = true;
                else
                    ++read_;
                first_ = read_;
                continue;
            }
            Raw raw;
            if (!spare_.empty()) {
                raw = std::move(spare_.back());
                spare_.pop_back();
            }
            if (!inner_->next(raw.frame)) {
                ended_ = true;
                break;
            }
            const int32_t atoms = static_cast<int32_t>(raw.frame.positions.size());
            if (atoms_ < 0)
                atoms_ = atoms;
            else if (atoms != atoms_)
                throw FormatError(name_ + ": frame " + std::to_string(read_) + " has " +
                                  std::to_string(atoms) + " atoms, but frame 0 has " +
                                  std::to_string(atoms_));
            raw.s.resize(raw.frame.positions.size());
            for (std::size_t i = 0; i < raw.s.size(); ++i)
                raw.s[i] = scaled(raw.frame.positions[i], raw.frame.box);
            if (window_.empty())
                first_ = read_;
            window_.push_back(std::move(raw));
            ++read_;
        }
        return centre_ >= first_ && centre_ < first_ + static_cast<int64_t>(window_.size());
    }

    void average(Coordinates& out)
    {
        const Raw& c = window_[static_cast<std::size_t>(centre_ - first_)];
        const Box& box = c.frame.box;
        const bool periodic[3] = {box.x > 0.0f, box.y > 0.0f, box.z > 0.0f};
        const int64_t lo = std::max(first_, centre_ - half_);
        const int64_t hi = std::min(first_ + static_cast<int64_t>(window_.size()) - 1, centre_ + half_);
        const double n = static_cast<double>(hi - lo + 1);
        const std::size_t atoms = c.s.size();
        sum_.assign(atoms, DVec3{});
        for (int64_t k = lo; k <= hi; ++k) {
            const Raw& f = window_[static_cast<std::size_t>(k - first_)];
            for (std::size_t i = 0; i < atoms; ++i) {
                DVec3 d = f.s[i] - c.s[i];
                if (periodic[0])
                    d.x -= roundHalfAway(d.x);
                if (periodic[1])
                    d.y -= roundHalfAway(d.y);
                if (periodic[2])
                    d.z -= roundHalfAway(d.z);
                sum_[i] = sum_[i] + d;
            }
        }
        const int32_t atomCount = static_cast<int32_t>(atoms);
        out.positions.resize(atoms);
        for (std::size_t i = 0; i < atoms; ++i) {
            const DVec3 r = cartesian(c.s[i] + sum_[i] * (1.0 / n), box);
            out.positions[i] = {static_cast<float>(r.x), static_cast<float>(r.y), static_cast<float>(r.z)};
        }
        // Each hydrogen at its O-H length of the centre frame, along its mean
        // O-H vector.
        for (const Water& w : water_->water) {
            if (!w.hasHydrogens() || w.oxygen >= atomCount)
                continue;
            const std::size_t o = static_cast<std::size_t>(w.oxygen);
            for (int32_t h : w.hydrogen) {
                if (h >= atomCount)
                    continue;
                const std::size_t hh = static_cast<std::size_t>(h);
                const double length = norm(toDouble(minimumImage(c.frame.positions[hh], c.frame.positions[o], box)));
                const DVec3 v = toDouble(minimumImage(out.positions[hh], out.positions[o], box));
                const double mean = norm(v);
                if (!(mean > 1e-6))
                    continue;
                const DVec3 r = toDouble(out.positions[hh]) + v * (length / mean - 1.0);
                out.positions[hh] = {static_cast<float>(r.x), static_cast<float>(r.y), static_cast<float>(r.z)};
            }
        }
        keepApart(out, c.frame);
        out.box = box;
        out.hasTime = c.frame.hasTime;
        out.time = c.frame.time;
        out.step = c.frame.step;
        // The frame before the next window is no longer needed: its storage
        // serves the next frame read.
        if (first_ < centre_ + 1 - half_ && !window_.empty()) {
            spare_.push_back(std::move(window_.front()));
            window_.pop_front();
            ++first_;
        }
    }

    // Molecules that move on through the window (a liquid diffusing, a
    // melt) have no structure to average to, and two of them may average to
    // nearly one place. Every water whose mean oxygen comes closer than
    // suspiciousOxygenDistance to another one's is put back, whole, where
    // frame c has it, until no such pair is left but those of frame c itself:
    // an averaged frame then shows no closer contact than its frame does.
    void keepApart(Coordinates& out, const Coordinates& centre)
    {
        const std::vector<Water>& water = water_->water;
        const int32_t atomCount = static_cast<int32_t>(out.positions.size());
        const std::size_t waters = water.size();
        if (waters < 2)
            return;
        std::vector<int32_t> oxygens, waterOf(static_cast<std::size_t>(atomCount), -1);
        for (std::size_t w = 0; w < waters; ++w) {
            const int32_t o = water[w].oxygen;
            if (o < 0 || o >= atomCount)
                return;
            oxygens.push_back(o);
            waterOf[static_cast<std::size_t>(o)] = static_cast<int32_t>(w);
        }
        if (!std::is_sorted(oxygens.begin(), oxygens.end()))
            return;
        std::vector<uint8_t> restored(waters, 0);
        for (;;) {
            const NeighbourList near =
                buildNeighbourList(out.positions, oxygens, centre.box, suspiciousOxygenDistance);
            bool changed = false;
            for (std::size_t k = 0; k < oxygens.size(); ++k)
                for (const int32_t j : near.other[k])
                    for (int32_t atom : {oxygens[k], j}) {
                        const std::size_t w = static_cast<std::size_t>(waterOf[static_cast<std::size_t>(atom)]);
                        if (restored[w])
                            continue;
                        restored[w] = 1;
                        changed = true;
                        const Water& one = water[w];
                        for (int32_t i : {one.oxygen, one.hydrogen[0], one.hydrogen[1]})
                            if (i >= 0 && i < atomCount)
                                out.positions[static_cast<std::size_t>(i)] = centre.positions[static_cast<std::size_t>(i)];
                    }
            if (!changed)
                return;
        }
    }

    std::unique_ptr<TrajectoryReader> inner_;
    int32_t half_;
    std::string name_;
    std::shared_ptr<const Topology> water_; // its water table
    std::deque<Raw> window_;  // frames first_ .. first_ + size - 1, read whole
    std::vector<Raw> spare_;
    std::vector<DVec3> sum_;
    int64_t first_ = 0;       // the number of window_'s first frame
    int64_t read_ = 0;        // frames taken from inner_ so far
    int64_t centre_ = 0;      // the number of the next frame handed out
    int32_t atoms_ = -1;
    bool ended_ = false;
};

} // namespace

std::unique_ptr<TrajectoryReader> averageFrames(std::unique_ptr<TrajectoryReader> inner, int32_t halfWidth,
                                                std::string name, std::shared_ptr<const Topology> topology)
{
    return std::make_unique<AveragedTrajectory>(std::move(inner), halfWidth, std::move(name), std::move(topology));
}

} // namespace kavet
