// kavet.Frame: a frame from numpy arrays or read from a .gro file.
#include "common.h"

#include <cmath>

#include "core/box.h"
#include "io/frame_checks.h"
#include "io/gro_reader.h"
#include "io/water_hydrogens.h"

namespace kavet::python {
namespace {

using IndexArray = py::array_t<int64_t, py::array::c_style | py::array::forcecast>;

const char* const positionsNeeded = "positions: an (n, 3) array in angstrom is needed";

std::vector<int64_t> indices(const IndexArray& a, int64_t n, const char* what)
{
    std::vector<int64_t> v(a.data(), a.data() + a.size());
    for (int64_t i : v)
        if (i < 0 || i >= n)
            throw py::value_error(std::string(what) + ": atom index " + std::to_string(i) + " is outside 0.." +
                                  std::to_string(n - 1));
    return v;
}

// A cell whose lengths along x, y, z are negative is no cell; zero lengths
// mean no periodicity, and numbers that are not finite are refused with the
// frame's checks (io/frame_checks.h).
Box nonNegative(const Box& box)
{
    if (box.x < 0 || box.y < 0 || box.z < 0)
        throw py::value_error("box: the cell's lengths along x, y and z must not be negative (0 for no periodicity)");
    return box;
}

} // namespace

Box boxOf(const py::array_t<double, py::array::c_style | py::array::forcecast>& b)
{
    Box box;
    if (b.ndim() == 1 && b.shape(0) == 3) {
        box.x = static_cast<float>(b.at(0));
        box.y = static_cast<float>(b.at(1));
        box.z = static_cast<float>(b.at(2));
        return nonNegative(box);
    }
    if (b.ndim() == 2 && b.shape(0) == 3 && b.shape(1) == 3) {
        if (b.at(0, 1) != 0.0 || b.at(0, 2) != 0.0 || b.at(1, 2) != 0.0)
            throw py::value_error("box: the cell matrix must be lower triangular (rows a, b, c; a along x, b in the "
                                  "xy plane), as GROMACS and MDAnalysis's triclinic_vectors give it");
        box.x = static_cast<float>(b.at(0, 0));
        box.yx = static_cast<float>(b.at(1, 0));
        box.y = static_cast<float>(b.at(1, 1));
        box.zx = static_cast<float>(b.at(2, 0));
        box.zy = static_cast<float>(b.at(2, 1));
        box.z = static_cast<float>(b.at(2, 2));
        return nonNegative(box);
    }
    if (b.ndim() == 1 && b.shape(0) == 6) {
        // MDAnalysis's dimensions: lengths a, b, c and angles alpha, beta,
        // gamma in degrees; a along x, b in the xy plane.
        const double pi = 3.14159265358979323846;
        const auto cosine = [&](double degrees) { return degrees == 90.0 ? 0.0 : std::cos(degrees * pi / 180.0); };
        const double ca = cosine(b.at(3)), cb = cosine(b.at(4)), cg = cosine(b.at(5));
        const double sg = b.at(5) == 90.0 ? 1.0 : std::sin(b.at(5) * pi / 180.0);
        const double cy = (ca - cb * cg) / sg, cz2 = 1.0 - cb * cb - cy * cy;
        const auto angle = [&](int k) { return b.at(k) > 0.0 && b.at(k) < 180.0; };
        if (!(b.at(0) > 0 && b.at(1) > 0 && b.at(2) > 0) || !angle(3) || !angle(4) || !angle(5) || !(sg > 0) ||
            !(cz2 > 0))
            throw py::value_error("box: the six numbers a, b, c, alpha, beta, gamma give no cell");
        box.x = static_cast<float>(b.at(0));
        box.yx = static_cast<float>(b.at(1) * cg);
        box.y = static_cast<float>(b.at(1) * sg);
        box.zx = static_cast<float>(b.at(2) * cb);
        box.zy = static_cast<float>(b.at(2) * cy);
        box.z = static_cast<float>(b.at(2) * std::sqrt(cz2));
        return box;
    }
    throw py::value_error("box: give three lengths, six numbers a, b, c, alpha, beta, gamma (MDAnalysis's "
                          "dimensions) or a 3x3 cell matrix, in angstrom and degrees");
}

namespace {

// A frame from arrays. Its water table follows `oxygens`. Without hydrogens,
// each oxygen's hydrogens are the two atoms after it, as in a .gro file, and
// when `positions` hold the oxygens and the guests' atoms alone the waters
// are one-site (no hydrogens). The atoms keep their order where that serves;
// otherwise the frame holds each water as oxygen, hydrogen, hydrogen in the
// order of `oxygens`, then the guests' atoms. Results name the caller's
// indices.
std::shared_ptr<PyFrame> frameOf(const py::array_t<float, py::array::c_style | py::array::forcecast>& positions,
                                 const py::array_t<double, py::array::c_style | py::array::forcecast>& box,
                                 const IndexArray& oxygens, const std::optional<IndexArray>& hydrogens,
                                 const std::optional<IndexArray>& guests, std::optional<double> time)
{
    if (positions.ndim() != 2 || positions.shape(1) != 3)
        throw py::value_error(positionsNeeded);
    const int64_t n = positions.shape(0);
    if (n > INT32_MAX / 2)
        throw py::value_error("positions: too many atoms");
    auto p = std::make_shared<PyFrame>();
    p->userAtoms = static_cast<int32_t>(n);
    Frame& f = p->frame;
    f.box = boxOf(box);
    if (time) {
        f.hasTime = true;
        f.time = *time;
    }
    if (oxygens.ndim() != 1)
        throw py::value_error("oxygens: a one-dimensional array of atom indices is needed");
    const std::vector<int64_t> ow = indices(oxygens, n, "oxygens");
    std::vector<int64_t> hw;
    if (hydrogens) {
        if (hydrogens->ndim() != 2 || hydrogens->shape(0) != static_cast<py::ssize_t>(ow.size()) ||
            hydrogens->shape(1) != 2)
            throw py::value_error("hydrogens: an (oxygens, 2) array of atom indices is needed");
        hw = indices(*hydrogens, n, "hydrogens");
    }
    // Guests: one atom each (1-d) or a row of atoms each (2-d).
    std::vector<int64_t> gatoms;
    int64_t perGuest = 1;
    if (guests) {
        if (guests->ndim() == 2)
            perGuest = guests->shape(1);
        else if (guests->ndim() != 1)
            throw py::value_error("guests: atom indices, one per guest or a row per guest, are needed");
        if (perGuest < 1)
            throw py::value_error("guests: each guest needs an atom");
        gatoms = indices(*guests, n, "guests");
        p->hasGuests = true;
    }
    const bool oneSite = !hydrogens && !ow.empty() && ow.size() + gatoms.size() == static_cast<std::size_t>(n);
    bool keep = true; // whether the caller's order serves as it is
    for (std::size_t w = 1; keep && w < ow.size(); ++w)
        keep = ow[w] > ow[w - 1];
    for (std::size_t w = 0; keep && w < hw.size() / 2; ++w)
        keep = hw[2 * w] == ow[w] + 1 && hw[2 * w + 1] == ow[w] + 2;
    for (std::size_t a = 0; keep && a < gatoms.size(); ++a)
        keep = a % static_cast<std::size_t>(perGuest) == 0 || gatoms[a] == gatoms[a - 1] + 1;

    std::vector<uint8_t> seen(static_cast<std::size_t>(n), 0);
    for (int64_t o : ow)
        if (seen[static_cast<std::size_t>(o)]++)
            throw py::value_error("oxygens: atom " + std::to_string(o) + " is given twice");
    for (int64_t h : hw) {
        std::uint8_t& s = seen[static_cast<std::size_t>(h)];
        if (s)
            throw py::value_error("hydrogens: atom " + std::to_string(h) +
                                  (s == 1 ? " is a water oxygen" : " is given twice") +
                                  "; each water needs two hydrogens of its own");
        s = 3;
    }
    // An atom is a water's or a guest's, not both.
    for (int64_t g : gatoms) {
        std::uint8_t& s = seen[static_cast<std::size_t>(g)];
        if (s)
            throw py::value_error("guests: atom " + std::to_string(g) +
                                  (s == 1 ? " is a water oxygen" : s == 3 ? " is a water hydrogen" : " is given twice") +
                                  "; an atom belongs to a water or to one guest");
        s = 2;
    }
    if (!hydrogens && !oneSite) {
        // The two atoms after each oxygen must be there and be neither an
        // oxygen nor a guest (marked above).
        for (int64_t o : ow)
            for (int64_t h = o + 1; h <= o + 2; ++h)
                if (h >= n || seen[static_cast<std::size_t>(h)]) {
                    const char* what = h >= n                                    ? "is missing"
                                       : seen[static_cast<std::size_t>(h)] == 1 ? "is an oxygen"
                                                                                 : "is a guest atom";
                    throw py::value_error("hydrogens: atom " + std::to_string(h) + ", after oxygen " +
                                          std::to_string(o) + ", " + what +
                                          "; give each oxygen's hydrogens with hydrogens=, or for one-site water the "
                                          "positions of the oxygens (and guests) alone");
                }
    }
    const float* xyz = positions.data();
    if (keep) {
        f.numAtom = static_cast<int32_t>(n);
        f.atmXYZ.resize(static_cast<std::size_t>(n));
        std::memcpy(static_cast<void*>(f.atmXYZ.data()), xyz, sizeof(float) * 3 * static_cast<std::size_t>(n));
        f.isOW.assign(static_cast<std::size_t>(n), 0);
        for (int64_t o : ow)
            f.isOW[static_cast<std::size_t>(o)] = 1;
        for (std::size_t g = 0; g < gatoms.size(); g += static_cast<std::size_t>(perGuest)) {
            p->guests.firstAtom.push_back(static_cast<int32_t>(gatoms[g]));
            p->guests.atomCount.push_back(static_cast<int32_t>(perGuest));
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
            p->guests.firstAtom.push_back(static_cast<int32_t>(order.size()));
            p->guests.atomCount.push_back(static_cast<int32_t>(perGuest));
            for (int64_t k = 0; k < perGuest; ++k)
                order.push_back(gatoms[g + static_cast<std::size_t>(k)]);
        }
        oxygenSlot.resize(order.size(), 0);
        f.numAtom = static_cast<int32_t>(order.size());
        f.atmXYZ.resize(order.size());
        f.isOW = std::move(oxygenSlot);
        p->userIndex.resize(order.size());
        for (std::size_t k = 0; k < order.size(); ++k) {
            const float* r = xyz + 3 * order[k];
            f.atmXYZ[k] = {r[0], r[1], r[2]};
            p->userIndex[k] = static_cast<int32_t>(order[k]);
        }
    }
    f.numWater = static_cast<int32_t>(ow.size());
    indexWaters(f);
    if (oneSite)
        dropHydrogens(f);
    p->oneSite = oneSite;
    f.resName.assign(static_cast<std::size_t>(f.numAtom), std::string());
    f.atmName.assign(static_cast<std::size_t>(f.numAtom), std::string());
    // Given hydrogens lie where an O-H bond puts them; then the command
    // line's checks: finite numbers, hydrogens, oxygens no closer than water
    // allows (as when the coordinates are in nm); what it warns of comes as
    // RuntimeWarning.
    if (hydrogens)
        for (const Water& w : f.water)
            for (int32_t h : w.hydrogen) {
                const Vec3 d = minimumImage(f.atmXYZ[h], f.atmXYZ[w.oxygen], f.box);
                const float r = std::sqrt(d.x * d.x + d.y * d.y + d.z * d.z);
                if (std::isfinite(r) && !(r >= shortestHydrogenDistance && r <= longestHydrogenDistance)) {
                    char text[160];
                    std::snprintf(text, sizeof text,
                                  " is %.3f A from its oxygen, atom %d, where an O-H bond is %.1f to %.1f A long",
                                  static_cast<double>(r), p->user(w.oxygen),
                                  static_cast<double>(shortestHydrogenDistance),
                                  static_cast<double>(longestHydrogenDistance));
                    throw py::value_error("hydrogens: atom " + std::to_string(p->user(h)) + text);
                }
            }
    for (const std::string& w : checkFrame(f, "frame (atoms counted from 1 in the frame's order)"))
        if (PyErr_WarnEx(PyExc_RuntimeWarning, w.c_str(), 1) != 0)
            throw py::error_already_set();
    return p;
}

// An array argument as numpy makes it of `value`. A copy that does not fit
// in memory raises MemoryError; what numpy cannot read as numbers raises
// TypeError naming the argument.
template <class A>
A arrayArgument(const py::object& value, const std::string& what)
{
    try {
        return A(value);
    } catch (py::error_already_set& e) {
        if (e.matches(PyExc_MemoryError))
            throw;
        throw py::type_error(what + ": " + e.what());
    }
}

// Atom indices, or where `masks` a boolean array of one value per atom,
// the indices of its true values.
IndexArray indexArgument(const py::object& value, int64_t atoms, const std::string& what, bool masks)
{
    const auto a = arrayArgument<py::array>(value, what);
    if (a.dtype().kind() != 'b')
        return arrayArgument<IndexArray>(a, what);
    if (!masks || a.ndim() != 1 || a.shape(0) != atoms)
        throw py::value_error(what + ": a boolean array is read as a mask only for oxygens or guests, with one value "
                                     "per atom (" + std::to_string(atoms) + "); otherwise pass indices "
                                     "(numpy.flatnonzero(mask))");
    const auto mask = arrayArgument<py::array_t<bool, py::array::c_style | py::array::forcecast>>(a, what);
    std::vector<int64_t> chosen;
    for (py::ssize_t k = 0; k < mask.size(); ++k)
        if (mask.data()[k])
            chosen.push_back(k);
    return IndexArray(static_cast<py::ssize_t>(chosen.size()), chosen.data());
}

// The frame from Python's arguments, converted as above.
std::shared_ptr<PyFrame> frameOfArguments(const py::object& positions, const py::object& box, const py::object& oxygens,
                                          const std::optional<py::object>& hydrogens,
                                          const std::optional<py::object>& guests, std::optional<double> time)
{
    using Positions = py::array_t<float, py::array::c_style | py::array::forcecast>;
    const auto p = arrayArgument<Positions>(positions, "positions");
    if (p.ndim() != 2 || p.shape(1) != 3)
        throw py::value_error(positionsNeeded);
    const int64_t atoms = p.shape(0);
    std::optional<IndexArray> h, g;
    if (hydrogens)
        h = indexArgument(*hydrogens, atoms, "hydrogens", false);
    if (guests)
        g = indexArgument(*guests, atoms, "guests", true);
    return frameOf(p, arrayArgument<py::array_t<double, py::array::c_style | py::array::forcecast>>(box, "box"),
                   indexArgument(oxygens, atoms, "oxygens", true), h, g, time);
}

// The first frame of a .gro file, its hydrogens found as the command line
// finds them (io/water_hydrogens.h), or none with `nohyd`.
std::shared_ptr<PyFrame> readGro(const std::string& path, const std::string& water, const std::string& oxygen,
                                 const std::optional<std::string>& guest, bool nohyd)
{
    requireReadable(path);
    auto p = std::make_shared<PyFrame>();
    p->frame = readConfiguration(path, water, oxygen);
    p->userAtoms = p->frame.numAtom;
    p->oneSite = nohyd;
    if (nohyd)
        dropHydrogens(p->frame);
    else
        placeHydrogens(p->frame, path);
    if (guest) {
        p->guests = selectGuests(p->frame, *guest);
        p->hasGuests = true;
    }
    return p;
}

} // namespace

void bindFrame(py::module_& m)
{
    py::class_<PyFrame, std::shared_ptr<PyFrame>>(m, "Frame")
        .def(py::init(&frameOfArguments), py::arg("positions"), py::arg("box"), py::arg("oxygens"),
             py::arg("hydrogens") = py::none(), py::arg("guests") = py::none(), py::arg("time") = py::none())
        .def_property_readonly("n_atoms", [](const PyFrame& f) { return f.userAtoms; })
        .def_property_readonly("n_waters", [](const PyFrame& f) { return f.frame.numWater; })
        .def_property_readonly("n_guests",
                               [](const PyFrame& f) { return static_cast<int64_t>(f.guests.firstAtom.size()); })
        .def_property_readonly("one_site", [](const PyFrame& f) { return f.oneSite; })
        .def_property_readonly("oxygens",
                               [](const PyFrame& f) {
                                   std::vector<int64_t> o;
                                   o.reserve(f.frame.water.size());
                                   for (const Water& w : f.frame.water)
                                       o.push_back(f.user(w.oxygen));
                                   return owned(std::move(o));
                               })
        .def_property_readonly("time",
                               [](const PyFrame& f) -> py::object {
                                   return f.frame.hasTime ? py::cast(f.frame.time) : py::none();
                               })
        .def_property_readonly("box", [](const PyFrame& f) {
            const Box& b = f.frame.box;
            py::array_t<double> cell({3, 3});
            auto v = cell.mutable_unchecked<2>();
            const Vec3 rows[3] = {b.a(), b.b(), b.c()};
            for (int i = 0; i < 3; ++i) {
                v(i, 0) = rows[i].x;
                v(i, 1) = rows[i].y;
                v(i, 2) = rows[i].z;
            }
            return cell;
        });
    m.def("read_gro", &readGro, py::arg("path"), py::arg("water") = "SOL", py::arg("oxygen") = "OW",
          py::arg("guest") = py::none(), py::arg("nohyd") = false);
}

} // namespace kavet::python
