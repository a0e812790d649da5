// Thermal frames: each frame of a trajectory replaced by its atoms' mean
// positions over a short window of frames around it, so that the vibrations
// and librations of a thermal run, which bend hydrogen bonds past any
// criterion for an instant, average out, and the structure the molecules
// vibrate about is what the analysis sees (docs/thermal-frames.md gives the
// method, its source and its measurements).
//
// The window of frame c is the frames c - H .. c + H of the trajectory (H
// the half-width), cut at the trajectory's ends. Positions are averaged in
// scaled (fractional) coordinates, each frame's with its own cell, so that a
// cell that changes under constant pressure, triclinic or not, moves no atom:
// every atom of frame k is taken at the periodic image whose scaled position
// is nearest its own in frame c (each scaled component reduced to within half
// a cell), and the mean scaled position is mapped back with frame c's cell.
// Along an axis that is not periodic the position is averaged as it is. A
// water of the frame's water table with both hydrogens keeps, for each, its
// O-H length of frame c, along the direction of its mean O-H vector, so that
// hydrogens are where a hydrogen-bond test expects them.
//
// The frame handed out keeps frame c's cell, time and step. Memory is the
// window's 2H + 1 frames; each frame is read once.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "core/frame.h"
#include "io/trajectory.h"

namespace kavet {

// The half-width that the series' -thermal mode uses unless told otherwise.
inline constexpr int32_t defaultThermalHalfWidth = 2;

// Wraps `inner` so that every frame it hands out is the window's mean
// around it (halfWidth 0: the frames as they are). `name` names the file in
// messages; `topology`'s water table (the caller's selection of waters) says
// which atoms are a water's hydrogens. skip() passes
// over a frame as next() would, reading the frames its neighbours' windows
// need; a frame more than H before any frame still to come is passed over
// unread. Throws FormatError when a frame's atom count differs from the
// first frame's.
std::unique_ptr<TrajectoryReader> averageFrames(std::unique_ptr<TrajectoryReader> inner, int32_t halfWidth,
                                                std::string name, std::shared_ptr<const Topology> topology);

} // namespace kavet
