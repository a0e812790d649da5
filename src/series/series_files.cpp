#include "series/series_files.h"

#include "core/error.h"
#include "io/cage_table.h"
#include "io/cluster_table.h"
#include "io/lifetime_writer.h"
#include "io/series_writer.h"
#include "io/view_writer.h"

namespace kavet {

void SeriesFileNames::require(SeriesOptions& o) const
{
    o.cageRecords = !cages.empty();
    o.everyCage = !lifetimes.empty() || !guests.empty() || !view.empty();
}

std::vector<OutputSpec> SeriesFileNames::outputs(const std::vector<std::string>& columns) const
{
    std::vector<OutputSpec> wanted;
    if (!series.empty())
        for (const std::string& f : seriesFiles(series, columns))
            wanted.push_back({f, OutputKind::Series});
    for (const std::string* f : {&cages, &guests, &view, &clusters})
        if (!f->empty())
            wanted.push_back({*f, OutputKind::Series});
    if (!lifetimes.empty())
        wanted.push_back({lifetimes, OutputKind::Table});
    if (!profile.empty())
        wanted.push_back({profile, OutputKind::Series});
    return wanted;
}

std::string thermalNote(int32_t halfWidth)
{
    if (halfWidth <= 0)
        return {};
    return "thermal frames (-thermal): each row from the atoms' mean positions over " +
           std::to_string(2 * halfWidth + 1) + " frames, " + std::to_string(halfWidth) + " on each side";
}

void SeriesFileNames::checkExtensions(OptionStyle style) const
{
    const auto check = [style](const char* option, const std::string& path, std::initializer_list<const char*> known,
                               const char* formats) {
        if (path.empty())
            return;
        const std::size_t slash = path.rfind('/');
        const std::size_t dot = path.rfind('.');
        if (dot == std::string::npos || (slash != std::string::npos && dot < slash) || dot == slash + 1)
            return;
        const std::string extension = path.substr(dot);
        for (const char* k : known)
            if (extension == k)
                return;
        throw InputError("option " + optionText(style, option, {path}) + ": the file is written as " + formats +
                         ", chosen by its name, but it ends in " + extension);
    };
    check("ot", series, {".csv", ".xvg"}, "CSV (.csv) or GROMACS .xvg");
    check("ocages", cages, {".csv", ".jsonl"}, "CSV (.csv) or JSON lines (.jsonl)");
    check("oclusters", clusters, {".csv"}, "CSV (.csv)");
    check("olife", lifetimes, {".csv"}, "CSV (.csv)");
    check("oguests", guests, {".csv"}, "CSV (.csv)");
    check("oview", view, {".xyz", ".extxyz"}, "extended XYZ (.xyz or .extxyz)");
    check("oprofile", profile, {".csv"}, "CSV (.csv)");
}

SeriesFiles::SeriesFiles(const SeriesRun& run, const SeriesFileNames& names, OutputGuard* guard)
    : names_(names), columns_(run.columns()), guestAtoms_(run.guestAtoms()),
      outputs_(names.outputs(columnNames(run.columns())),
               {run.options().structure, run.options().trajectory, run.options().indexFile}, guard)
{
    const SeriesFileNames& n = names_;
    if (!n.series.empty()) {
        series_ = std::make_unique<SeriesWriter>(n.series, columnNames(columns_), &outputs_,
                                                 thermalNote(run.options().thermalHalf));
        // Files named after the series go beside a regular file only, not
        // beside /dev/null.
        if (outputs_.descriptor(typeFileFor(n.series)) >= 0)
            types_ = std::make_unique<TypeWriter>(typeFileFor(n.series), &outputs_);
    }
    if (!n.cages.empty())
        cages_ = std::make_unique<CageTableWriter>(n.cages, &outputs_);
    if (!n.guests.empty())
        guests_ = std::make_unique<GuestTableWriter>(n.guests, &outputs_);
    if (!n.view.empty())
        view_ = std::make_unique<ViewWriter>(n.view, &outputs_);
    if (!n.profile.empty())
        profile_ = std::make_unique<ProfileWriter>(n.profile, n.profileAxis, &outputs_);
    if (!n.clusters.empty())
        clusters_ = std::make_unique<ClusterTableWriter>(n.clusters, &outputs_);
    outputs_.endFrame(-1);
}

SeriesFiles::~SeriesFiles() = default;

void SeriesFiles::frame(const SeriesFrame& in, const SeriesRow& row, const FollowedFrame& followed)
{
    const FrameIds& ids = followed.ids;
    const std::string time = formatValue(SeriesColumn::Time, in.time);
    outputs_.beginFrame();
    if (series_) {
        std::vector<std::string> text;
        for (const SeriesColumn& c : columns_)
            text.push_back(formatValue(c, c.value(row)));
        series_->row(text);
        if (types_)
            types_->frame(in.number, text[1], row.closedTypes, row.defectiveTypes);
    }
    if (cages_)
        cages_->frame(in.number, row.cages, ids.ids);
    if (guests_)
        guests_->frame(in.number, in.time, guestAtoms_, ids.guestCage);
    if (clusters_)
        clusters_->frame(in.number, time, row.clusterTable, clusterIds(row.cages, ids.ids, row.clusterTable.size()));
    if (view_)
        view_->frame(in.number, in.time, in.frame, row.cages, row.chill.label, ids.ids, viewReals(row));
    if (profile_)
        profile_->frame(in.number, time, in.frame, row.cages, row.chill.label);
    outputs_.endFrame(in.number);
}

void SeriesFiles::finish(const SeriesRun& run)
{
    // Rows are final only now; a run that analysed no frame leaves the
    // previous table as it was.
    if (!names_.lifetimes.empty() && run.framesAnalysed() > 0)
        outputs_.replace(names_.lifetimes, lifetimeTable(run.tracker()));
    outputs_.commit();
}

} // namespace kavet
