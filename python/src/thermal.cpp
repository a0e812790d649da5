// Thermal frames of trajectories that Python reads (kavet.mda): a frame's
// positions averaged over the frames around it by the library's averaging
// (io/thermal_frames.h), as series mode's -thermal averages the frames it
// reads.
#include "common.h"

#include "io/frame_checks.h"
#include "io/thermal_frames.h"

namespace kavet::python {
namespace {

using Positions = py::array_t<float, py::array::c_style | py::array::forcecast>;

// The frames of a window held in arrays, handed out in order: the
// coordinates of `like`'s atoms.
class WindowFrames : public TrajectoryReader {
public:
    WindowFrames(const PyFrame& like, const Positions& positions, std::vector<Box> boxes)
        : like_(like), positions_(positions), boxes_(std::move(boxes))
    {
    }
    bool next(Coordinates& frame) override
    {
        if (next_ >= static_cast<py::ssize_t>(boxes_.size()))
            return false;
        const auto p = positions_.unchecked<3>();
        const int32_t atoms = atomCount();
        frame.positions.resize(static_cast<std::size_t>(atoms));
        for (int32_t a = 0; a < atoms; ++a) {
            const py::ssize_t u = like_.user(a);
            frame.positions[static_cast<std::size_t>(a)] = {p(next_, u, 0), p(next_, u, 1), p(next_, u, 2)};
        }
        frame.box = boxes_[static_cast<std::size_t>(next_)];
        frame.hasTime = like_.frame.hasTime;
        frame.time = like_.frame.time;
        ++next_;
        return true;
    }
    int32_t atomCount() const override { return like_.frame.topology().atomCount; }

private:
    const PyFrame& like_;
    const Positions& positions_;
    std::vector<Box> boxes_;
    py::ssize_t next_ = 0;
};

// `frame` with its positions the mean over the window `positions` (k, n, 3:
// k frames of the n atoms given to the frame, in that order) whose cells are
// `boxes`, for the window's frame `centre`, with `half` frames on each side
// at most (a window cut at the trajectory's ends holds fewer). Its cell and
// time stay the frame's own; the frame's checks are run again.
std::shared_ptr<PyFrame> thermalFrame(const PyFrame& frame, const Positions& positions, const py::list& boxes,
                                      int64_t centre, int32_t half)
{
    const py::ssize_t k = static_cast<py::ssize_t>(py::len(boxes));
    if (positions.ndim() != 3 || positions.shape(0) != k || positions.shape(1) != frame.userAtoms ||
        positions.shape(2) != 3)
        throw py::value_error("thermal_frame: positions must be (frames, " + std::to_string(frame.userAtoms) +
                              ", 3), one frame per box");
    if (half < 1 || centre < 0 || centre >= k || centre - half > 0 || centre + half < k - 1)
        throw py::value_error("thermal_frame: the window must hold the centre and at most `half` frames on each "
                              "side of it");
    std::vector<Box> cells;
    for (py::handle b : boxes)
        cells.push_back(boxOf(b.cast<py::array_t<double, py::array::c_style | py::array::forcecast>>()));
    auto out = std::make_shared<PyFrame>(frame);
    {
        py::gil_scoped_release release;
        std::unique_ptr<TrajectoryReader> window =
            averageFrames(std::make_unique<WindowFrames>(frame, positions, cells), half, "the thermal window",
                          frame.frame.sharedTopology());
        for (int64_t c = 0; c < centre; ++c)
            window->skip();
        window->next(out->frame);
    }
    out->frame.box = cells[static_cast<std::size_t>(centre)];
    checkFrame(out->frame, "thermal frame (atoms counted from 1 in the frame's order)");
    return out;
}

} // namespace

void bindThermal(py::module_& m)
{
    m.def("thermal_frame", &thermalFrame, py::arg("frame"), py::arg("positions"), py::arg("boxes"),
          py::arg("centre"), py::arg("half"));
}

} // namespace kavet::python
