#include "io/lifetime_writer.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <system_error>
#include <sys/stat.h>
#include <unistd.h>

#include "census/series_row.h"
#include "core/error.h"

namespace kavet {
namespace {

std::string numbers(const std::vector<int32_t>& list)
{
    std::string s;
    for (std::size_t k = 0; k < list.size(); ++k) {
        if (k > 0)
            s += ' ';
        s += std::to_string(list[k]);
    }
    return s;
}

} // namespace

std::string timeText(double time)
{
    return formatValue(SeriesColumn::Time, time);
}

std::string lifetimeTable(const CageTracker& tracker)
{
    std::string text = "id,type,first_frame,last_frame,first_time_ps,last_time_ps,frames_present,alive_at_end,"
                       "closed,first_index,last_index,run_frames,waters\n";
    const std::string runFrames = std::to_string(tracker.frames());
    for (const CageLife& c : tracker.lives()) {
        text += std::to_string(c.id) + "," + csvField(c.type) + "," + std::to_string(c.firstFrame) + "," +
                std::to_string(c.lastFrame) + "," + timeText(c.firstTime) + "," + timeText(c.lastTime) + "," +
                std::to_string(c.framesPresent) + "," + (tracker.aliveAtEnd(c) ? "1" : "0") + "," +
                (c.closed ? "1" : "0") + "," + std::to_string(c.firstIndex) + "," + std::to_string(c.lastIndex) +
                "," + runFrames + "," + numbers(c.waters) + "\n";
    }
    return text;
}

GuestTableWriter::GuestTableWriter(const std::string& path, const SeriesOutputs* outputs) : file_(path, outputs)
{
    file_.write("frame,time_ps,guest,cage_id\n");
}

void GuestTableWriter::frame(int64_t frame, double time, const std::vector<int32_t>& guests,
                             const std::vector<int32_t>& cageIds)
{
    if (cageIds.size() != guests.size())
        throw Failure("guest table: " + std::to_string(guests.size()) + " guests but " +
                      std::to_string(cageIds.size()) + " cage ids in frame " + std::to_string(frame));
    const std::string head = std::to_string(frame) + "," + timeText(time) + ",";
    std::string text;
    for (std::size_t g = 0; g < guests.size(); ++g)
        text += head + std::to_string(guests[g]) + "," + std::to_string(cageIds[g]) + "\n";
    file_.write(text);
}

} // namespace kavet
