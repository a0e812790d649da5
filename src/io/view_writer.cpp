#include "io/view_writer.h"

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <cstdio>

namespace kavet {
namespace {

// A token of the file: no blank, quote or control character (types hold
// digits, '^' and '-' only, but nothing is taken on trust).
std::string token(const std::string& s)
{
    std::string t = s.empty() ? "-" : s;
    for (char& c : t)
        if (static_cast<unsigned char>(c) <= ' ' || c == '"' || c == '\'' || c == '=' || c == 0x7f)
            c = '_';
    return t;
}

// The real columns of one particle (water w, or a cage when w < 0), each
// after a blank.
void appendReals(std::string& t, const std::vector<ViewReal>& reals, std::ptrdiff_t w)
{
    char v[64];
    for (const ViewReal& r : reals) {
        const bool has = w >= 0 && r.perWater && static_cast<std::size_t>(w) < r.perWater->size() &&
                         !std::isnan((*r.perWater)[w]);
        if (has)
            std::snprintf(v, sizeof v, " %.6f", (*r.perWater)[w]);
        t += has ? v : " nan";
    }
}

} // namespace

std::vector<ViewReal> viewReals(const FrameCensus& census)
{
    std::vector<ViewReal> r = {{"f4", &census.f4PerWater}, {"f3", &census.f3.perWater}, {"q_tet", &census.qTet.perWater}};
    for (std::size_t k = 0; k < census.qbar.degrees.size() && k < census.qbar.perWater.size(); ++k)
        r.push_back({"qbar_" + std::to_string(census.qbar.degrees[k]), &census.qbar.perWater[k]});
    return r;
}

std::string viewFrameText(int64_t number, double time, const Frame& frame, const std::vector<CageRecord>& cages,
                 const std::vector<ChillLabel>& labels, const std::vector<int32_t>& ids,
                 const std::vector<ViewReal>& reals)
{
    const std::size_t waterCount = frame.topology().water.size();
    // Per water: closed cages and the smallest cluster among them.
    std::vector<int32_t> slot(static_cast<std::size_t>(frame.topology().atomCount) + 1, -1);
    for (std::size_t w = 0; w < waterCount; ++w)
        slot[static_cast<std::size_t>(frame.topology().water[w].oxygen) + 1] = static_cast<int32_t>(w);
    std::vector<int32_t> inCages(waterCount, 0), cluster(waterCount, 0);
    std::size_t closed = 0;
    for (const CageRecord& r : cages) {
        if (!r.closed)
            continue;
        ++closed;
        for (int32_t atom : r.waters) {
            const int32_t w =
                atom >= 1 && atom <= frame.topology().atomCount ? slot[static_cast<std::size_t>(atom)] : -1;
            if (w < 0)
                continue;
            ++inCages[w];
            if (r.cluster > 0 && (cluster[w] == 0 || r.cluster < cluster[w]))
                cluster[w] = r.cluster;
        }
    }

    std::string t;
    char line[256];
    std::snprintf(line, sizeof line, "%zu\n", waterCount + closed);
    t += line;
    const Box& b = frame.box;
    std::snprintf(line, sizeof line, "Lattice=\"%.5f %.5f %.5f %.5f %.5f %.5f %.5f %.5f %.5f\" ",
                  static_cast<double>(b.x), 0.0, 0.0, static_cast<double>(b.yx), static_cast<double>(b.y), 0.0,
                  static_cast<double>(b.zx), static_cast<double>(b.zy), static_cast<double>(b.z));
    t += line;
    t += "Properties=species:S:1:pos:R:3:kind:S:1:chill:I:1:cages:I:1:cluster:I:1:id:I:1";
    for (const ViewReal& r : reals) {
        t += ':';
        t += token(r.name);
        t += ":R:1";
    }
    t += " ";
    std::snprintf(line, sizeof line, "pbc=\"%c %c %c\" frame=%lld time=%.10g\n", b.x > 0.0f ? 'T' : 'F',
                  b.y > 0.0f ? 'T' : 'F', b.z > 0.0f ? 'T' : 'F', static_cast<long long>(number), time);
    t += line;
    for (std::size_t w = 0; w < waterCount; ++w) {
        const Vec3 p = frame.positions[frame.topology().water[w].oxygen];
        const int label = w < labels.size() ? static_cast<int>(labels[w]) : 0;
        std::snprintf(line, sizeof line, "O %.4f %.4f %.4f OW %d %d %d 0", static_cast<double>(p.x),
                      static_cast<double>(p.y), static_cast<double>(p.z), label, inCages[w], cluster[w]);
        t += line;
        appendReals(t, reals, static_cast<std::ptrdiff_t>(w));
        t += "\n";
    }
    for (std::size_t c = 0; c < cages.size(); ++c) {
        const CageRecord& r = cages[c];
        if (!r.closed)
            continue;
        std::snprintf(line, sizeof line, "X %.4f %.4f %.4f ", r.centre.x, r.centre.y, r.centre.z);
        t += line;
        t += token(r.type);
        std::snprintf(line, sizeof line, " -1 0 %d %d", r.cluster, c < ids.size() ? ids[c] : 0);
        t += line;
        appendReals(t, reals, -1);
        t += "\n";
    }
    return t;
}

ViewWriter::ViewWriter(const std::string& path, const SeriesOutputs* outputs) : file_(path, outputs) {}

void ViewWriter::frame(int64_t number, double time, const Frame& frame, const std::vector<CageRecord>& cages,
                 const std::vector<ChillLabel>& labels, const std::vector<int32_t>& ids,
                 const std::vector<ViewReal>& reals)
{
    file_.write(viewFrameText(number, time, frame, cages, labels, ids, reals));
}

} // namespace kavet
