#include "io/index_groups.h"

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <fstream>
#include <sstream>

#include "core/error.h"

namespace kavet {
namespace {

std::string trimmed(const std::string& s)
{
    const auto first = s.find_first_not_of(" \t\r");
    if (first == std::string::npos)
        return "";
    return s.substr(first, s.find_last_not_of(" \t\r") - first + 1);
}

bool sameIgnoringCase(const std::string& a, const std::string& b)
{
    return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
               return std::tolower(static_cast<unsigned char>(x)) == std::tolower(static_cast<unsigned char>(y));
           });
}

// The group's atoms, ascending and once each, checked against the frame.
std::vector<int32_t> atomsIn(const Frame& frame, const IndexGroup& group)
{
    std::vector<int32_t> atoms = group.atoms;
    std::sort(atoms.begin(), atoms.end());
    atoms.erase(std::unique(atoms.begin(), atoms.end()), atoms.end());
    if (!atoms.empty() && atoms.back() >= frame.topology().atomCount)
        throw InputError("index group " + group.name + " holds atom " + std::to_string(atoms.back() + 1) +
                         ", but the structure has " + std::to_string(frame.topology().atomCount) +
                         " atoms: the index must describe the structure's atoms");
    return atoms;
}

} // namespace

std::vector<IndexGroup> readIndexGroups(const std::string& path)
{
    std::ifstream in(path);
    if (!in)
        throw FileError("cannot open the index file " + path, errno);
    std::vector<IndexGroup> groups;
    std::string line;
    for (long long number = 1; std::getline(in, line); ++number) {
        const std::string t = trimmed(line);
        if (t.empty())
            continue;
        if (t.front() == '[') {
            const auto close = t.find(']');
            if (close == std::string::npos)
                throw FormatError(path + " line " + std::to_string(number) + ": a group name needs a closing ]");
            groups.push_back({trimmed(t.substr(1, close - 1)), {}});
            continue;
        }
        std::istringstream words(t);
        for (std::string w; words >> w;) {
            long long v = 0;
            std::size_t used = 0;
            try {
                v = std::stoll(w, &used);
            } catch (const std::exception&) {
                used = 0;
            }
            if (used != w.size() || v < 1 || v > 2147483647LL)
                throw FormatError(path + " line " + std::to_string(number) + ": \"" + w +
                                  "\" is not an atom number (1 or more)");
            if (groups.empty())
                throw FormatError(path + " line " + std::to_string(number) + ": atom numbers before the first [ group ]");
            groups.back().atoms.push_back(static_cast<int32_t>(v - 1));
        }
    }
    if (in.bad())
        throw FileError("reading " + path + " failed", errno);
    return groups;
}

const IndexGroup& findIndexGroup(const std::vector<IndexGroup>& groups, const std::string& name,
                                 const std::string& path)
{
    for (const IndexGroup& g : groups)
        if (g.name == name)
            return g;
    for (const IndexGroup& g : groups)
        if (sameIgnoringCase(g.name, name))
            return g;
    std::string names;
    for (const IndexGroup& g : groups)
        names += (names.empty() ? "" : ", ") + g.name;
    throw InputError("the index file " + path + " has no group " + name + "; its groups are: " +
                     (names.empty() ? std::string("none") : names));
}

Frame savedAtoms(const Frame& frame, const IndexGroup& saved, std::vector<IndexGroup>& groups,
                 const std::string& waterName, const std::string& oxygenName)
{
    // The trajectory holds the group's atoms in the group's own order (as
    // gmx trjconv -n writes them), which need not be the structure's.
    const std::vector<int32_t>& atoms = saved.atoms;
    (void)atomsIn(frame, saved);
    const Topology& from = frame.topology();
    std::vector<int32_t> kept(static_cast<std::size_t>(from.atomCount), -1);
    for (std::size_t k = 0; k < atoms.size(); ++k)
        if (kept[atoms[k]] >= 0)
            throw InputError("index group " + saved.name + " gives atom " + std::to_string(atoms[k] + 1) +
                             " twice (at places " + std::to_string(kept[atoms[k]] + 1) + " and " +
                             std::to_string(k + 1) + " of the group): a trajectory saved with it holds each atom once");
        else
            kept[atoms[k]] = static_cast<int32_t>(k);
    std::fill(kept.begin(), kept.end(), -1);
    Frame f;
    f.box = frame.box;
    f.hasTime = frame.hasTime;
    f.time = frame.time;
    f.step = frame.step;
    Topology& t = f.editTopology();
    for (int32_t a : atoms) {
        kept[a] = t.atomCount++;
        t.residue.push_back(from.residue[a]);
        t.atomName.push_back(from.atomName[a]);
        f.positions.push_back(frame.positions[a]);
    }
    for (IndexGroup& g : groups) {
        std::vector<int32_t> renumbered;
        for (int32_t a : g.atoms)
            if (a < from.atomCount && kept[a] >= 0)
                renumbered.push_back(kept[a]);
        g.atoms = std::move(renumbered);
    }
    selectWaters(f.editTopology(), waterName, oxygenName);
    return f;
}

void selectWaterGroup(Frame& frame, const IndexGroup& group, const std::string& oxygenName)
{
    const std::vector<int32_t> atoms = atomsIn(frame, group);
    Topology& t = frame.editTopology();
    t.isWaterOxygen.assign(static_cast<std::size_t>(t.atomCount), 0);
    t.waterCount = 0;
    for (int32_t a : atoms)
        if (t.atomName[a] == oxygenName) {
            t.isWaterOxygen[a] = 1;
            ++t.waterCount;
        }
    if (t.waterCount == 0)
        throw InputError("index group " + group.name + " holds no atom named " + oxygenName +
                         " (the water oxygen name, -oxy)");
    indexWaters(t);
}

GuestMolecules guestGroupMolecules(const Frame& frame, const IndexGroup& group)
{
    const std::vector<int32_t> atoms = atomsIn(frame, group);
    const std::vector<std::string>& residue = frame.topology().residue;
    GuestMolecules g;
    for (std::size_t k = 0; k < atoms.size();) {
        std::size_t e = k + 1;
        while (e < atoms.size() && atoms[e] == atoms[e - 1] + 1 && residue[atoms[e]] == residue[atoms[k]])
            ++e;
        g.firstAtom.push_back(atoms[k]);
        g.atomCount.push_back(static_cast<int32_t>(e - k));
        k = e;
    }
    return g;
}

} // namespace kavet
