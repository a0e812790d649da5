#include "cage/occupancy.h"

#include <algorithm>
#include <cmath>
#include <numbers>
#include <utility>

#include "cage/polyhedron.h"
#include "core/error.h"
#include "core/cell_grid.h"

namespace kavet {
namespace {

// The residue field without its leading digits (the residue number).
std::string namePart(const std::string& field)
{
    std::size_t k = 0;
    while (k < field.size() && field[k] >= '0' && field[k] <= '9')
        ++k;
    return field.substr(k);
}

bool isName(const std::string& field, const std::string& name)
{
    if (field.size() < name.size() || field.compare(field.size() - name.size(), name.size(), name) != 0)
        return false;
    for (std::size_t k = 0; k + name.size() < field.size(); ++k)
        if (field[k] < '0' || field[k] > '9')
            return false;
    return true;
}

} // namespace

GuestMolecules selectGuests(const Frame& frame, const std::string& name)
{
    if (name.empty())
        throw InputError("the guest residue name is empty");
    if (frame.residue.size() != frame.positions.size())
        throw InputError("the frame has " + std::to_string(frame.positions.size()) + " positions but " +
                         std::to_string(frame.residue.size()) + " residue names");
    GuestMolecules g;
    const std::size_t n = frame.residue.size();
    for (std::size_t i = 0; i < n;) {
        std::size_t j = i + 1;
        while (j < n && frame.residue[j] == frame.residue[i])
            ++j;
        if (isName(frame.residue[i], name)) {
            g.firstAtom.push_back(static_cast<int32_t>(i));
            g.atomCount.push_back(static_cast<int32_t>(j - i));
        }
        i = j;
    }
    return g;
}

std::vector<std::string> residueNames(const Frame& frame)
{
    std::vector<std::string> names;
    for (std::size_t i = 0; i < frame.residue.size(); ++i) {
        if (i > 0 && frame.residue[i] == frame.residue[i - 1])
            continue;
        std::string s = namePart(frame.residue[i]);
        if (std::find(names.begin(), names.end(), s) == names.end())
            names.push_back(std::move(s));
    }
    return names;
}

std::vector<DVec3> guestPositions(const Frame& frame, const GuestMolecules& guests)
{
    std::vector<DVec3> pos(guests.firstAtom.size());
    const int64_t atoms = static_cast<int64_t>(frame.positions.size());
    for (std::size_t g = 0; g < pos.size(); ++g) {
        const int32_t first = guests.firstAtom[g];
        // A selection made on another frame could name atoms this one lacks.
        if (g >= guests.atomCount.size() || guests.atomCount[g] < 1 || first < 0 ||
            first + static_cast<int64_t>(guests.atomCount[g]) > atoms)
            throw InputError("guest " + std::to_string(g + 1) + " has no atoms in a frame of " + std::to_string(atoms) +
                             " atoms");
        const Vec3 p0 = frame.positions[first];
        DVec3 sum;
        for (int32_t k = 1; k < guests.atomCount[g]; ++k)
            sum = sum + minimumImageD(frame.positions[first + k], p0, frame.box);
        pos[g] = toDouble(p0) + sum * (1.0 / guests.atomCount[g]);
    }
    return pos;
}

DVec3 cageCentre(std::span<const int32_t> cage, const RingGeometry& geo, const Box& box)
{
    const Vec3 first = geo.centRing[cage[0]];
    DVec3 sum;
    for (int32_t r : cage)
        sum = sum + minimumImageD(geo.centRing[r], first, box);
    return toDouble(first) + sum * (1.0 / static_cast<double>(cage.size()));
}

double windingNumber(const std::vector<DVec3>& corners, DVec3 p)
{
    // Each triangle's signed solid angle (Van Oosterom and Strackee 1983).
    double total = 0.0;
    for (std::size_t t = 0; t + 2 < corners.size(); t += 3) {
        const DVec3 a = corners[t] - p, b = corners[t + 1] - p, c = corners[t + 2] - p;
        const double la = norm(a), lb = norm(b), lc = norm(c);
        const double num = dot(a, cross(b, c));
        const double den = la * lb * lc + dot(a, b) * lc + dot(a, c) * lb + dot(b, c) * la;
        total += 2.0 * std::atan2(num, den);
    }
    return total / (4.0 * std::numbers::pi);
}

Occupancy occupancyOf(const std::vector<DVec3>& position, const Frame& frame, const RingSearch& rings,
                      const RingGeometry& geo, const CageSearch& cages, const std::vector<uint8_t>& closed)
{
    const std::size_t numGuest = position.size(), numCage = cages.cageList.size();
    Occupancy occ;
    occ.guestsOf.start.assign(numCage + 1, 0); // every cage empty until filled below
    occ.cagesOf.assign(numGuest, 0);
    const Box& box = frame.box;

    // Each closed cage's centre and the radius of the sphere around it that
    // holds its polyhedron (its farthest water: ring centres lie within).
    std::vector<DVec3> centre(numCage);
    std::vector<double> radius(numCage, 0.0);
    double widest = 0.0;
    for (std::size_t c = 0; c < numCage; ++c) {
        if (!closed[c])
            continue;
        centre[c] = cageCentre(cages.cageList[c], geo, box);
        for (int32_t r : cages.cageList[c])
            for (int32_t a : rings.ringList[r])
                radius[c] = std::max(radius[c], norm(minimumImage(toDouble(frame.positions[a]) - centre[c], box)));
        widest = std::max(widest, radius[c]);
    }
    if (numGuest == 0 || widest == 0.0)
        return occ;

    // Guests and cage centres in one cell list; each cage looks for the
    // guests in its reach.
    std::vector<Vec3> points(numGuest + numCage);
    std::vector<int32_t> items;
    for (std::size_t g = 0; g < numGuest; ++g) {
        points[g] = {static_cast<float>(position[g].x), static_cast<float>(position[g].y),
                     static_cast<float>(position[g].z)};
        items.push_back(static_cast<int32_t>(g));
    }
    for (std::size_t c = 0; c < numCage; ++c) {
        if (!closed[c])
            continue;
        points[numGuest + c] = {static_cast<float>(centre[c].x), static_cast<float>(centre[c].y),
                                static_cast<float>(centre[c].z)};
        items.push_back(static_cast<int32_t>(numGuest + c));
    }
    const CellGrid grid = buildCellGrid(points, items, box, static_cast<float>(widest * 1.001 + 0.01));

    std::vector<int32_t> cells, inside;
    std::vector<DVec3> corners;
    occ.guestsOf.clear();
    for (std::size_t c = 0; c < numCage; ++c) {
        inside.clear();
        if (!closed[c]) {
            occ.guestsOf.append(inside);
            continue;
        }
        const Vec3 origin = geo.centRing[cages.cageList[c][0]];
        bool built = false, oriented = false;
        forEachNear(grid, static_cast<int32_t>(numGuest + c), cells, [&](int32_t g) {
            if (static_cast<std::size_t>(g) >= numGuest)
                return;
            const DVec3 d = minimumImage(position[g] - centre[c], box);
            if (!(norm(d) <= radius[c] * (1.0 + 1e-9)))
                return;
            if (!built) {
                oriented = cageSurface(cages.cageList[c], rings, geo, frame.positions, box, origin, corners);
                built = true;
            }
            if (oriented && std::fabs(windingNumber(corners, minimumImage(position[g] - toDouble(origin), box))) > 0.5)
                inside.push_back(g);
        });
        std::sort(inside.begin(), inside.end());
        for (int32_t g : inside)
            ++occ.cagesOf[g];
        occ.guestsOf.append(inside);
    }
    return occ;
}

} // namespace kavet
