#include "io/lammps_data.h"

#include <algorithm>
#include <array>
#include <cctype>
#include <cmath>

#include "core/error.h"
#include "io/lammps_text.h"

namespace kavet {
namespace {

// Where the id, molecule, type and first position column of each style sit
// (-1: none), and its column count without image flags.
struct AtomStyle {
    const char* name;
    int molecule, type, x, columns;
};
constexpr AtomStyle atomStyles[] = {
    {"atomic", -1, 1, 2, 5},
    {"charge", -1, 1, 3, 6},
    {"molecular", 1, 2, 3, 6},
    {"bond", 1, 2, 3, 6},
    {"angle", 1, 2, 3, 6},
    {"full", 1, 2, 4, 7},
};

bool isSectionHeader(std::string_view line)
{
    const std::size_t b = line.find_first_not_of(" \t");
    return b != std::string_view::npos && std::isalpha(static_cast<unsigned char>(line[b]));
}

std::string joined(const std::vector<std::string_view>& w, std::size_t from = 0)
{
    std::string s;
    for (std::size_t k = from; k < w.size(); ++k) {
        if (!s.empty())
            s += ' ';
        s.append(w[k]);
    }
    return s;
}

LammpsStructure parse(lammps::Lines& in)
{
    using lammps::words;
    std::string_view line;
    if (!in.next(line))
        in.fail(1, "the file is empty (a data file starts with a title line)");
    int64_t atoms = -1;
    std::array<double, 3> lo{}, hi{}, tilt{};
    std::array<bool, 3> hasBounds{};
    long long boxLine = 0;
    // The header: counts and the box, up to the first section.
    for (;;) {
        if (!in.next(line))
            in.fail(in.lineNumber() + 1, "the file ends before its Atoms section");
        if (isSectionHeader(line))
            break;
        const std::vector<std::string_view> w = words(line, true);
        if (w.empty())
            continue;
        const std::string key = joined(w, 1);
        if (key == "atoms") {
            atoms = lammps::wholeNumber(in, w[0], "atom count");
            if (atoms < 0 || atoms > INT32_MAX)
                in.fail("the atom count " + std::to_string(atoms) + " is out of range (0 to 2147483647)");
        } else if (w.size() == 4 && w[2].size() == 3 && w[3].size() == 3 && w[2][0] >= 'x' && w[2][0] <= 'z' &&
                   w[2].substr(1) == "lo" && w[3][0] == w[2][0] && w[3].substr(1) == "hi") {
            const std::size_t k = static_cast<std::size_t>(w[2][0] - 'x');
            lo[k] = lammps::realNumber(in, w[0], "box bound");
            hi[k] = lammps::realNumber(in, w[1], "box bound");
            hasBounds[k] = true;
            boxLine = in.lineNumber();
        } else if (w.size() == 6 && joined(w, 3) == "xy xz yz") {
            for (int k = 0; k < 3; ++k)
                tilt[static_cast<std::size_t>(k)] = lammps::realNumber(in, w[static_cast<std::size_t>(k)], "tilt factor");
        } else if (w.size() >= 4 && (w.back() == "avec" || w.back() == "bvec" || w.back() == "cvec")) {
            in.fail("a general triclinic box (avec bvec cvec) is not read: write the data file in LAMMPS's "
                    "restricted triclinic form");
        }
        // Other counts and types (bonds, atom types, ...) are not needed.
    }
    if (atoms < 0)
        in.fail("the header has no atom count (a line 'N atoms') before the first section");
    const char* axes = "xyz";
    for (int k = 0; k < 3; ++k)
        if (!hasBounds[static_cast<std::size_t>(k)])
            in.fail(std::string("the header has no ") + axes[k] + "lo " + axes[k] + "hi line before the first section");

    LammpsStructure s;
    s.frame.box = lammps::lammpsCell(in, boxLine, lo, hi, tilt, {true, true, true});
    bool hasAtoms = false;
    std::vector<std::array<double, 3>> positions;
    // Sections: a header line, then numbered lines up to the next header.
    for (;;) {
        const std::string title = joined(words(line, true));
        if (title != "Atoms") {
            bool more = false;
            while (!more && in.next(line))
                more = isSectionHeader(line);
            if (!more)
                break;
            continue;
        }
        if (hasAtoms)
            in.fail("a second Atoms section");
        hasAtoms = true;
        const long long atomsLine = in.lineNumber();
        // The style from the section's comment, or from the column count.
        std::string styleName;
        if (const std::size_t hash = line.find('#'); hash != std::string_view::npos) {
            const std::vector<std::string_view> c = words(line.substr(hash + 1));
            if (!c.empty())
                styleName = std::string(c[0]);
        }
        const AtomStyle* style = nullptr;
        if (!styleName.empty()) {
            for (const AtomStyle& a : atomStyles)
                if (styleName == a.name)
                    style = &a;
            if (!style)
                in.fail("the atom style '" + styleName + "' is not read: kavet reads atomic, charge, molecular, "
                        "bond, angle and full");
        }
        LammpsAtoms& a = s.atoms;
        const std::size_t room = lammps::boundedRoom(in, atoms, 10);
        a.id.reserve(room);
        a.type.reserve(room);
        positions.reserve(room);
        int64_t read = 0;
        while (read < atoms) {
            if (!in.next(line))
                in.fail(in.lineNumber() + 1, "the file ends after " + std::to_string(read) + " of the " +
                                                 std::to_string(atoms) + " atoms of the Atoms section on line " +
                                                 std::to_string(atomsLine));
            const std::vector<std::string_view> w = words(line, true);
            if (w.empty())
                continue;
            if (isSectionHeader(line))
                in.fail("the Atoms section on line " + std::to_string(atomsLine) + " ends after " +
                        std::to_string(read) + " of the header's " + std::to_string(atoms) + " atoms");
            if (!style) {
                for (const AtomStyle& st : atomStyles)
                    if ((st.name == std::string("atomic") || st.name == std::string("full")) &&
                        (w.size() == static_cast<std::size_t>(st.columns) ||
                         w.size() == static_cast<std::size_t>(st.columns) + 3))
                        style = &st;
                if (!style)
                    in.fail("an atom line of " + std::to_string(w.size()) +
                            " values, and no style named: give it as 'Atoms # full' (or atomic, charge, molecular)");
            }
            const std::size_t columns = static_cast<std::size_t>(style->columns);
            if (w.size() != columns && w.size() != columns + 3)
                in.fail("the atom line has " + std::to_string(w.size()) + " values; style " + style->name + " has " +
                        std::to_string(columns) + " (or " + std::to_string(columns + 3) + " with image flags)");
            a.id.push_back(lammps::wholeNumber(in, w[0], "atom id"));
            const int64_t type = lammps::wholeNumber(in, w[static_cast<std::size_t>(style->type)], "atom type");
            if (type < 1 || type > INT32_MAX)
                in.fail("the atom type " + std::to_string(type) + " is not a type (1 or more)");
            a.type.push_back(static_cast<int32_t>(type));
            if (style->molecule >= 0)
                a.molecule.push_back(
                    lammps::wholeNumber(in, w[static_cast<std::size_t>(style->molecule)], "molecule id"));
            std::array<double, 3> r{};
            for (std::size_t k = 0; k < 3; ++k)
                r[k] = lammps::realNumber(in, w[static_cast<std::size_t>(style->x) + k], "position") - lo[k];
            if (w.size() == columns + 3)
                for (std::size_t k = 0; k < 3; ++k)
                    lammps::wholeNumber(in, w[columns + k], "image flag");
            lammps::checkPosition(in, r);
            positions.push_back(r);
            ++read;
        }
        lammps::orderById(in, s, positions);
        // The sections after the atoms are not needed.
        break;
    }
    if (!hasAtoms)
        in.fail(in.lineNumber(), "the file has no Atoms section");
    s.frame.hasTime = false;
    return s;
}

} // namespace

LammpsStructure readLammpsData(const std::string& path)
{
    lammps::Lines in(path);
    return parse(in);
}

LammpsStructure parseLammpsData(const std::string& text, const std::string& name)
{
    lammps::Lines in(text, name);
    return parse(in);
}

} // namespace kavet
