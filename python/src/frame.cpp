// kavet.Frame: a frame from numpy arrays or read from a .gro file.
#include "common.h"

#include "core/box.h"
#include "io/gro_reader.h"
#include "io/water_hydrogens.h"

namespace kavet::python {
namespace {

using IndexArray = py::array_t<int64_t, py::array::c_style | py::array::forcecast>;

template <class T>
ArrayView<T> viewOf(const py::array_t<T, py::array::c_style | py::array::forcecast>& a)
{
    return {a.data(), std::vector<int64_t>(a.shape(), a.shape() + a.ndim())};
}

// A frame from arrays, checked by the library (io/array_frame.h). Results
// name the caller's indices.
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
    return std::make_shared<PyFrame>(arrayFrame(in));
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
        .def(py::init(&frameOf), py::arg("positions"), py::arg("box"), py::arg("oxygens"),
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
