#include "io/pdb_writer.h"

#include <algorithm>
#include <cerrno>
#include <cstring>

#include "io/failure.h"

namespace kavet {

AppendFile::AppendFile(const std::string& path) : path_(path)
{
    file_ = std::fopen(path.c_str(), "a");
    if (!file_)
        throw runFailure("cannot open " + path + " for appending: " + std::strerror(errno));
    buffer_.resize(1 << 20);
    std::setvbuf(file_, buffer_.data(), _IOFBF, buffer_.size());
}

AppendFile::~AppendFile()
{
    if (file_)
        std::fclose(file_);
}

void AppendFile::close()
{
    const bool failed = std::ferror(file_) != 0;
    const int flushed = std::fflush(file_);
    const int err = errno;
    const int closed = std::fclose(file_);
    file_ = nullptr;
    if (failed || flushed != 0 || closed != 0)
        throw runFailure("writing " + path_ + " failed: " + std::strerror(err ? err : EIO) +
                         " (the file may be incomplete)");
}

void writeCryst1(std::FILE* f, const Box& box)
{
    std::fprintf(f, "%6s%9.3f%9.3f%9.3f%7.2f%7.2f%7.2f %s\n", "CRYST1", box.x, box.y, box.z, 90.0, 90.0, 90.0,
                 " P 1           1");
}

void writeHetatm(std::FILE* f, int serial, const char* atomName, const char* residueName, int residueNumber,
                 Vec3 p, long long occupancy, long long temperature, const char* element)
{
    std::fprintf(f, "HETATM%5d %4s %3s A%4d    %8.3f%8.3f%8.3f%6lld%6lld      SEG %2s\n", serial, atomName,
                 residueName, residueNumber, p.x, p.y, p.z, occupancy, temperature, element);
}

namespace {

void writeConect(std::FILE* f, long long a, long long b)
{
    std::fprintf(f, "%6s%5lld%5lld\n", "CONECT", a, b);
}

} // namespace

void writeRingFile(const std::string& path, const AtomTable& atoms, const RingSearch& rings,
                   const RingGeometry& geo)
{
    AppendFile file(path);
    std::FILE* f = file.get();
    writeCryst1(f, atoms.box);
    for (std::size_t r = 0; r < rings.ringList.size(); ++r) {
        const std::vector<int32_t>& ring = rings.ringList[r];
        const int n = geo.numNode[r];
        const long long number = static_cast<long long>(r) + 1;
        std::fprintf(f, "%s%9lld\n", "MODEL", number);
        for (int k = 0; k < n; ++k) {
            const int32_t a = ring[k];
            writeHetatm(f, k + 1, "O", "OW", k + 1, atoms.atmXYZ[a], number, static_cast<long long>(a) + 1, "O");
        }
        writeHetatm(f, n + 1, "X", "CNT", n + 1, geo.centRing[r], number, -1, "X");
        writeHetatm(f, n + 2, "H", "NRM", n + 2, geo.normRing[r], number, -1, "H");
        for (int k = 1; k < n; ++k)
            writeConect(f, k, k + 1);
        writeConect(f, n, 1);
        std::fputs("ENDMDL\n", f);
    }
    file.close();
}

void writeDataFile(const std::string& path, const std::string& census)
{
    AppendFile file(path);
    std::fputs(census.c_str(), file.get());
    std::fputs("\n", file.get());
    file.close();
}

const char* cageElement(std::size_t cage)
{
    // Atomic numbers 3 (Li) to 110 (Ds), right-justified in two characters.
    static const char* const symbols[108] = {
        "Li", "Be", " B", " C", " N", " O", " F", "Ne", "Na", "Mg", "Al", "Si", " P", " S", "Cl", "Ar", " K", "Ca",
        "Sc", "Ti", " V", "Cr", "Mn", "Fe", "Co", "Ni", "Cu", "Zn", "Ga", "Ge", "As", "Se", "Br", "Kr", "Rb", "Sr",
        " Y", "Zr", "Nb", "Mo", "Tc", "Ru", "Rh", "Pd", "Ag", "Cd", "In", "Sn", "Sb", "Te", " I", "Xe", "Cs", "Ba",
        "La", "Ce", "Pr", "Nd", "Pm", "Sm", "Eu", "Gd", "Tb", "Dy", "Ho", "Er", "Tm", "Yb", "Lu", "Hf", "Ta", " W",
        "Re", "Os", "Ir", "Pt", "Au", "Hg", "Tl", "Pb", "Bi", "Po", "At", "Rn", "Fr", "Ra", "Ac", "Th", "Pa", " U",
        "Np", "Pu", "Am", "Cm", "Bk", "Cf", "Es", "Fm", "Md", "No", "Lr", "Rf", "Db", "Sg", "Bh", "Hs", "Mt", "Ds"};
    return symbols[cage % 108];
}

void writeCageFile(const std::string& path, const std::string& census, const AtomTable& atoms,
                   const RingSearch& rings, const RingGeometry& geo, const Network& net, const CageSearch& cages,
                   const CageClasses& classes)
{
    AppendFile file(path);
    std::FILE* f = file.get();
    std::fprintf(f, "REMARK %s\n", census.c_str());
    writeCryst1(f, atoms.box);

    // Per model: the atom behind each serial number (-1 for pseudo-atoms) and
    // the serial each written atom got.
    std::vector<int32_t> serialAtom;
    std::vector<int32_t> serialOf(atoms.atmXYZ.size(), 0);
    std::vector<int32_t> written;
    std::vector<int32_t> partners;
    for (std::size_t i = 0; i < cages.cageList.size(); ++i) {
        const std::array<float, 4>& vef = classes.cageVEF[i];
        if (vef[3] != 2.0f)
            continue;
        const std::vector<int32_t>& cage = cages.cageList[i];
        const int32_t r0 = cage[0];
        const Vec3 c0 = geo.centRing[r0];
        for (int32_t a : written)
            serialOf[a] = 0;
        written.clear();
        serialAtom.clear();

        std::fprintf(f, "%s%9lld", "MODEL", static_cast<long long>(i) + 1);
        std::fprintf(f, "     V= %.0f E= %.0f F= %.0f   V-E+F= %.0f    cage: %s\n", vef[0], vef[1], vef[2], vef[3],
                     classes.cageType[i].c_str());
        Vec3 tip = geo.normRing[r0];
        if (cages.cageNorm[i] < 0)
            tip = Vec3{2.0f * c0.x, 2.0f * c0.y, 2.0f * c0.z} - tip;
        writeHetatm(f, 1, "H", "NRM", 1, tip, static_cast<long long>(r0) + 1, -1, "H");
        serialAtom.push_back(-1);

        int serial = 1;
        for (std::size_t p = 0; p < cage.size(); ++p) {
            const int32_t r = cage[p];
            const Vec3 x = c0 + minimumImage(geo.centRing[r], c0, atoms.box);
            ++serial;
            writeHetatm(f, serial, "X", "CNT", serial, x, static_cast<long long>(r) + 1, -1, "X");
            serialAtom.push_back(-1);
            const char* element = p == 0 ? "He" : cageElement(i);
            const std::vector<int32_t>& ring = rings.ringList[r];
            for (int k = 0; k < geo.numNode[r]; ++k) {
                const int32_t a = ring[k];
                if (serialOf[a] != 0)
                    continue;
                ++serial;
                serialOf[a] = serial;
                written.push_back(a);
                serialAtom.push_back(a);
                const Vec3 pos = c0 + minimumImage(atoms.atmXYZ[a], c0, atoms.box);
                writeHetatm(f, serial, "O", "OW", serial, pos, static_cast<long long>(r) + 1,
                            static_cast<long long>(a) + 1, element);
            }
        }

        writeConect(f, 1, 2);
        // Every bond among the cage's oxygens, by ascending serial pairs.
        for (std::size_t s = 0; s < serialAtom.size(); ++s) {
            const int32_t a = serialAtom[s];
            if (a < 0)
                continue;
            partners.clear();
            for (int32_t e = net.adjStart[a]; e < net.adjStart[a + 1]; ++e) {
                const int32_t t = serialOf[net.adjNode[e]];
                if (t > static_cast<int32_t>(s) + 1)
                    partners.push_back(t);
            }
            std::sort(partners.begin(), partners.end());
            for (int32_t t : partners)
                writeConect(f, static_cast<long long>(s) + 1, t);
        }
        std::fputs("ENDMDL\n", f);
    }
    file.close();
}

} // namespace kavet
