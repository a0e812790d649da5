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

template <class T>
ArrayView<T> viewOf(const py::array_t<T, py::array::c_style | py::array::forcecast>& a)
{
    return {a.data(), std::vector<int64_t>(a.shape(), a.shape() + a.ndim())};
}

} // namespace

Box boxOf(const py::array_t<double, py::array::c_style | py::array::forcecast>& b)
{
    return arrayBox(viewOf(b));
}

namespace {

// A frame from arrays, checked by the library (io/array_frame.h); what the
// frame checks warn of comes as RuntimeWarning. Results name the caller's
// indices.
std::shared_ptr<PyFrame> frameOf(const py::array_t<float, py::array::c_style | py::array::forcecast>& positions,
                                 const py::array_t<double, py::array::c_style | py::array::forcecast>& box,
                                 const IndexArray& oxygens, const std::optional<IndexArray>& hydrogens,
                                 const std::optional<IndexArray>& guests, std::optional<double> time)
{
    ArrayFrameInput in{viewOf(positions), viewOf(box), viewOf(oxygens), std::nullopt, std::nullopt, time};
    if (hydrogens)
        in.hydrogens = viewOf(*hydrogens);
    if (guests)
        in.guests = viewOf(*guests);
    auto p = std::make_shared<PyFrame>(arrayFrame(in));
    for (const std::string& w : p->warnings)
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
    p->userAtoms = p->frame.topology().atomCount;
    p->oneSite = nohyd;
    if (nohyd)
        dropHydrogens(p->frame.editTopology());
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
        .def_property_readonly("n_waters", [](const PyFrame& f) { return f.frame.topology().waterCount; })
        .def_property_readonly("n_guests",
                               [](const PyFrame& f) { return static_cast<int64_t>(f.guests.firstAtom.size()); })
        .def_property_readonly("one_site", [](const PyFrame& f) { return f.oneSite; })
        .def_property_readonly("oxygens",
                               [](const PyFrame& f) {
                                   std::vector<int64_t> o;
                                   const std::vector<Water>& water = f.frame.topology().water;
                                   o.reserve(water.size());
                                   for (const Water& w : water)
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
