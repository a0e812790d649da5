#include "io/cage_table.h"

#include <cstdio>

#include "core/error.h"

namespace kavet {
namespace {

std::string numbers(const std::vector<int32_t>& list, char separator)
{
    std::string s;
    for (std::size_t k = 0; k < list.size(); ++k) {
        if (k > 0)
            s += separator;
        s += std::to_string(list[k]);
    }
    return s;
}

std::string fixed(double v)
{
    char buf[64];
    std::snprintf(buf, sizeof buf, "%.3f", v);
    return buf;
}

// A JSON string; a type holds digits, '^' and '-' only, but nothing is taken
// on trust.
std::string jsonString(const std::string& s)
{
    std::string q = "\"";
    for (unsigned char c : s) {
        if (c == '"' || c == '\\') {
            q += '\\';
            q += static_cast<char>(c);
        } else if (c < 0x20) {
            char buf[8];
            std::snprintf(buf, sizeof buf, "\\u%04x", c);
            q += buf;
        } else {
            q += static_cast<char>(c);
        }
    }
    return q + "\"";
}

bool endsWith(const std::string& s, const std::string& tail)
{
    return s.size() >= tail.size() && s.compare(s.size() - tail.size(), tail.size(), tail) == 0;
}

} // namespace

CageTableWriter::CageTableWriter(const std::string& path, const SeriesOutputs* outputs)
    : file_(path, outputs), json_(endsWith(path, ".jsonl"))
{
    if (!json_)
        file_.write("frame,cage,type,closed,cx,cy,cz,faces,waters,rings,guests,cluster,id\n");
}

void CageTableWriter::frame(int64_t frame, const std::vector<CageRecord>& cages, const std::vector<int32_t>& ids)
{
    if (ids.size() != cages.size())
        throw Failure("cage table: " + std::to_string(cages.size()) + " cages but " + std::to_string(ids.size()) +
                      " ids in frame " + std::to_string(frame));
    std::string text;
    const std::string f = std::to_string(frame);
    for (std::size_t k = 0; k < cages.size(); ++k) {
        const CageRecord& c = cages[k];
        const std::string id = std::to_string(ids[k]);
        if (json_) {
            text += "{\"frame\":" + f + ",\"cage\":" + std::to_string(c.id) + ",\"type\":" + jsonString(c.type) +
                    ",\"closed\":" + (c.closed ? "true" : "false") + ",\"cx\":" + fixed(c.centre.x) +
                    ",\"cy\":" + fixed(c.centre.y) + ",\"cz\":" + fixed(c.centre.z) +
                    ",\"faces\":" + std::to_string(c.faces) + ",\"waters\":[" + numbers(c.waters, ',') +
                    "],\"rings\":[" + numbers(c.rings, ',') + "],\"guests\":[" + numbers(c.guests, ',') +
                    "],\"cluster\":" + std::to_string(c.cluster) + ",\"id\":" + id + "}\n";
        } else {
            text += f + "," + std::to_string(c.id) + "," + c.type + "," + (c.closed ? "1" : "0") + "," +
                    fixed(c.centre.x) + "," + fixed(c.centre.y) + "," + fixed(c.centre.z) + "," +
                    std::to_string(c.faces) + "," + numbers(c.waters, ' ') + "," + numbers(c.rings, ' ') + "," +
                    numbers(c.guests, ' ') + "," + std::to_string(c.cluster) + "," + id + "\n";
        }
    }
    file_.write(text);
}

} // namespace kavet
