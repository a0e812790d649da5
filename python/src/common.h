// What the parts of the Python module share: the frame and result types
// Python holds, array views and the call's thread arena.
#pragma once

#include <pybind11/numpy.h>
#include <pybind11/pybind11.h>
#include <pybind11/stl.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <unordered_map>
#include <vector>

#include <tbb/task_arena.h>

#include "cage/analysis.h"
#include "cage/occupancy.h"
#include "census/census.h"
#include "census/series_row.h"
#include "core/error.h"
#include "core/frame.h"
#include "io/array_frame.h"

namespace kavet::python {

namespace py = pybind11;

// The most threads a call takes (as the command line's -nt).
inline constexpr int maxThreads = 4096;

// Runs f in an arena of `threads` threads (0: every core), so that the
// thread count is the call's and no process-wide setting. `keyword` names
// the argument in the error.
template <class F>
void withThreads(int threads, F&& f, const char* keyword = "threads")
{
    if (threads < 0 || threads > maxThreads)
        throw py::value_error(std::string(keyword) + " must be 0 (every core) to " + std::to_string(maxThreads) +
                              ", not " + std::to_string(threads));
    tbb::task_arena arena(threads > 0 ? threads : tbb::task_arena::automatic);
    arena.execute(std::forward<F>(f));
}

// Raises OSError (FileNotFoundError and so on, by errno) when `path` cannot
// be opened for reading.
inline void requireReadable(const std::string& path)
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
// index of every atom (io/array_frame.h).
struct PyFrame : ArrayFrame {
    PyFrame() = default;
    explicit PyFrame(ArrayFrame&& f) : ArrayFrame(std::move(f)) {}
};

// A read-only array over `data`, owned by `owner`.
template <class T>
inline py::array view(const std::vector<T>& data, std::vector<py::ssize_t> shape, py::handle owner)
{
    py::array a(py::dtype::of<T>(), std::move(shape), {}, data.data(), owner);
    py::detail::array_proxy(a.ptr())->flags &= ~py::detail::npy_api::NPY_ARRAY_WRITEABLE_;
    return a;
}

inline py::ssize_t rows(std::size_t size, std::size_t width) { return static_cast<py::ssize_t>(size / width); }

// An array that takes over `data` (no copy): a capsule owns the vector.
template <class T>
inline py::array owned(std::vector<T>&& data, std::vector<py::ssize_t> shape = {})
{
    auto* held = new std::vector<T>(std::move(data));
    py::capsule owner(held, [](void* p) { delete static_cast<std::vector<T>*>(p); });
    if (shape.empty())
        shape = {static_cast<py::ssize_t>(held->size())};
    return py::array(py::dtype::of<T>(), std::move(shape), {}, held->data(), owner);
}


// One analysed frame. Tables are built when first asked for and kept; the
// arrays handed out view them and keep the result alive. The cage table is
// built with the interpreter lock released, so it is built once under its
// own flag: threads that ask at the same time wait for the one building.
struct PyResult {
    std::shared_ptr<const PyFrame> frame;
    Criteria criteria;
    Analysis analysis;
    SeriesRow row;
    int threads = 0; // the analysis's thread count, which the cage table follows too

    std::optional<FrameCensus> records;
    std::vector<int32_t> bonds, userRingMembers, cageWaters, cageRings, cageGuests, cageCluster, cageFaces;
    std::vector<int64_t> cageWaterOffsets, cageRingOffsets, cageGuestOffsets;
    std::vector<uint8_t> cageClosed;
    std::vector<double> cageCentres;
    std::vector<std::string> cageTypes;
    bool bondsBuilt = false, ringsBuilt = false;
    std::once_flag cagesBuilt;

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

    // The rings' starts are the library's own; so are their members when
    // the caller's atom order was kept, and otherwise a copy in the caller's
    // atom numbers, made once.
    const std::vector<int64_t>& ringOffsets() const { return analysis.rings.ringList.start; }
    const std::vector<int32_t>& ringMembers()
    {
        if (frame->userIndex.empty())
            return analysis.rings.ringList.item;
        if (!ringsBuilt) {
            userRingMembers.reserve(analysis.rings.ringList.item.size());
            for (int32_t atom : analysis.rings.ringList.item)
                userRingMembers.push_back(frame->user(atom));
            ringsBuilt = true;
        }
        return userRingMembers;
    }

    // Called with the interpreter lock held; releases it before waiting on
    // the flag, so that the thread building can take it back.
    void buildCages()
    {
        py::gil_scoped_release release;
        std::call_once(cagesBuilt, [this] { buildCageTable(); });
    }

private:
    // Touches no Python object. Starts afresh, since a build that threw is
    // tried again at the next call.
    void buildCageTable()
    {
        for (auto* v : {&cageWaters, &cageRings, &cageGuests, &cageCluster, &cageFaces})
            v->clear();
        cageTypes.clear();
        cageClosed.clear();
        cageCentres.clear();
        CensusOptions o = options();
        o.cageRecords = true;
        withThreads(threads, [&] { records = censusOf(frame->frame, analysis, o); });
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
    }
};

// A cell from three lengths, MDAnalysis's six numbers or a 3x3 cell matrix
// (ValueError otherwise).
Box boxOf(const py::array_t<double, py::array::c_style | py::array::forcecast>& box);

void bindFrame(py::module_& m);
void bindResult(py::module_& m);
void bindSeries(py::module_& m);
void bindThermal(py::module_& m);

} // namespace kavet::python
