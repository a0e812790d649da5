#include "census/cage_tracker.h"

#include <algorithm>

#include "core/error.h"
#include "core/hash.h"

namespace kavet {

CageTracker::CageTracker(int32_t tolerance) : tolerance_(tolerance)
{
    if (tolerance < 0)
        throw Failure("the cage tolerance must be 0 or more frames, not " + std::to_string(tolerance));
}

FrameIds CageTracker::add(int64_t frame, double time, const std::vector<CageRecord>& cages,
                          const std::vector<int32_t>& guests)
{
    // Everything is checked before anything changes, so that a frame refused
    // leaves the tracker as it was.
    if (frames_ > 0 && frame <= lastFrame_)
        throw Failure("cage tracking: frame " + std::to_string(frame) + " comes after frame " +
                      std::to_string(lastFrame_));
    std::unordered_map<int32_t, std::size_t> position; // guest -> its place in `guests`
    position.reserve(guests.size());
    for (std::size_t g = 0; g < guests.size(); ++g)
        if (!position.emplace(guests[g], g).second)
            throw Failure("cage tracking: guest " + std::to_string(guests[g]) + " given twice in frame " +
                          std::to_string(frame));
    for (std::size_t q = 0; q < cages.size(); ++q) {
        const CageRecord& c = cages[q];
        if (std::adjacent_find(c.waters.begin(), c.waters.end(), std::greater_equal<int32_t>()) != c.waters.end())
            throw Failure("cage tracking: the waters of cage " + std::to_string(q + 1) + " of frame " +
                          std::to_string(frame) + " are not in ascending order");
        if (!guests.empty() && c.closed)
            for (int32_t guest : c.guests)
                if (!position.count(guest))
                    throw Failure("cage tracking: guest " + std::to_string(guest) + " in a cage of frame " +
                                  std::to_string(frame) + " is not among the frame's guests");
    }

    const int64_t j = frames_;
    FrameIds out;
    out.ids.resize(cages.size());
    std::vector<int32_t> closedIds;
    std::vector<Recent::value_type*> seen;

    for (std::size_t q = 0; q < cages.size(); ++q) {
        const CageRecord& c = cages[q];
        const KeyView view{fnvHash(c.waters.begin(), c.waters.end()) ^ (c.closed ? 0x9e3779b97f4a7c15ull : 0),
                           c.closed, &c.waters};
        auto it = recent_.find(view);
        int32_t id = 0;
        if (it != recent_.end()) {
            // The lowest remembered id not taken in this frame and within the tolerance.
            for (Remembered& r : it->second.ids) {
                if (r.lastIndex != j && j - r.lastIndex - 1 <= tolerance_) {
                    id = r.id;
                    r.lastIndex = j;
                    break;
                }
            }
        }
        const bool isNew = id == 0;
        if (isNew) {
            id = static_cast<int32_t>(lives_.size()) + 1;
            CageLife life;
            life.id = id;
            life.type = c.type;
            life.closed = c.closed;
            life.waters = c.waters;
            life.firstFrame = frame;
            life.firstTime = time;
            life.firstIndex = j;
            lives_.push_back(std::move(life));
            if (it == recent_.end())
                it = recent_.emplace(Key{view.hash, c.closed, c.waters}, Entry()).first;
            it->second.ids.push_back({id, j}); // the largest id so far: the list stays ascending
        }
        if (it->second.touched != j) {
            it->second.touched = j;
            seen.push_back(&*it);
        }
        CageLife& life = lives_[id - 1];
        if (c.closed) {
            ++out.closed;
            closedIds.push_back(id);
            if (isNew || life.lastIndex != j - 1) {
                ++out.born;
                if (!isNew)
                    ++out.returned;
            }
        }
        life.lastFrame = frame;
        life.lastTime = time;
        life.lastIndex = j;
        ++life.framesPresent;
        out.ids[q] = id;
    }
    for (int32_t id : previousClosed_)
        if (lives_[id - 1].lastIndex != j)
            ++out.died;
    previousClosed_ = std::move(closedIds);

    // Forget the ids that can no longer continue in the next frame: those
    // last seen in frame j - tolerance - 1. Their water sets are listed
    // there, each once; a water set whose ids are all forgotten is dropped,
    // and no later list holds it.
    seen_.push_back(std::move(seen));
    if (seen_.size() == static_cast<std::size_t>(tolerance_) + 2) {
        const int64_t expired = j - tolerance_ - 1;
        for (Recent::value_type* entry : seen_.front()) {
            std::erase_if(entry->second.ids, [&](const Remembered& r) { return r.lastIndex <= expired; });
            if (entry->second.ids.empty())
                recent_.erase(recent_.find(entry->first));
        }
        seen_.pop_front();
    }

    // Guests: the cage each one is in, then its residence.
    if (!guests.empty() || !stays_.empty()) {
        auto previousCage = [&](int32_t guest) {
            const auto s = stays_.find(guest);
            return s != stays_.end() && s->second.inIndex == j - 1 ? s->second.cage : 0;
        };
        out.guestCage.assign(guests.size(), 0);
        for (std::size_t q = 0; q < cages.size(); ++q) {
            if (!cages[q].closed || guests.empty())
                continue;
            const int32_t id = out.ids[q];
            for (int32_t guest : cages[q].guests) {
                int32_t& held = out.guestCage[position.at(guest)];
                if (held == 0) {
                    held = id;
                } else {
                    const int32_t before = previousCage(guest);
                    if (held != before)
                        held = id == before ? id : std::min(held, id);
                }
            }
        }
        // A guest out of its cage (free, or missing from the frame) keeps
        // its residence open while it may still come back within the
        // tolerance; past it, the residence ends where the guest left.
        auto away = [&](Stay& stay) {
            if (stay.cage == 0)
                return;
            if (stay.inIndex == j - 1)
                stay.leftTime = time;
            if (j - stay.inIndex > tolerance_) {
                closeStay(stay, stay.leftTime);
                stay.cage = 0;
            }
        };
        for (std::size_t g = 0; g < guests.size(); ++g) {
            Stay& stay = stays_[guests[g]];
            const int32_t cage = out.guestCage[g];
            stay.lastIndex = j;
            if (cage != 0 && cage == stay.cage && j - stay.inIndex - 1 <= tolerance_) {
                stay.frames += j - stay.inIndex; // the frames away count in the residence
                stay.inIndex = j;
                continue;
            }
            away(stay);
            if (cage == 0)
                continue;
            if (stay.cage != 0)
                closeStay(stay, stay.inIndex == j - 1 ? time : stay.leftTime);
            stay.cage = cage;
            stay.frames = 1;
            stay.start = time;
            stay.inIndex = j;
        }
        for (auto& [guest, stay] : stays_)
            if (stay.lastIndex != j)
                away(stay);
    }

    previousTime_ = lastTime_;
    lastTime_ = time;
    lastFrame_ = frame;
    ++frames_;
    return out;
}

void CageTracker::closeStay(const Stay& stay, double end)
{
    Residence& r = done_[lives_[stay.cage - 1].type];
    ++r.runs;
    r.frames += stay.frames;
    r.time += end - stay.start;
}

std::map<std::string, Residence> CageTracker::residence() const
{
    std::map<std::string, Residence> all = done_;
    const double end = frames_ > 1 ? lastTime_ + (lastTime_ - previousTime_) : lastTime_;
    for (const auto& [guest, stay] : stays_) {
        if (stay.cage == 0)
            continue;
        // One away at the end left where it was last seen in its cage.
        Residence& r = all[lives_[stay.cage - 1].type];
        ++r.runs;
        r.frames += stay.frames;
        r.time += (stay.inIndex == frames_ - 1 ? end : stay.leftTime) - stay.start;
    }
    return all;
}

} // namespace kavet
