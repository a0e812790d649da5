#include "io/profile_writer.h"

#include <array>
#include <cmath>
#include <cstdio>

#include "core/error.h"

namespace kavet {
namespace {

// The CHILL+ columns in file order, as the series names them.
constexpr std::array<ChillLabel, kChillLabels> columnLabels = {
    ChillLabel::Cubic,     ChillLabel::Hexagonal,           ChillLabel::InterfacialIce,
    ChillLabel::Clathrate, ChillLabel::InterfacialClathrate, ChillLabel::Liquid};

// The fractional coordinate of p along cell vector `axis`, wrapped into
// [0, 1). The cell matrix is lower triangular (core/box.h).
double fraction(const DVec3& p, const Box& b, int32_t axis)
{
    const double fc = p.z / b.z;
    const double fb = (p.y - fc * b.zy) / b.y;
    const double fa = (p.x - fb * b.yx - fc * b.zx) / b.x;
    const double f = axis == 0 ? fa : axis == 1 ? fb : fc;
    const double w = f - std::floor(f);
    return w < 1.0 ? w : 0.0;
}

// The cell's height along `axis`: its volume over the area of the face
// spanned by the two other vectors.
double height(const Box& b, int32_t axis)
{
    const double x = b.x, y = b.y, z = b.z, yx = b.yx, zx = b.zx, zy = b.zy;
    if (axis == 2)
        return z;
    if (axis == 1) // b = (yx, y, 0) over the face of a and c: |a x c| = x * |(0, -z, zy)|
        return y * z / std::hypot(z, zy);
    // a over the face of b and c: |b x c| = |(y z, -yx z, yx zy - y zx)|
    return x * y * z / std::sqrt(y * y * z * z + yx * yx * z * z + (yx * zy - y * zx) * (yx * zy - y * zx));
}

} // namespace

std::string profileHeader()
{
    return "frame,time_ps,slab,position,chill_cubic,chill_hexagonal,chill_interfacial_ice,chill_clathrate,"
           "chill_interfacial_clathrate,chill_liquid,cages\n";
}

std::string profileFrameText(int64_t number, const std::string& time, const Frame& frame,
                             const std::vector<CageRecord>& cages, const std::vector<ChillLabel>& labels,
                             const ProfileAxis& axis)
{
    const Box& b = frame.box;
    if (!(b.x > 0.0f && b.y > 0.0f && b.z > 0.0f))
        throw InputError("frame " + std::to_string(number) +
                         " has no periodic cell in every direction; the profile (-oprofile) needs one");
    const double h = height(b, axis.axis);
    const int64_t slabs = std::max<int64_t>(1, std::llround(h / axis.width));
    auto slabOf = [&](const DVec3& p) {
        return std::min<int64_t>(slabs - 1, static_cast<int64_t>(fraction(p, b, axis.axis) * static_cast<double>(slabs)));
    };
    std::vector<std::array<int64_t, kChillLabels + 1>> count(static_cast<std::size_t>(slabs));
    for (auto& c : count)
        c.fill(0);
    for (std::size_t w = 0; w < frame.topology().water.size() && w < labels.size(); ++w) {
        const Vec3 p = frame.positions[static_cast<std::size_t>(frame.topology().water[w].oxygen)];
        const std::size_t label = static_cast<std::size_t>(labels[w]);
        std::size_t column = 0;
        while (column < columnLabels.size() && static_cast<std::size_t>(columnLabels[column]) != label)
            ++column;
        if (column < columnLabels.size())
            ++count[static_cast<std::size_t>(slabOf(DVec3{p.x, p.y, p.z}))][column];
    }
    for (const CageRecord& r : cages)
        if (r.closed)
            ++count[static_cast<std::size_t>(slabOf(r.centre))][kChillLabels];
    std::string t;
    char line[96];
    for (int64_t s = 0; s < slabs; ++s) {
        std::snprintf(line, sizeof line, "%lld,", static_cast<long long>(number));
        t += line;
        t += time;
        std::snprintf(line, sizeof line, ",%lld,%.4f", static_cast<long long>(s),
                      (static_cast<double>(s) + 0.5) * h / static_cast<double>(slabs));
        t += line;
        for (int64_t c : count[static_cast<std::size_t>(s)]) {
            std::snprintf(line, sizeof line, ",%lld", static_cast<long long>(c));
            t += line;
        }
        t += '\n';
    }
    return t;
}

ProfileWriter::ProfileWriter(const std::string& path, const ProfileAxis& axis, const SeriesOutputs* outputs)
    : file_(path, outputs), axis_(axis)
{
    file_.write(profileHeader());
}

void ProfileWriter::frame(int64_t number, const std::string& time, const Frame& frame,
                          const std::vector<CageRecord>& cages, const std::vector<ChillLabel>& labels)
{
    file_.write(profileFrameText(number, time, frame, cages, labels, axis_));
}

} // namespace kavet
