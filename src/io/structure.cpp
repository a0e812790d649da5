#include "io/structure.h"

#include <algorithm>
#include <map>
#include <unordered_map>

#include "core/error.h"
#include "io/gro_reader.h"
#include "io/lammps_data.h"

namespace kavet {
namespace {

// "1 (648), 2 (216)": the types of the file and their atom counts.
std::string typeCounts(const LammpsAtoms& atoms)
{
    std::map<int32_t, int64_t> counts;
    for (int32_t t : atoms.type)
        ++counts[t];
    std::string text;
    for (const auto& [type, n] : counts)
        text += (text.empty() ? "" : ", ") + std::to_string(type) + " (" + std::to_string(n) + ")";
    return text.empty() ? "none" : text;
}

} // namespace

Frame typedFrame(LammpsStructure structure, const TypeSelection& types, const std::string& name)
{
    Frame frame;
    static_cast<Coordinates&>(frame) = std::move(structure.frame);
    Topology& f = frame.editTopology();
    const LammpsAtoms& a = structure.atoms;
    const std::size_t n = a.id.size();
    f.atomCount = static_cast<int32_t>(n);
    const bool molecules = !a.molecule.empty();
    auto moleculeOf = [&](std::size_t i) { return molecules ? a.molecule[i] : int64_t{0}; };
    const std::vector<int32_t>& guestTypes = types.guestTypes;
    auto isGuestType = [&](int32_t t) { return std::find(guestTypes.begin(), guestTypes.end(), t) != guestTypes.end(); };
    if (types.oxygenType > 0 && (isGuestType(types.oxygenType) || isGuestType(types.hydrogenType)))
        throw InputError("the atom type " +
                         std::to_string(isGuestType(types.oxygenType) ? types.oxygenType : types.hydrogenType) +
                         " is selected both as water (-wat-type) and as guest (-guest-type)");
    if (types.oxygenType > 0 && types.oxygenType == types.hydrogenType)
        throw InputError("-wat-type gives the type " + std::to_string(types.oxygenType) +
                         " to both the oxygens and the hydrogens");
    for (const auto& [type, option] : {std::pair{types.oxygenType, "-wat-type"}, std::pair{types.hydrogenType, "-wat-type"}})
        if (type > 0 && std::find(a.type.begin(), a.type.end(), type) == a.type.end())
            throw InputError(std::string(option) + " " + std::to_string(type) + ": " + name +
                             " holds no atom of type " + std::to_string(type) + "; its types are " + typeCounts(a));
    for (int32_t type : guestTypes)
        if (std::find(a.type.begin(), a.type.end(), type) == a.type.end())
            throw InputError("-guest-type " + std::to_string(type) + ": " + name + " holds no atom of type " +
                             std::to_string(type) + "; its types are " + typeCounts(a));

    f.residue.assign(n, std::string());
    f.atomName.assign(n, std::string());
    for (std::size_t i = 0; i < n; ++i) {
        const int64_t m = moleculeOf(i);
        std::string type = "T";
        type += std::to_string(a.type[i]);
        f.residue[i] = std::to_string(m > 0 ? m : a.id[i]);
        f.residue[i] += type;
        f.atomName[i] = std::move(type);
    }
    // The hydrogens of each molecule.
    std::unordered_map<int64_t, std::vector<int32_t>> hydrogensOf;
    if (types.hydrogenType > 0 && molecules)
        for (std::size_t i = 0; i < n; ++i)
            if (a.type[i] == types.hydrogenType && a.molecule[i] > 0)
                hydrogensOf[a.molecule[i]].push_back(static_cast<int32_t>(i));
    f.isWaterOxygen.assign(n, 0);
    f.water.clear();
    int64_t waters = 0;
    for (std::size_t i = 0; i < n && types.oxygenType > 0; ++i) {
        if (a.type[i] != types.oxygenType)
            continue;
        Water w;
        w.oxygen = static_cast<int32_t>(i);
        const std::string residue = std::to_string(++waters) + "SOL";
        f.isWaterOxygen[i] = 1;
        f.residue[i] = residue;
        f.atomName[i] = "OW";
        if (types.hydrogenType > 0) {
            std::vector<int32_t> found;
            const int64_t m = moleculeOf(i);
            std::string where;
            if (m > 0) {
                if (const auto it = hydrogensOf.find(m); it != hydrogensOf.end())
                    found = it->second;
                where = "its molecule " + std::to_string(m) + " holds ";
            } else {
                for (std::size_t k = i + 1; k < n && k <= i + 2; ++k)
                    if (a.type[k] == types.hydrogenType && moleculeOf(k) <= 0)
                        found.push_back(static_cast<int32_t>(k));
                where = "of the two atoms after it in id order, ";
            }
            if (found.size() != 2)
                throw FormatError(name + ": the water oxygen of id " + std::to_string(a.id[i]) + " (type " +
                                  std::to_string(types.oxygenType) + ") has no two hydrogens of type " +
                                  std::to_string(types.hydrogenType) + ": " + where + std::to_string(found.size()) +
                                  (found.size() == 1 ? " atom" : " atoms") + " of that type");
            for (std::size_t k = 0; k < 2; ++k) {
                const std::size_t h = static_cast<std::size_t>(found[k]);
                w.hydrogen[k] = found[k];
                f.residue[h] = residue;
                f.atomName[h] = k == 0 ? "HW1" : "HW2";
            }
        }
        f.water.push_back(w);
    }
    f.waterCount = static_cast<int32_t>(waters);
    // Guests: runs of guest atoms of one molecule, or single atoms.
    int64_t guests = 0;
    std::unordered_map<int64_t, int64_t> guestOfMolecule;
    for (std::size_t i = 0; i < n; ++i) {
        if (!isGuestType(a.type[i]))
            continue;
        const int64_t m = moleculeOf(i);
        const bool continues = m > 0 && i > 0 && isGuestType(a.type[i - 1]) && moleculeOf(i - 1) == m;
        if (!continues) {
            ++guests;
            if (m > 0 && !guestOfMolecule.emplace(m, guests).second)
                throw FormatError(name + ": the guest atoms of molecule " + std::to_string(m) +
                                  " do not follow one another in id order (atom id " + std::to_string(a.id[i]) +
                                  " is apart from the others)");
        }
        f.residue[i] = std::to_string(guests) + typedGuestName;
    }
    return frame;
}

Frame readStructure(const std::string& path, const std::string& waterName, const std::string& oxygenName,
                    const TypeSelection& types, double timestepFs)
{
    const bool dump = isLammpsDumpName(path), data = isLammpsDataName(path);
    if (!dump && !data) {
        if (types.any())
            throw InputError("-wat-type and -guest-type select atoms by LAMMPS type, but " + path +
                             " is no LAMMPS file (.lammpstrj, .dump, .data, .lmp): select by name with -wat, -oxy "
                             "and -guest");
        return readConfiguration(path, waterName, oxygenName);
    }
    LammpsStructure s = dump ? readLammpsDump(path, timestepFs) : readLammpsData(path);
    if (types.oxygenType <= 0)
        throw InputError(path + " is a LAMMPS " + (dump ? "dump" : "data file") +
                         ": its atoms have types but no names, so the waters are selected by type: give -wat-type "
                         "OTYPE HTYPE (or -wat-type OTYPE -nohyd for one-site water), and the guests with -guest-type "
                         "TYPE...; its types are " + typeCounts(s.atoms));
    return typedFrame(std::move(s), types, path);
}

} // namespace kavet
