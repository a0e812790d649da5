// kavet._kavet: the library as Python sees it. A frame built from numpy
// arrays or read from a .gro file, the analysis of one frame into a result
// whose tables come out as numpy arrays, and series mode's rows over a
// trajectory. The Python package (kavet/__init__.py) wraps this module.
//
// The binding stays thin: settings come from the command line's own option
// scan, a frame's analysis and census row from the library's and series
// mode's functions, so Python and the command line share one code path.
#include <pybind11/numpy.h>
#include <pybind11/pybind11.h>
#include <pybind11/stl.h>

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <optional>
#include <string>
#include <unordered_map>
#include <vector>

#include <tbb/task_arena.h>

#include "app/series.h"
#include "app/settings.h"
#include "cage/analysis.h"
#include "census/census.h"
#include "census/series_row.h"
#include "census/cage_tracker.h"
#include "cage/occupancy.h"
#include "core/error.h"
#include "core/frame.h"
#include "io/frame_checks.h"
#include "io/gro_reader.h"
#include "io/thermal_frames.h"
#include "io/trajectory.h"
#include "io/water_hydrogens.h"

namespace py = pybind11;
using namespace kavet;

namespace {

// Runs f in an arena of `threads` threads (0: every core), so that the
// thread count is the call's and no process-wide setting.
template <class F>
void withThreads(int threads, F&& f)
{
    if (threads < 0)
        throw py::value_error("threads must be 0 (every core) or more, not " + std::to_string(threads));
    tbb::task_arena arena(threads > 0 ? threads : tbb::task_arena::automatic);
    arena.execute(std::forward<F>(f));
}

// Raises OSError (FileNotFoundError and so on, by errno) when `path` cannot
// be opened for reading.
void requireReadable(const std::string& path)
{
    std::FILE* f = std::fopen(path.c_str(), "rb");
    if (f) {
        std::fclose(f);
        return;
    }
    const int error = errno;
    const std::string message = "cannot open " + path + ": " + std::strerror(error);
    PyErr_SetObject(PyExc_OSError, py::make_tuple(error, message, path).ptr());
    throw py::error_already_set();
}

// A frame with what the analysis needs beside it: the guests, and, when the
// atoms were reordered so that each oxygen's hydrogens follow it, the caller's
// index of every atom.
struct PyFrame {
    Frame frame;
    GuestMolecules guests;
    bool hasGuests = false;
    bool oneSite = false;           // waters without hydrogens (one-site water)
    std::vector<int32_t> userIndex; // empty when the caller's order is kept
    int32_t userAtoms = 0;

    int32_t user(int32_t atom) const { return userIndex.empty() ? atom : userIndex[static_cast<std::size_t>(atom)]; }
};

using IndexArray = py::array_t<int64_t, py::array::c_style | py::array::forcecast>;

std::vector<int64_t> indices(const IndexArray& a, int64_t n, const char* what)
{
    std::vector<int64_t> v(a.data(), a.data() + a.size());
    for (int64_t i : v)
        if (i < 0 || i >= n)
            throw py::value_error(std::string(what) + ": atom index " + std::to_string(i) + " is outside 0.." +
                                  std::to_string(n - 1));
    return v;
}

Box boxOf(const py::array_t<double, py::array::c_style | py::array::forcecast>& b)
{
    Box box;
    if (b.ndim() == 1 && b.shape(0) == 3) {
        box.x = static_cast<float>(b.at(0));
        box.y = static_cast<float>(b.at(1));
        box.z = static_cast<float>(b.at(2));
        return box;
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
        return box;
    }
    throw py::value_error("box: give three lengths or a 3x3 cell matrix, in angstrom");
}

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
        throw py::value_error("positions: an (n, 3) array in angstrom is needed");
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
    if (!hydrogens && !oneSite) {
        // The two atoms after each oxygen must be there and be neither an
        // oxygen nor a guest.
        for (int64_t g : gatoms)
            seen[static_cast<std::size_t>(g)] = 2;
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
    return p;
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

// Settings from command-line options, scanned as the program scans them.
// Series mode's criteria: the sealed line of sight, unless `sealed` is false.
Settings settingsOf(const std::vector<std::string>& options, bool series)
{
    std::vector<std::string> args = options;
    if (series && std::find(args.begin(), args.end(), "-t") == args.end()) {
        args.push_back("-t");
        args.push_back("-");
    }
    return scanOptions(args);
}

// One analysed frame. Tables are built when first asked for and kept; the
// arrays handed out view them and keep the result alive.
struct PyResult {
    std::shared_ptr<const PyFrame> frame;
    Settings settings;
    Analysis analysis;
    SeriesRow row;
    int threads = 0; // the analysis's thread count, which the cage table follows too

    std::optional<FrameCensus> records;
    std::vector<int32_t> bonds, ringMembers, cageWaters, cageRings, cageGuests, cageCluster, cageFaces;
    std::vector<int64_t> ringOffsets, cageWaterOffsets, cageRingOffsets, cageGuestOffsets;
    std::vector<uint8_t> cageClosed;
    std::vector<double> cageCentres;
    std::vector<std::string> cageTypes;
    bool bondsBuilt = false, ringsBuilt = false, cagesBuilt = false;

    CensusOptions options() const
    {
        CensusOptions o;
        if (frame->hasGuests)
            o.guests = &frame->guests;
        o.cageMembers = CensusOptions::Members::Closed; // for a CageTracker
        return o;
    }

    void buildBonds()
    {
        if (bondsBuilt)
            return;
        const Network& net = analysis.net;
        for (std::size_t a = 0; a + 1 < net.adjStart.size(); ++a)
            for (int32_t k = net.adjStart[a]; k < net.adjStart[a + 1]; ++k)
                if (net.adjNode[static_cast<std::size_t>(k)] > static_cast<int32_t>(a)) {
                    bonds.push_back(frame->user(static_cast<int32_t>(a)));
                    bonds.push_back(frame->user(net.adjNode[static_cast<std::size_t>(k)]));
                }
        bondsBuilt = true;
    }

    void buildRings()
    {
        if (ringsBuilt)
            return;
        ringOffsets.push_back(0);
        for (const auto& ring : analysis.rings.ringList) {
            for (int32_t atom : ring)
                ringMembers.push_back(frame->user(atom));
            ringOffsets.push_back(static_cast<int64_t>(ringMembers.size()));
        }
        ringsBuilt = true;
    }

    void buildCages()
    {
        if (cagesBuilt)
            return;
        {
            py::gil_scoped_release release;
            CensusOptions o = options();
            o.cageRecords = true;
            withThreads(threads, [&] { records = censusOf(frame->frame, analysis, o); });
        }
        std::unordered_map<int32_t, int32_t> guestOf;
        for (std::size_t g = 0; g < frame->guests.firstAtom.size(); ++g)
            guestOf[frame->guests.firstAtom[g]] = static_cast<int32_t>(g);
        cageWaterOffsets = cageRingOffsets = cageGuestOffsets = {0};
        for (const CageRecord& c : records->cages) {
            cageTypes.push_back(c.type);
            cageClosed.push_back(c.closed ? 1 : 0);
            cageCentres.insert(cageCentres.end(), {c.centre.x, c.centre.y, c.centre.z});
            cageFaces.push_back(c.faces);
            cageCluster.push_back(c.cluster);
            for (int32_t w : c.waters)
                cageWaters.push_back(frame->user(w - 1));
            for (int32_t r : c.rings)
                cageRings.push_back(r - 1);
            for (int32_t g : c.guests)
                cageGuests.push_back(guestOf.at(g - 1));
            cageWaterOffsets.push_back(static_cast<int64_t>(cageWaters.size()));
            cageRingOffsets.push_back(static_cast<int64_t>(cageRings.size()));
            cageGuestOffsets.push_back(static_cast<int64_t>(cageGuests.size()));
        }
        cagesBuilt = true;
    }
};

// A read-only array over `data`, owned by `owner`.
template <class T>
py::array view(const std::vector<T>& data, std::vector<py::ssize_t> shape, py::handle owner)
{
    py::array a(py::dtype::of<T>(), std::move(shape), {}, data.data(), owner);
    py::detail::array_proxy(a.ptr())->flags &= ~py::detail::npy_api::NPY_ARRAY_WRITEABLE_;
    return a;
}

py::ssize_t rows(std::size_t size, std::size_t width) { return static_cast<py::ssize_t>(size / width); }

// An array that takes over `data` (no copy): a capsule owns the vector.
template <class T>
py::array owned(std::vector<T>&& data, std::vector<py::ssize_t> shape = {})
{
    auto* held = new std::vector<T>(std::move(data));
    py::capsule owner(held, [](void* p) { delete static_cast<std::vector<T>*>(p); });
    if (shape.empty())
        shape = {static_cast<py::ssize_t>(held->size())};
    return py::array(py::dtype::of<T>(), std::move(shape), {}, held->data(), owner);
}

std::shared_ptr<PyResult> analyseFrame(std::shared_ptr<const PyFrame> frame, const std::vector<std::string>& options,
                                       int threads)
{
    auto r = std::make_shared<PyResult>();
    r->settings = settingsOf(options, true);
    r->settings.series.hasGuest = frame->hasGuests;
    if (frame->oneSite && !r->settings.criteria.distanceOnly)
        throw py::value_error("the frame's waters have no hydrogens (one-site water): analyse it with nohyd=True, "
                              "the network of O-O distances alone");
    if (r->settings.criteria.distanceOnly && !frame->oneSite) {
        // The hydrogens unused, as the command line's -nohyd reads none (F4 not a number).
        auto copy = std::make_shared<PyFrame>(*frame);
        dropHydrogens(copy->frame);
        copy->oneSite = true;
        frame = std::move(copy);
    }
    r->frame = std::move(frame);
    r->threads = threads;
    {
        py::gil_scoped_release release;
        withThreads(threads, [&] {
            const Frame& f = r->frame->frame;
            r->analysis = analyse(f, r->settings.criteria);
            r->row = seriesRow(r->settings.criteria, 0, f.hasTime ? f.time : 0.0, f, r->analysis, r->options());
        });
    }
    return r;
}

// The structure of a series run, prepared as the command line prepares it:
// waters selected by name, their hydrogens found (or none, with -nohyd).
Frame seriesStructure(const Settings& s)
{
    Frame structure = readConfiguration(s.confFile, s.waterName, s.oxygenName);
    if (s.criteria.distanceOnly)
        dropHydrogens(structure);
    else
        placeHydrogens(structure, s.confFile);
    return structure;
}

// Series mode's rows for the frames numbered first .. first + count - 1 of
// the trajectory (count < 0: to the end), each value as the CSV file holds it.
// The frames before `first` are passed over unread. With `follow`, cages are
// followed from the first frame of the block (born, died); without, born and
// died are left 0 and the closed cages of every row come back instead (their
// waters' atom numbers, ascending), for a CageTracker to follow the blocks of
// a run in order (CageTracker.follow).
py::dict seriesRows(const std::vector<std::string>& options, int64_t first, int64_t count, bool follow)
{
    const Settings s = settingsOf(options, true);
    const SeriesSettings& ss = s.series;
    requireReadable(s.confFile);
    requireReadable(ss.trajFile);
    const std::vector<SeriesColumn> columns = seriesColumns(s.criteria, ss.hasGuest);
    std::vector<double> values;
    std::vector<std::string> warnings;
    std::vector<int64_t> cageOffsets{0}, waterOffsets{0};
    std::vector<int32_t> cageWaters;
    {
        py::gil_scoped_release release;
        // The structure is read on the call's threads too.
        withThreads(threadCount(s), [&] {
            Frame frame = seriesStructure(s);
            const int32_t atoms = frame.numAtom;
            std::unique_ptr<TrajectoryReader> traj = openTrajectory(ss.trajFile, atoms);
            if (ss.thermal) // the frames before `first` that its window needs are read
                traj = averageFrames(std::move(traj), ss.thermalHalf, ss.trajFile);
            GuestMolecules guests;
            CensusOptions census;
            census.cageMembers = CensusOptions::Members::Closed;
            CageTracker tracker; // born and died, as series mode counts them
            if (ss.hasGuest) {
                guests = selectGuests(frame, ss.guestName);
                census.guests = &guests;
                if (guests.firstAtom.empty())
                    warnings.push_back("guest " + ss.guestName + " selects no molecule in " + s.confFile);
            }
            for (int64_t number = 0; number < first; ++number)
                if (!traj->skip())
                    break;
            for (int64_t number = first; count < 0 || number < first + count; ++number) {
                if (!traj->next(frame))
                    break;
                if (frame.numAtom != atoms)
                    throw InputError("the structure " + s.confFile + " has " + std::to_string(atoms) +
                                     " atoms, but frame " + std::to_string(number) + " of " + ss.trajFile + " has " +
                                     std::to_string(frame.numAtom));
                const double time = frame.hasTime ? frame.time : static_cast<double>(number);
                if (!frameSelected(ss, time))
                    continue;
                for (std::string& w : checkFrame(frame, ss.trajFile + " frame " + std::to_string(number)))
                    warnings.push_back(std::move(w));
                const Analysis a = analyse(frame, s.criteria);
                SeriesRow row = seriesRow(s.criteria, number, time, frame, a, census);
                if (follow) {
                    const FrameIds ids = tracker.add(number, time, row.cages);
                    setTracked(columns, row.values, ids.born, ids.died);
                } else {
                    for (const CageRecord& c : row.cages) {
                        cageWaters.insert(cageWaters.end(), c.waters.begin(), c.waters.end());
                        waterOffsets.push_back(static_cast<int64_t>(cageWaters.size()));
                    }
                    cageOffsets.push_back(static_cast<int64_t>(waterOffsets.size() - 1));
                }
                // The value the CSV file shows.
                for (std::size_t c = 0; c < columns.size(); ++c)
                    values.push_back(std::strtod(formatValue(columns[c], row.values[c]).c_str(), nullptr));
            }
        });
    }
    py::list names, kinds;
    for (const SeriesColumn& c : columns) {
        names.append(c.name);
        kinds.append(c.kind == SeriesColumn::Count ? "count" : c.kind == SeriesColumn::Time ? "time" : "real");
    }
    py::dict out;
    out["columns"] = names;
    out["kinds"] = kinds;
    const std::vector<py::ssize_t> shape{rows(values.size(), columns.size()), static_cast<py::ssize_t>(columns.size())};
    out["values"] = owned(std::move(values), shape);
    out["warnings"] = warnings;
    if (!follow) {
        out["cage_offsets"] = owned(std::move(cageOffsets));
        out["cage_water_offsets"] = owned(std::move(waterOffsets));
        out["cage_waters"] = owned(std::move(cageWaters));
    }
    return out;
}

// Born and died of the rows of one block of seriesRows(..., follow=false),
// set in its values (the blocks given in frame order).
void followBlock(CageTracker& tracker, py::dict block)
{
    std::vector<std::string> names = block["columns"].cast<std::vector<std::string>>();
    const auto column = [&](const char* name) {
        return static_cast<py::ssize_t>(std::find(names.begin(), names.end(), name) - names.begin());
    };
    const py::ssize_t frameAt = column("frame"), timeAt = column("time_ps"), bornAt = column("born"),
                      diedAt = column("died");
    if (diedAt >= static_cast<py::ssize_t>(names.size()))
        throw py::value_error("follow: not a block of series rows");
    py::array_t<double> values = block["values"].cast<py::array_t<double>>();
    const auto cages = block["cage_offsets"].cast<py::array_t<int64_t>>();
    const auto offsets = block["cage_water_offsets"].cast<py::array_t<int64_t>>();
    const auto waters = block["cage_waters"].cast<py::array_t<int32_t>>();
    if (values.ndim() != 2 || cages.size() != values.shape(0) + 1)
        throw py::value_error("follow: the block's cages do not match its rows");
    auto v = values.mutable_unchecked<2>();
    const int64_t* c = cages.data();
    const int64_t* o = offsets.data();
    const int32_t* w = waters.data();
    std::vector<CageRecord> records;
    for (py::ssize_t r = 0; r < values.shape(0); ++r) {
        records.clear();
        for (int64_t k = c[r]; k < c[r + 1]; ++k) {
            CageRecord& cage = records.emplace_back();
            cage.closed = true;
            cage.waters.assign(w + o[k], w + o[k + 1]);
        }
        const FrameIds ids = tracker.add(static_cast<int64_t>(v(r, frameAt)), v(r, timeAt), records);
        v(r, bornAt) = static_cast<double>(ids.born);
        v(r, diedAt) = static_cast<double>(ids.died);
    }
}

// Frames in the trajectory, counted without reading their positions.
int64_t frameCount(const std::string& path)
{
    requireReadable(path);
    py::gil_scoped_release release;
    std::unique_ptr<TrajectoryReader> traj = openTrajectory(path);
    int64_t n = 0;
    while (traj->skip())
        ++n;
    return n;
}

} // namespace

PYBIND11_MODULE(_kavet, m)
{
    m.doc() = "kavet's library: hydrogen-bond rings and polyhedral cages of water frames";
    py::register_exception_translator([](std::exception_ptr p) {
        try {
            if (p)
                std::rethrow_exception(p);
        } catch (const FileError& e) {
            // A file that cannot be opened, read or written: OSError, whose
            // subclass (FileNotFoundError, PermissionError, ...) follows errno.
            PyErr_SetObject(PyExc_OSError, py::make_tuple(e.error(), std::string(e.what())).ptr());
        } catch (const Failure& e) {
            PyErr_SetString(PyExc_ValueError, e.what());
        }
    });

    // Born and died of the closed cages, frame after frame, as series mode
    // counts them (the MDAnalysis analysis feeds it its results in order).
    py::class_<CageTracker>(m, "CageTracker")
        .def(py::init<int32_t>(), py::arg("tolerance") = 0)
        .def(
            "add",
            [](CageTracker& t, const PyResult& r, int64_t frame, double time) {
                const FrameIds ids = t.add(frame, time, r.row.cages);
                return py::make_tuple(ids.born, ids.died);
            },
            py::arg("result"), py::arg("frame"), py::arg("time"))
        .def("follow", &followBlock, py::arg("block"),
             "Sets born and died of a block of series rows (series_rows with follow=False), the blocks of a run "
             "given in frame order.");

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
                                   PyResult& r = self.cast<PyResult&>();
                                   r.buildRings();
                                   return view(r.ringOffsets, {rows(r.ringOffsets.size(), 1)}, self);
                               })
        .def_property_readonly("ring_members",
                               [](py::object self) {
                                   PyResult& r = self.cast<PyResult&>();
                                   r.buildRings();
                                   return view(r.ringMembers, {rows(r.ringMembers.size(), 1)}, self);
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
                                   py::array a(py::dtype("int8"), {static_cast<py::ssize_t>(r.row.chill.size())}, {},
                                               r.row.chill.data(), self);
                                   py::detail::array_proxy(a.ptr())->flags &= ~py::detail::npy_api::NPY_ARRAY_WRITEABLE_;
                                   return a;
                               })
        .def_property_readonly("f4_per_water",
                               [](py::object self) {
                                   const PyResult& r = self.cast<const PyResult&>();
                                   return view(r.row.f4, {static_cast<py::ssize_t>(r.row.f4.size())}, self);
                               })
        .def_property_readonly("census", [](const PyResult& r) {
            // The series row of this frame: column name to value.
            py::dict d;
            const std::vector<SeriesColumn> columns = seriesColumns(r.settings.criteria, r.settings.series.hasGuest);
            for (std::size_t c = 0; c < columns.size(); ++c) {
                const double v = r.row.values[c];
                if (columns[c].kind == SeriesColumn::Count)
                    d[py::str(columns[c].name)] = static_cast<int64_t>(v);
                else
                    d[py::str(columns[c].name)] = v;
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
    m.def("analyse", &analyseFrame, py::arg("frame"), py::arg("options"), py::arg("threads") = 0);
    m.def("series_rows", &seriesRows, py::arg("options"), py::arg("first") = 0, py::arg("count") = -1,
          py::arg("follow") = true);
    m.def("frame_count", &frameCount, py::arg("path"));
}
