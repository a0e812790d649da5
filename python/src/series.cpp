// Series runs from Python: the library's SeriesRun over a trajectory, its
// rows as one array (and its files, per-water arrays and progress), and the
// cage tracker for runs split into blocks.
#include "common.h"

#include <algorithm>
#include <mutex>

#include "census/cage_tracker.h"
#include "io/trajectory.h"
#include "series/series_files.h"
#include "series/series_run.h"

namespace kavet::python {
namespace {

// Called with the interpreter lock released, between frames: runs Python's
// signal handlers and raises what they raise (Ctrl-C: KeyboardInterrupt).
void checkSignals()
{
    py::gil_scoped_acquire acquire;
    if (PyErr_CheckSignals() != 0)
        throw py::error_already_set();
}

// The per-water values of every frame (frames x waters, the water table's
// order): CHILL+ codes, F4, F3, q_tet, each q-bar_l and closed cages.
struct PerWater {
    std::vector<int8_t> chill;
    std::vector<uint8_t> cages;
    std::vector<double> f4, f3, qTet;
    std::vector<std::vector<double>> qbar;

    void add(const SeriesRow& row)
    {
        for (ChillLabel l : row.chill.label)
            chill.push_back(static_cast<int8_t>(l));
        cages.insert(cages.end(), row.closedCagesOfWater.begin(), row.closedCagesOfWater.end());
        f4.insert(f4.end(), row.f4PerWater.begin(), row.f4PerWater.end());
        f3.insert(f3.end(), row.f3.perWater.begin(), row.f3.perWater.end());
        qTet.insert(qTet.end(), row.qTet.perWater.begin(), row.qTet.perWater.end());
        qbar.resize(row.qbar.perWater.size());
        for (std::size_t k = 0; k < qbar.size(); ++k)
            qbar[k].insert(qbar[k].end(), row.qbar.perWater[k].begin(), row.qbar.perWater[k].end());
    }
    py::dict arrays(py::ssize_t frames, const SeriesRun& run)
    {
        const std::vector<int32_t> oxygens = waterOxygens(run.structure());
        const std::vector<py::ssize_t> shape{frames, static_cast<py::ssize_t>(oxygens.size())};
        py::dict d, q;
        d["oxygens"] = owned(std::vector<int32_t>(oxygens));
        d["chill"] = owned(std::move(chill), shape);
        d["closed_cages"] = owned(std::move(cages), shape);
        d["f4"] = owned(std::move(f4), shape);
        d["f3"] = owned(std::move(f3), shape);
        d["q_tet"] = owned(std::move(qTet), shape);
        const std::vector<int32_t>& degrees = run.censusOptions().qbarDegrees;
        for (std::size_t k = 0; k < degrees.size(); ++k)
            q[py::int_(degrees[k])] = owned(k < qbar.size() ? std::move(qbar[k]) : std::vector<double>{}, shape);
        d["qbar"] = q;
        return d;
    }
};

// Rows of a series run for the frames numbered first .. first + count - 1 of
// the trajectory (count < 0: to the end), each value as the column table
// gives it. The frames before `first` are passed over unread. Cages are
// followed from the first frame of the block (born, died); without
// `follow` the closed cages of every row come back too (their waters' atom
// numbers, ascending), for a CageTracker to follow the blocks of a run in
// order (CageTracker.follow). A whole run (first 0, count < 0) that
// analyses no frame is an error, as on the command line. A whole run may
// also write the command line's files (`files`), keep the per-water values
// of every frame (`perWater`) and call `progress(frames done, fraction of
// the trajectory read)` after each frame. Ctrl-C is acted on between
// frames.
py::dict seriesRows(SeriesOptions options, int64_t first, int64_t count, bool follow, int threads,
                    const SeriesFileNames& files, bool perWater, py::object progress)
{
    options.style = OptionStyle::Python;
    const bool whole = first == 0 && count < 0;
    if (!whole && !files.outputs({}).empty())
        throw py::value_error("a block of a series run writes no files");
    files.checkExtensions(OptionStyle::Python);
    files.require(options);
    requireReadable(options.structure);
    requireReadable(options.trajectory);
    SeriesColumns columns;
    std::vector<double> values;
    std::vector<std::string> warnings;
    std::mutex held; // warnings come from the analysis's threads too
    std::vector<int64_t> cageOffsets{0}, waterOffsets{0};
    std::vector<int32_t> cageWaters;
    PerWater water;
    py::object perWaterArrays = py::none();
    {
        py::gil_scoped_release release;
        withThreads(threads, [&] {
            SeriesRun run(options, [&](const std::string& w) {
                std::lock_guard<std::mutex> lock(held);
                warnings.push_back(w);
            });
            columns = run.columns();
            if (const std::string w = run.ringSizeWarning(); !w.empty())
                warnings.push_back(w);
            std::optional<SeriesFiles> written;
            if (whole)
                written.emplace(run, files);
            SeriesFrame f = run.frameBuffer();
            if (!run.skip(first))
                return;
            const int64_t before = count < 0 ? -1 : first + count;
            while (run.read(f, before)) {
                checkSignals();
                SeriesRow row = run.analyse(f);
                FollowedFrame followed = run.follow(f, row);
                std::lock_guard<std::mutex> lock(held);
                warnings.insert(warnings.end(), f.warnings.begin(), f.warnings.end());
                warnings.insert(warnings.end(), followed.warnings.begin(), followed.warnings.end());
                if (!follow) {
                    for (const CageRecord& c : row.cages) {
                        if (!c.closed)
                            continue;
                        cageWaters.insert(cageWaters.end(), c.waters.begin(), c.waters.end());
                        waterOffsets.push_back(static_cast<int64_t>(cageWaters.size()));
                    }
                    cageOffsets.push_back(static_cast<int64_t>(waterOffsets.size() - 1));
                }
                for (const SeriesColumn& c : columns)
                    values.push_back(c.value(row));
                if (written)
                    written->frame(f, row, followed);
                if (perWater)
                    water.add(row);
                if (!progress.is_none()) {
                    py::gil_scoped_acquire hold;
                    progress(run.framesAnalysed(), run.fractionRead());
                }
            }
            if (written)
                written->finish(run);
            if (whole)
                run.requireFrames();
            if (perWater) {
                py::gil_scoped_acquire hold;
                perWaterArrays = water.arrays(columns.empty() ? 0 : rows(values.size(), columns.size()), run);
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
    const std::vector<py::ssize_t> shape{columns.empty() ? 0 : rows(values.size(), columns.size()),
                                         static_cast<py::ssize_t>(columns.size())};
    out["values"] = owned(std::move(values), shape);
    out["warnings"] = warnings;
    out["per_water"] = perWaterArrays;
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
    if (std::max({frameAt, timeAt, bornAt, diedAt}) >= static_cast<py::ssize_t>(names.size()))
        throw py::value_error("follow: not a block of series rows");
    py::array_t<double> values = block["values"].cast<py::array_t<double>>();
    const auto cages = block["cage_offsets"].cast<py::array_t<int64_t>>();
    const auto offsets = block["cage_water_offsets"].cast<py::array_t<int64_t>>();
    const auto waters = block["cage_waters"].cast<py::array_t<int32_t>>();
    if (values.ndim() != 2 || cages.size() != values.shape(0) + 1)
        throw py::value_error("follow: the block's cages do not match its rows");
    // Offsets that start at 0, never fall and end at the length of what they
    // index; anything else would read outside the arrays.
    const auto offsetsInto = [](const py::array_t<int64_t>& off, py::ssize_t size, const char* what) {
        const int64_t* x = off.data();
        bool sound = off.ndim() == 1 && off.size() >= 1 && x[0] == 0 && x[off.size() - 1] == size;
        for (py::ssize_t k = 1; sound && k < off.size(); ++k)
            sound = x[k] >= x[k - 1];
        if (!sound)
            throw py::value_error(std::string("follow: the block's ") + what +
                                  " offsets do not run from 0 upwards to the end of what they index");
    };
    offsetsInto(cages, offsets.size() - 1, "cage");
    offsetsInto(offsets, waters.size(), "cage water");
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
        if (++n % 256 == 0)
            checkSignals();
    return n;
}

} // namespace

void bindSeries(py::module_& m)
{
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

    // A series run's options, as the library takes them (series/series_run.h).
    py::class_<SeriesOptions>(m, "SeriesOptions")
        .def(py::init<>())
        .def_readwrite("structure", &SeriesOptions::structure)
        .def_readwrite("trajectory", &SeriesOptions::trajectory)
        .def_readwrite("water", &SeriesOptions::water)
        .def_readwrite("oxygen", &SeriesOptions::oxygen)
        .def_readwrite("index_file", &SeriesOptions::indexFile)
        .def_readwrite("water_group", &SeriesOptions::waterGroup)
        .def_readwrite("saved_group", &SeriesOptions::savedGroup)
        .def_readwrite("has_guest", &SeriesOptions::hasGuest)
        .def_readwrite("guest_name", &SeriesOptions::guestName)
        .def_readwrite("guest_group", &SeriesOptions::guestGroup)
        .def_property(
            "begin", [](const SeriesOptions& o) { return o.frames.begin; },
            [](SeriesOptions& o, std::optional<double> v) { o.frames.begin = v; })
        .def_property(
            "end", [](const SeriesOptions& o) { return o.frames.end; },
            [](SeriesOptions& o, std::optional<double> v) { o.frames.end = v; })
        .def_property(
            "step", [](const SeriesOptions& o) { return o.frames.step; },
            [](SeriesOptions& o, std::optional<double> v) { o.frames.step = v; })
        .def_readwrite("tolerance", &SeriesOptions::tolerance)
        .def_readwrite("qbar_degrees", &SeriesOptions::qbarDegrees)
        .def_readwrite("thermal_half", &SeriesOptions::thermalHalf)
        .def_readwrite("criteria", &SeriesOptions::criteria)
        .def_property(
            "oxygen_type", [](const SeriesOptions& o) { return o.types.oxygenType; },
            [](SeriesOptions& o, int32_t t) { o.types.oxygenType = t; })
        .def_property(
            "hydrogen_type", [](const SeriesOptions& o) { return o.types.hydrogenType; },
            [](SeriesOptions& o, int32_t t) { o.types.hydrogenType = t; })
        .def_property(
            "guest_types", [](const SeriesOptions& o) { return o.types.guestTypes; },
            [](SeriesOptions& o, std::vector<int32_t> t) { o.types.guestTypes = std::move(t); })
        .def_readwrite("timestep", &SeriesOptions::timestep);
    // The files a series run writes (series/series_files.h); "" for none.
    py::class_<SeriesFileNames>(m, "SeriesFileNames")
        .def(py::init<>())
        .def_readwrite("series", &SeriesFileNames::series)
        .def_readwrite("cages", &SeriesFileNames::cages)
        .def_readwrite("guests", &SeriesFileNames::guests)
        .def_readwrite("clusters", &SeriesFileNames::clusters)
        .def_readwrite("view", &SeriesFileNames::view)
        .def_readwrite("profile", &SeriesFileNames::profile)
        .def_readwrite("lifetimes", &SeriesFileNames::lifetimes)
        .def_property(
            "profile_axis", [](const SeriesFileNames& n) { return n.profileAxis.axis; },
            [](SeriesFileNames& n, int32_t axis) { n.profileAxis.axis = axis; })
        .def_property(
            "profile_width", [](const SeriesFileNames& n) { return n.profileAxis.width; },
            [](SeriesFileNames& n, double width) { n.profileAxis.width = width; });
    m.def("series_rows", &seriesRows, py::arg("options"), py::arg("first") = 0, py::arg("count") = -1,
          py::arg("follow") = true, py::arg("threads") = 0, py::arg("files") = SeriesFileNames{},
          py::arg("per_water") = false, py::arg("progress") = py::none());
    m.def("frame_count", &frameCount, py::arg("path"));
}

} // namespace kavet::python
