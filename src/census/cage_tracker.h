// Cages followed through a run: identities across frames, births and deaths,
// lifetimes and guest residence. The tracker is fed the analysed frames one at
// a time, in order; each step is a few hash look-ups per cage, so frames can be
// analysed in parallel and matched afterwards in sequence.
//
// Identity. A cage is its kind (closed or defective) and its set of waters, as
// atom numbers. A cage keeps the id of a cage of the same kind and water set
// that was present in the previous analysed frame; otherwise it gets a new id,
// counting from 1 over the run in order of first appearance (frame by frame,
// in the order the cages are given). Closed and defective cages are numbered
// from the same counter, so an id names one cage in every output; a water set
// that turns from closed to defective is two cages.
//
// Tolerance K (default 0). A cage absent for at most K consecutive analysed
// frames keeps its id when it reappears: a cage last seen in analysed frame i
// and seen again in analysed frame j keeps its id when j - i - 1 <= K. With
// K = 0 only the previous analysed frame counts. Frames count as analysed
// frames, whatever frames the run skips.
//
// Same water set twice in one frame (two cages of one kind over the same
// waters, from different rings): the cages, in the order given, take the
// remembered ids of that water set in ascending order; those left over get new
// ids. An id is never given to two cages of one frame.
//
// Births and deaths count closed cages with respect to the previous analysed
// frame only, so that closed(t) = closed(t-1) + born(t) - died(t) holds exactly
// in every frame. A cage that is lost for a frame and comes back within the
// tolerance dies in the frame where it is missing and is born again in the
// frame where it reappears, under its old id; `returned` counts those
// reappearances, so born - returned cages are new. The first analysed frame
// follows an empty one: all its closed cages are born.
//
// Guest residence. Each guest (the atom number of its first atom) is in the
// closed cage whose guest list holds it, or free (id 0). A guest held by two
// closed cages at once stays with the cage it was in in the previous analysed
// frame when that is one of them, and otherwise takes the lowest id. A
// residence is a run of consecutive analysed frames with the guest in one
// cage. Each analysed frame stands for the time up to the next analysed frame,
// so a residence lasts from its first frame's time to the time of the frame
// that ends it; one still going at the last frame is given that frame's step
// from the frame before (none when the run has one frame). With evenly spaced
// frames a residence of n frames lasts n steps. Residence follows the cage
// ids with the tolerance: a guest out of its cage (in no closed cage, or not
// given) for at most K consecutive analysed frames and then back in the cage
// of the same id keeps its residence, and the frames away count in it (a
// cage that blinks within the tolerance keeps its id and its guest); one that
// does not come back, or goes to another cage, ended in the first frame it
// was out. With K = 0 a residence is a run of consecutive frames in one cage.
#pragma once

#include <cstdint>
#include <deque>
#include <map>
#include <string>
#include <unordered_map>
#include <vector>

#include "census/census.h"

namespace kavet {

// One cage id over the run. Frame numbers and times are those of the frames
// given; indices count the analysed frames from 0.
struct CageLife {
    int32_t id = 0;
    std::string type;             // its type in its first frame
    bool closed = false;
    std::vector<int32_t> waters;  // atom numbers, ascending
    int64_t firstFrame = 0, lastFrame = 0;
    double firstTime = 0.0, lastTime = 0.0;
    int64_t firstIndex = 0, lastIndex = 0;
    int64_t framesPresent = 0;
};

// The matching of one frame.
struct FrameIds {
    std::vector<int32_t> ids;      // per cage, in the order given
    int64_t closed = 0;            // closed cages in the frame
    int64_t born = 0;              // closed cages here that the previous analysed frame lacks
    int64_t died = 0;              // closed cages of the previous analysed frame missing here
    int64_t returned = 0;          // of the born, those back within the tolerance under an earlier id
    std::vector<int32_t> guestCage; // per guest given, the id of the closed cage it is in, or 0
};

// The residences in cages of one type.
struct Residence {
    int64_t runs = 0;   // residences counted
    int64_t frames = 0; // analysed frames in them
    double time = 0.0;  // their total duration in ps
    double meanFrames() const { return runs > 0 ? static_cast<double>(frames) / static_cast<double>(runs) : 0.0; }
    double meanTime() const { return runs > 0 ? time / static_cast<double>(runs) : 0.0; }
};

class CageTracker {
public:
    // Throws Failure for a negative tolerance.
    explicit CageTracker(int32_t tolerance = 0);
    // Movable, not copyable (it keeps pointers into its own tables).
    CageTracker(const CageTracker&) = delete;
    CageTracker& operator=(const CageTracker&) = delete;
    CageTracker(CageTracker&&) = default;
    CageTracker& operator=(CageTracker&&) = default;

    // The next analysed frame: its number (greater than the previous one's),
    // time in ps, cages and guests (atom number of each guest's first atom;
    // empty when guests are not followed, and then the cages' guest lists are
    // not read). Only a cage's closed flag, type, waters (ascending) and
    // guests are read. Throws Failure, leaving the tracker as it was, for a
    // frame number out of order, a water list not strictly ascending, a guest
    // given twice, or a guest of a closed cage missing from `guests`.
    FrameIds add(int64_t frame, double time, const std::vector<CageRecord>& cages,
                 const std::vector<int32_t>& guests = {});

    // Every id so far, in id order (row k holds id k + 1).
    const std::vector<CageLife>& lives() const { return lives_; }
    // Analysed frames so far.
    int64_t frames() const { return frames_; }
    // Whether cage life `life` is present in the last analysed frame.
    bool aliveAtEnd(const CageLife& life) const { return frames_ > 0 && life.lastIndex == frames_ - 1; }
    // Mean residence per cage type, residences still going counted as they
    // stand (see above for their duration).
    std::map<std::string, Residence> residence() const;

private:
    // A water set and kind; looked up through a view of a cage's list, so
    // that only new water sets are copied.
    struct KeyView {
        std::size_t hash = 0;
        bool closed = false;
        const std::vector<int32_t>* waters = nullptr;
    };
    struct Key {
        std::size_t hash = 0;
        bool closed = false;
        std::vector<int32_t> waters;
    };
    struct KeyHash {
        using is_transparent = void;
        std::size_t operator()(const Key& k) const { return k.hash; }
        std::size_t operator()(const KeyView& k) const { return k.hash; }
    };
    struct KeyEqual {
        using is_transparent = void;
        bool operator()(const Key& a, const Key& b) const
        {
            return a.hash == b.hash && a.closed == b.closed && a.waters == b.waters;
        }
        bool operator()(const KeyView& a, const Key& b) const
        {
            return a.hash == b.hash && a.closed == b.closed && *a.waters == b.waters;
        }
        bool operator()(const Key& a, const KeyView& b) const { return (*this)(b, a); }
    };
    struct Stay {
        int32_t cage = 0;        // 0: free
        int64_t frames = 0;
        double start = 0.0;      // time of its first frame
        int64_t lastIndex = -1;  // last analysed frame the guest was given in
        int64_t inIndex = -1;    // last analysed frame the guest was in `cage`
        double leftTime = 0.0;   // time of the first frame after inIndex
    };
    void closeStay(const Stay& stay, double end);

    int32_t tolerance_;
    int64_t frames_ = 0;
    int64_t lastFrame_ = 0;
    double lastTime_ = 0.0, previousTime_ = 0.0;
    struct Remembered {
        int32_t id = 0;
        int64_t lastIndex = 0;
    };
    struct Entry {
        std::vector<Remembered> ids; // ascending
        int64_t touched = -1;        // the last analysed frame it was seen in
    };
    using Recent = std::unordered_map<Key, Entry, KeyHash, KeyEqual>;
    // Per water set, the ids that may still continue.
    Recent recent_;
    // Per analysed frame of the last tolerance + 2, the water sets seen in it
    // (each once), to forget the ids that can no longer continue.
    std::deque<std::vector<Recent::value_type*>> seen_;
    std::vector<CageLife> lives_;
    std::vector<int32_t> previousClosed_; // closed ids of the previous analysed frame
    std::map<int32_t, Stay> stays_; // per guest
    std::map<std::string, Residence> done_;
};

} // namespace kavet
