#include "io/cluster_table.h"

#include <cstdio>

#include "census/series_row.h"
#include "core/error.h"

namespace kavet {

std::string clusterTableHeader()
{
    std::string h = "frame,time_ps,cluster,cages";
    for (const char* t : commonCageTypes)
        h += std::string(",") + t;
    return h + ",other,occupied,guests,waters,x,y,z,rg,spans";
}

ClusterTableWriter::ClusterTableWriter(const std::string& path, const SeriesOutputs* outputs) : file_(path, outputs)
{
    file_.write(clusterTableHeader() + "\n");
}

void ClusterTableWriter::frame(int64_t frame, const std::string& time, const std::vector<ClusterRecord>& clusters,
                               const std::vector<int32_t>& ids)
{
    if (ids.size() != clusters.size())
        throw Failure("cluster table: " + std::to_string(clusters.size()) + " clusters but " +
                      std::to_string(ids.size()) + " ids in frame " + std::to_string(frame));
    std::string text;
    char buf[160];
    for (std::size_t k = 0; k < clusters.size(); ++k) {
        const ClusterRecord& c = clusters[k];
        std::snprintf(buf, sizeof buf, "%lld,", static_cast<long long>(frame));
        text += buf;
        text += time;
        std::snprintf(buf, sizeof buf, ",%d,%lld", ids[k], static_cast<long long>(c.cages));
        text += buf;
        int64_t common = 0;
        for (const char* t : commonCageTypes) {
            const auto it = c.types.find(t);
            const int64_t n = it == c.types.end() ? 0 : it->second;
            common += n;
            std::snprintf(buf, sizeof buf, ",%lld", static_cast<long long>(n));
            text += buf;
        }
        std::snprintf(buf, sizeof buf, ",%lld,%lld,%lld,%lld,%.3f,%.3f,%.3f,%.3f,%d\n",
                      static_cast<long long>(c.cages - common), static_cast<long long>(c.occupied),
                      static_cast<long long>(c.guests), static_cast<long long>(c.waters), c.centre.x, c.centre.y,
                      c.centre.z, c.rg, c.spans);
        text += buf;
    }
    file_.write(text);
}

} // namespace kavet
