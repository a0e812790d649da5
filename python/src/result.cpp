// kavet.Result: one analysed frame, its tables as numpy arrays; the
// criteria of the analysis.
#include "common.h"

#include "io/profile_writer.h"
#include "io/water_hydrogens.h"

namespace kavet::python {
namespace {

std::shared_ptr<PyResult> analyseFrame(std::shared_ptr<const PyFrame> frame, const Criteria& criteria, int threads)
{
    auto r = std::make_shared<PyResult>();
    r->criteria = criteria;
    if (frame->oneSite && !criteria.distanceOnly)
        throw py::value_error("the frame's waters have no hydrogens (one-site water): analyse it with nohyd=True, "
                              "the network of O-O distances alone");
    if (criteria.distanceOnly && !frame->oneSite) {
        // The hydrogens unused, as the command line's -nohyd reads none (F4 not a number).
        auto copy = std::make_shared<PyFrame>(*frame);
        dropHydrogens(copy->frame.editTopology());
        copy->oneSite = true;
        frame = std::move(copy);
    }
    r->frame = std::move(frame);
    r->threads = threads;
    {
        py::gil_scoped_release release;
        withThreads(threads, [&] {
            const Frame& f = r->frame->frame;
            r->analysis = analyse(f, r->criteria);
            r->row = seriesRow(0, f.hasTime ? f.time : 0.0, f, r->analysis, r->options());
        });
    }
    return r;
}

} // namespace

void bindResult(py::module_& m)
{
    py::class_<PyResult, std::shared_ptr<PyResult>>(m, "Result")
        .def_property_readonly("frame", [](const PyResult& r) { return std::const_pointer_cast<PyFrame>(r.frame); })
        .def_property_readonly("bonds",
                               [](py::object self) {
                                   PyResult& r = self.cast<PyResult&>();
                                   r.buildBonds();
                                   return view(r.bonds, {rows(r.bonds.size(), 2), 2}, self);
                               })
        .def_property_readonly("ring_offsets",
                               [](py::object self) {
                                   const PyResult& r = self.cast<const PyResult&>();
                                   const std::vector<int64_t>& v = r.ringOffsets();
                                   return view(v, {rows(v.size(), 1)}, self);
                               })
        .def_property_readonly("ring_members",
                               [](py::object self) {
                                   PyResult& r = self.cast<PyResult&>();
                                   const std::vector<int32_t>& v = r.ringMembers();
                                   return view(v, {rows(v.size(), 1)}, self);
                               })
        .def_property_readonly("cage_types",
                               [](py::object self) {
                                   PyResult& r = self.cast<PyResult&>();
                                   r.buildCages();
                                   return r.cageTypes;
                               })
#define KAVET_CAGE_ARRAY(name, member, width)                                                                   \
    .def_property_readonly(name, [](py::object self) {                                                          \
        PyResult& r = self.cast<PyResult&>();                                                                   \
        r.buildCages();                                                                                         \
        if (width == 1)                                                                                         \
            return view(r.member, {rows(r.member.size(), 1)}, self);                                            \
        return view(r.member, {rows(r.member.size(), width), width}, self);                                     \
    })
        KAVET_CAGE_ARRAY("cage_closed", cageClosed, 1)
        KAVET_CAGE_ARRAY("cage_centres", cageCentres, 3)
        KAVET_CAGE_ARRAY("cage_faces", cageFaces, 1)
        KAVET_CAGE_ARRAY("cage_cluster", cageCluster, 1)
        KAVET_CAGE_ARRAY("cage_water_offsets", cageWaterOffsets, 1)
        KAVET_CAGE_ARRAY("cage_waters", cageWaters, 1)
        KAVET_CAGE_ARRAY("cage_ring_offsets", cageRingOffsets, 1)
        KAVET_CAGE_ARRAY("cage_rings", cageRings, 1)
        KAVET_CAGE_ARRAY("cage_guest_offsets", cageGuestOffsets, 1)
        KAVET_CAGE_ARRAY("cage_guests", cageGuests, 1)
#undef KAVET_CAGE_ARRAY
        .def_property_readonly("chill",
                               [](py::object self) {
                                   // ChillLabel is one byte; its values are the codes.
                                   static_assert(sizeof(ChillLabel) == 1);
                                   const PyResult& r = self.cast<const PyResult&>();
                                   py::array a(py::dtype("int8"), {static_cast<py::ssize_t>(r.row.chill.label.size())}, {},
                                               r.row.chill.label.data(), self);
                                   py::detail::array_proxy(a.ptr())->flags &= ~py::detail::npy_api::NPY_ARRAY_WRITEABLE_;
                                   return a;
                               })
        .def(
            "profile_text",
            [](py::object self, int32_t axis, double width, int64_t number) {
                PyResult& r = self.cast<PyResult&>();
                if (axis < 0 || axis > 2 || !(width > 0.0))
                    throw InputError("the profile takes the axis 0, 1 or 2 and a positive slab width");
                r.buildCages();
                const Frame& f = r.frame->frame;
                const std::string time =
                    formatValue(SeriesColumn::Time, f.hasTime ? f.time : static_cast<double>(number));
                return profileHeader() + profileFrameText(number, time, f, r.records->cages, r.row.chill.label,
                                                          ProfileAxis{axis, width});
            },
            py::arg("axis"), py::arg("width"), py::arg("frame") = 0,
            "The frame's lines of the command line's -oprofile file, with its header.")
        .def_property_readonly("f4_per_water",
                               [](py::object self) {
                                   const PyResult& r = self.cast<const PyResult&>();
                                   return view(r.row.f4PerWater, {static_cast<py::ssize_t>(r.row.f4PerWater.size())}, self);
                               })
        // Per-water structure (docs/structure.md), nan without enough neighbours.
        .def_property_readonly("f3_per_water",
                               [](py::object self) {
                                   const PyResult& r = self.cast<const PyResult&>();
                                   const std::vector<double>& v = r.row.f3.perWater;
                                   return view(v, {static_cast<py::ssize_t>(v.size())}, self);
                               })
        .def_property_readonly("q_tet_per_water",
                               [](py::object self) {
                                   const PyResult& r = self.cast<const PyResult&>();
                                   const std::vector<double>& v = r.row.qTet.perWater;
                                   return view(v, {static_cast<py::ssize_t>(v.size())}, self);
                               })
        .def_property_readonly("qbar_per_water",
                               [](py::object self) {
                                   // Degree l to the array of q̄_l per water.
                                   const PyResult& r = self.cast<const PyResult&>();
                                   py::dict d;
                                   for (std::size_t k = 0; k < r.row.qbar.perWater.size(); ++k) {
                                       const std::vector<double>& v = r.row.qbar.perWater[k];
                                       d[py::int_(r.row.qbar.degrees[k])] =
                                           view(v, {static_cast<py::ssize_t>(v.size())}, self);
                                   }
                                   return d;
                               })
        .def_property_readonly("closed_cages_per_water",
                               [](py::object self) {
                                   const PyResult& r = self.cast<const PyResult&>();
                                   const auto& v = r.row.closedCagesOfWater;
                                   return view(v, {static_cast<py::ssize_t>(v.size())}, self);
                               })
        .def_property_readonly("in_cup",
                               [](py::object self) {
                                   const PyResult& r = self.cast<const PyResult&>();
                                   return view(r.row.inCup, {static_cast<py::ssize_t>(r.row.inCup.size())}, self);
                               })
        .def_property_readonly("cluster_columns",
                               [](const PyResult& r) {
                                   // The per-cluster table (-oclusters) of this frame, column name to
                                   // list; the cluster id is its smallest cage number in the frame.
                                   std::vector<int32_t> numbers;
                                   for (const CageRecord& c : r.row.cages)
                                       numbers.push_back(c.id);
                                   const std::vector<int32_t> ids =
                                       clusterIds(r.row.cages, numbers, r.row.clusterTable.size());
                                   py::dict d;
                                   py::list cluster, cages, occupied, guests, waters, x, y, z, rg, spans, other;
                                   std::vector<py::list> types(std::size(commonCageTypes));
                                   for (std::size_t k = 0; k < r.row.clusterTable.size(); ++k) {
                                       const ClusterRecord& c = r.row.clusterTable[k];
                                       cluster.append(ids[k]);
                                       cages.append(c.cages);
                                       int64_t common = 0;
                                       for (std::size_t t = 0; t < types.size(); ++t) {
                                           const auto it = c.types.find(commonCageTypes[t]);
                                           const int64_t n = it == c.types.end() ? 0 : it->second;
                                           common += n;
                                           types[t].append(n);
                                       }
                                       other.append(c.cages - common);
                                       occupied.append(c.occupied);
                                       guests.append(c.guests);
                                       waters.append(c.waters);
                                       x.append(c.centre.x);
                                       y.append(c.centre.y);
                                       z.append(c.centre.z);
                                       rg.append(c.rg);
                                       spans.append(c.spans);
                                   }
                                   d["cluster"] = cluster;
                                   d["cages"] = cages;
                                   for (std::size_t t = 0; t < types.size(); ++t)
                                       d[py::str(commonCageTypes[t])] = types[t];
                                   d["other"] = other;
                                   d["occupied"] = occupied;
                                   d["guests"] = guests;
                                   d["waters"] = waters;
                                   d["x"] = x;
                                   d["y"] = y;
                                   d["z"] = z;
                                   d["rg"] = rg;
                                   d["spans"] = spans;
                                   return d;
                               })
        .def_property_readonly("census", [](const PyResult& r) {
            // The series row of this frame: column name to value.
            py::dict d;
            for (const SeriesColumn& c : seriesColumns(r.criteria, r.frame->hasGuests)) {
                const double v = c.value(r.row);
                if (c.kind == SeriesColumn::Count)
                    d[py::str(c.name)] = static_cast<int64_t>(v);
                else
                    d[py::str(c.name)] = v;
            }
            return d;
        });

    // The CHILL+ labels by code (order/chill.h, and the chill column of -oview).
    {
        std::vector<std::string> names(kChillLabels);
        names[static_cast<int>(ChillLabel::Liquid)] = "liquid";
        names[static_cast<int>(ChillLabel::Cubic)] = "cubic";
        names[static_cast<int>(ChillLabel::Hexagonal)] = "hexagonal";
        names[static_cast<int>(ChillLabel::InterfacialIce)] = "interfacial_ice";
        names[static_cast<int>(ChillLabel::Clathrate)] = "clathrate";
        names[static_cast<int>(ChillLabel::InterfacialClathrate)] = "interfacial_clathrate";
        m.attr("CHILL_LABELS") = names;
    }
    // The names and kinds ("count", "time", "real") of Result.census's
    // columns, for a table of no frames.
    m.def(
        "census_columns",
        [](const Criteria& criteria, bool guests) {
            py::list names, kinds;
            for (const SeriesColumn& c : seriesColumns(criteria, guests)) {
                names.append(c.name);
                kinds.append(c.kind == SeriesColumn::Count ? "count" : c.kind == SeriesColumn::Time ? "time" : "real");
            }
            return py::make_tuple(names, kinds);
        },
        py::arg("criteria"), py::arg("guests"));
    m.def("analyse", &analyseFrame, py::arg("frame"), py::arg("criteria"), py::arg("threads") = 0);

    // The criteria, with the series preset (the sealed line of sight) as
    // their defaults; lengths in angstrom, angles in degrees.
    py::class_<Criteria>(m, "Criteria")
        .def(py::init([] { return seriesCriteria(); }))
        .def_readwrite("hb_distance", &Criteria::hbDistance)
        .def_readwrite("hb_angle", &Criteria::hbAngle)
        .def_readwrite("ring_min", &Criteria::ringMin)
        .def_readwrite("ring_max", &Criteria::ringMax)
        .def_readwrite("ring_deviation", &Criteria::ringDeviation)
        .def_readwrite("cage_distance", &Criteria::cageDistance)
        .def_readwrite("cage_angle", &Criteria::cageAngle)
        .def_readwrite("nohyd", &Criteria::distanceOnly)
        .def("__repr__", [](const Criteria& c) {
            char t[256];
            std::snprintf(t, sizeof t, "Criteria(hb=(%g, %g), ring=(%d, %d, %g), cage=(%g, %g), nohyd=%s)",
                          static_cast<double>(c.hbDistance), static_cast<double>(c.hbAngle), c.ringMin, c.ringMax,
                          static_cast<double>(c.ringDeviation), static_cast<double>(c.cageDistance),
                          static_cast<double>(c.cageAngle), c.distanceOnly ? "True" : "False");
            return std::string(t);
        });
}

} // namespace kavet::python
