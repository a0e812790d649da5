#include "io/array_frame.h"

#include <climits>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <string>

#include "core/error.h"
#include "io/frame_checks.h"
#include "io/water_hydrogens.h"

namespace kavet {
namespace {

std::vector<int64_t> indices(const ArrayView<int64_t>& a, int64_t n, const char* what)
{
    std::vector<int64_t> v(a.data, a.data + a.size());
    for (int64_t i : v)
        if (i < 0 || i >= n)
            throw InputError(std::string(what) + ": atom index " + std::to_string(i) + " is outside 0.." +
                             std::to_string(n - 1));
    return v;
}

// A cell whose lengths along x, y, z are negative is no cell; zero lengths
// mean no periodicity, and numbers that are not finite are refused with the
// frame's checks.
Box nonNegative(const Box& box)
{
    if (box.x < 0 || box.y < 0 || box.z < 0)
        throw InputError("box: the cell's lengths along x, y and z must not be negative (0 for no periodicity)");
    return box;
}

// The 3x3 matrix's and the six numbers' conversion to the cell's float
// fields: numbers beyond float's range become infinite (and are refused as
// such), not undefined.
float narrow(double v)
{
    constexpr double largest = 3.4028234663852886e38;
    if (v > largest)
        return INFINITY;
    if (v < -largest)
        return -INFINITY;
    return static_cast<float>(v);
}

} // namespace

Box arrayBox(const ArrayView<double>& b)
{
    Box box;
    const double* v = b.data;
    if (b.ndim() == 1 && b.shape[0] == 3) {
        box.x = narrow(v[0]);
        box.y = narrow(v[1]);
        box.z = narrow(v[2]);
        return nonNegative(box);
    }
    if (b.ndim() == 2 && b.shape[0] == 3 && b.shape[1] == 3) {
        const auto at = [&](int i, int j) { return v[3 * i + j]; };
        if (at(0, 1) != 0.0 || at(0, 2) != 0.0 || at(1, 2) != 0.0)
            throw InputError("box: the cell matrix must be lower triangular (rows a, b, c; a along x, b in the "
                             "xy plane), as GROMACS and MDAnalysis's triclinic_vectors give it");
        box.x = narrow(at(0, 0));
        box.yx = narrow(at(1, 0));
        box.y = narrow(at(1, 1));
        box.zx = narrow(at(2, 0));
        box.zy = narrow(at(2, 1));
        box.z = narrow(at(2, 2));
        return nonNegative(box);
    }
    if (b.ndim() == 1 && b.shape[0] == 6) {
        // MDAnalysis's dimensions: lengths a, b, c and angles alpha, beta,
        // gamma in degrees; a along x, b in the xy plane.
        const double pi = 3.14159265358979323846;
        const auto cosine = [&](double degrees) { return degrees == 90.0 ? 0.0 : std::cos(degrees * pi / 180.0); };
        const double ca = cosine(v[3]), cb = cosine(v[4]), cg = cosine(v[5]);
        const double sg = v[5] == 90.0 ? 1.0 : std::sin(v[5] * pi / 180.0);
        const double cy = (ca - cb * cg) / sg, cz2 = 1.0 - cb * cb - cy * cy;
        const auto angle = [&](int k) { return v[k] > 0.0 && v[k] < 180.0; };
        if (!(v[0] > 0 && v[1] > 0 && v[2] > 0) || !angle(3) || !angle(4) || !angle(5) || !(sg > 0) || !(cz2 > 0))
            throw InputError("box: the six numbers a, b, c, alpha, beta, gamma give no cell");
        box.x = narrow(v[0]);
        box.yx = narrow(v[1] * cg);
        box.y = narrow(v[1] * sg);
        box.zx = narrow(v[2] * cb);
        box.zy = narrow(v[2] * cy);
        box.z = narrow(v[2] * std::sqrt(cz2));
        return box;
    }
    throw InputError("box: give three lengths, six numbers a, b, c, alpha, beta, gamma (MDAnalysis's "
                     "dimensions) or a 3x3 cell matrix, in angstrom and degrees");
}

ArrayFrame arrayFrame(const ArrayFrameInput& in)
{
    const ArrayView<float>& positions = in.positions;
    if (positions.ndim() != 2 || positions.shape[1] != 3)
        throw InputError("positions: an (n, 3) array in angstrom is needed");
    const int64_t n = positions.shape[0];
    if (n > INT32_MAX / 2)
        throw InputError("positions: too many atoms");
    ArrayFrame p;
    p.userAtoms = static_cast<int32_t>(n);
    Frame& f = p.frame;
    Topology& t = f.editTopology();
    f.box = arrayBox(in.box);
    if (in.time) {
        f.hasTime = true;
        f.time = *in.time;
    }
    if (in.oxygens.ndim() != 1)
        throw InputError("oxygens: a one-dimensional array of atom indices is needed");
    const std::vector<int64_t> ow = indices(in.oxygens, n, "oxygens");
    std::vector<int64_t> hw;
    if (in.hydrogens) {
        const ArrayView<int64_t>& h = *in.hydrogens;
        if (h.ndim() != 2 || h.shape[0] != static_cast<int64_t>(ow.size()) || h.shape[1] != 2)
            throw InputError("hydrogens: an (oxygens, 2) array of atom indices is needed");
        hw = indices(h, n, "hydrogens");
    }
    // Guests: one atom each (1-d) or a row of atoms each (2-d).
    std::vector<int64_t> gatoms;
    int64_t perGuest = 1;
    if (in.guests) {
        const ArrayView<int64_t>& g = *in.guests;
        if (g.ndim() == 2)
            perGuest = g.shape[1];
        else if (g.ndim() != 1)
            throw InputError("guests: atom indices, one per guest or a row per guest, are needed");
        if (perGuest < 1)
            throw InputError("guests: each guest needs an atom");
        gatoms = indices(g, n, "guests");
        p.hasGuests = true;
    }

    // Each atom in one role at most: 1 oxygen, 2 guest atom, 3 given hydrogen.
    std::vector<uint8_t> seen(static_cast<std::size_t>(n), 0);
    for (int64_t o : ow)
        if (seen[static_cast<std::size_t>(o)]++)
            throw InputError("oxygens: atom " + std::to_string(o) + " is given twice");
    for (int64_t h : hw) {
        uint8_t& s = seen[static_cast<std::size_t>(h)];
        if (s)
            throw InputError("hydrogens: atom " + std::to_string(h) + (s == 1 ? " is a water oxygen" : " is given twice") +
                             "; each water needs two hydrogens of its own");
        s = 3;
    }
    for (int64_t g : gatoms) {
        uint8_t& s = seen[static_cast<std::size_t>(g)];
        if (s)
            throw InputError("guests: atom " + std::to_string(g) +
                             (s == 1   ? " is a water oxygen"
                              : s == 3 ? " is a water hydrogen"
                                       : " is given twice") +
                             "; an atom belongs to a water or to one guest");
        s = 2;
    }
    const bool oneSite = !in.hydrogens && !ow.empty() && ow.size() + gatoms.size() == static_cast<std::size_t>(n);
    if (!in.hydrogens && !oneSite) {
        // The two atoms after each oxygen must be there and be neither an
        // oxygen nor a guest.
        for (int64_t o : ow)
            for (int64_t h = o + 1; h <= o + 2; ++h)
                if (h >= n || seen[static_cast<std::size_t>(h)]) {
                    const char* what = h >= n                                   ? "is missing"
                                       : seen[static_cast<std::size_t>(h)] == 1 ? "is an oxygen"
                                                                                : "is a guest atom";
                    throw InputError("hydrogens: atom " + std::to_string(h) + ", after oxygen " + std::to_string(o) +
                                     ", " + what +
                                     "; give each oxygen's hydrogens with hydrogens=, or for one-site water the "
                                     "positions of the oxygens (and guests) alone");
                }
    }

    bool keep = true; // whether the caller's order serves as it is
    for (std::size_t w = 1; keep && w < ow.size(); ++w)
        keep = ow[w] > ow[w - 1];
    for (std::size_t w = 0; keep && w < hw.size() / 2; ++w)
        keep = hw[2 * w] == ow[w] + 1 && hw[2 * w + 1] == ow[w] + 2;
    for (std::size_t a = 0; keep && a < gatoms.size(); ++a)
        keep = a % static_cast<std::size_t>(perGuest) == 0 || gatoms[a] == gatoms[a - 1] + 1;

    const float* xyz = positions.data;
    if (keep) {
        t.atomCount = static_cast<int32_t>(n);
        f.positions.resize(static_cast<std::size_t>(n));
        if (n > 0)
            std::memcpy(static_cast<void*>(f.positions.data()), xyz, sizeof(float) * 3 * static_cast<std::size_t>(n));
        t.isWaterOxygen.assign(static_cast<std::size_t>(n), 0);
        for (int64_t o : ow)
            t.isWaterOxygen[static_cast<std::size_t>(o)] = 1;
        for (std::size_t g = 0; g < gatoms.size(); g += static_cast<std::size_t>(perGuest)) {
            p.guests.firstAtom.push_back(static_cast<int32_t>(gatoms[g]));
            p.guests.atomCount.push_back(static_cast<int32_t>(perGuest));
        }
    } else {
        std::vector<int64_t> order;
        std::vector<uint8_t> oxygenSlot;
        order.reserve(3 * ow.size() + gatoms.size());
        for (std::size_t w = 0; w < ow.size(); ++w) {
            order.push_back(ow[w]);
            oxygenSlot.resize(order.size(), 0);
            oxygenSlot.back() = 1;
            if (!hw.empty()) {
                order.push_back(hw[2 * w]);
                order.push_back(hw[2 * w + 1]);
            } else if (!oneSite) {
                // Hydrogens as in the caller's order: the two atoms after the oxygen.
                order.push_back(ow[w] + 1);
                order.push_back(ow[w] + 2);
            }
        }
        for (std::size_t g = 0; g < gatoms.size(); g += static_cast<std::size_t>(perGuest)) {
            p.guests.firstAtom.push_back(static_cast<int32_t>(order.size()));
            p.guests.atomCount.push_back(static_cast<int32_t>(perGuest));
            for (int64_t k = 0; k < perGuest; ++k)
                order.push_back(gatoms[g + static_cast<std::size_t>(k)]);
        }
        oxygenSlot.resize(order.size(), 0);
        t.atomCount = static_cast<int32_t>(order.size());
        f.positions.resize(order.size());
        t.isWaterOxygen = std::move(oxygenSlot);
        p.userIndex.resize(order.size());
        for (std::size_t k = 0; k < order.size(); ++k) {
            const float* r = xyz + 3 * order[k];
            f.positions[k] = {r[0], r[1], r[2]};
            p.userIndex[k] = static_cast<int32_t>(order[k]);
        }
    }
    t.waterCount = static_cast<int32_t>(ow.size());
    indexWaters(t);
    if (oneSite)
        dropHydrogens(t);
    p.oneSite = oneSite;
    // Given hydrogens lie where an O-H bond puts them; then the frame checks:
    // finite numbers, hydrogens, oxygens no closer than water allows (as when
    // the coordinates are in nm).
    if (in.hydrogens)
        for (const Water& w : t.water)
            for (int32_t h : w.hydrogen) {
                const Vec3 d = minimumImage(f.positions[h], f.positions[w.oxygen], f.box);
                const float r = std::sqrt(d.x * d.x + d.y * d.y + d.z * d.z);
                if (std::isfinite(r) && !(r >= shortestHydrogenDistance && r <= longestHydrogenDistance)) {
                    char text[160];
                    std::snprintf(text, sizeof text,
                                  " is %.3f A from its oxygen, atom %d, where an O-H bond is %.1f to %.1f A long",
                                  static_cast<double>(r), p.user(w.oxygen),
                                  static_cast<double>(shortestHydrogenDistance),
                                  static_cast<double>(longestHydrogenDistance));
                    throw InputError("hydrogens: atom " + std::to_string(p.user(h)) + text);
                }
            }
    p.warnings = checkFrame(f, "frame (atoms counted from 1 in the frame's order)");
    return p;
}

} // namespace kavet
