#include "series/series_run.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <map>
#include <tuple>
#include <utility>

#include "core/error.h"
#include "io/frame_checks.h"
#include "io/gro_reader.h"
#include "io/index_groups.h"
#include "io/thermal_frames.h"
#include "io/water_hydrogens.h"
#include "order/chill.h"
#include "order/mcg.h"
#include "order/pairs.h"

namespace kavet {
namespace {

std::string number(double v)
{
    char text[64];
    std::snprintf(text, sizeof text, "%g", v);
    return text;
}

// "A (n), B (m), ..." for the `most` most common names, then how many more.
std::string commonNames(const std::map<std::string, int64_t>& counts, std::size_t most)
{
    std::vector<std::pair<std::string, int64_t>> byCount(counts.begin(), counts.end());
    std::stable_sort(byCount.begin(), byCount.end(), [](const auto& a, const auto& b) { return a.second > b.second; });
    std::string text;
    for (std::size_t k = 0; k < byCount.size() && k < most; ++k)
        text += (k ? ", " : "") + byCount[k].first + " (" + std::to_string(byCount[k].second) + ")";
    if (byCount.size() > most)
        text += " and " + std::to_string(byCount.size() - most) + " more";
    return text.empty() ? "none" : text;
}

bool isNumber(const std::string& v)
{
    char* end = nullptr;
    std::strtod(v.c_str(), &end);
    return !v.empty() && end == v.c_str() + v.size();
}

} // namespace

std::string optionText(OptionStyle style, const std::string& name, const std::vector<std::string>& values)
{
    if (style == OptionStyle::CommandLine) {
        std::string t = "-" + name;
        for (const std::string& v : values)
            t += " " + v;
        return t;
    }
    std::string t = name;
    std::replace(t.begin(), t.end(), '-', '_');
    t += "=";
    std::string list;
    for (const std::string& v : values)
        list += (list.empty() ? "" : ", ") + (isNumber(v) ? v : "'" + v + "'");
    return values.size() > 1 ? t + "(" + list + ")" : t + list;
}

bool FrameSelection::selects(double t) const
{
    const double tolerance = step ? 1e-3 * *step : 1e-6;
    if (end && t > *end + tolerance)
        return false;
    if (begin && t < *begin - tolerance)
        return false;
    if (step && std::fabs(std::remainder(t, *step)) > tolerance)
        return false;
    return true;
}

std::string emptySelectionWarning(const Frame& frame, const std::string& water, const std::string& oxygen,
                                  const std::string& file, OptionStyle style)
{
    if (frame.topology().waterCount > 0)
        return "";
    // Residues are counted once each (a run of atoms with the same residue
    // field), by their name without the number.
    std::map<std::string, int64_t> residues, atoms;
    const Topology& t = frame.topology();
    for (std::size_t i = 0; i < t.residue.size(); ++i) {
        ++atoms[t.atomName[i]];
        if (i > 0 && t.residue[i] == t.residue[i - 1])
            continue;
        const std::string& r = t.residue[i];
        ++residues[r.substr(std::min(r.find_first_not_of("0123456789"), r.size()))];
    }
    return optionText(style, "wat", {water}) + " " + optionText(style, "oxy", {oxygen}) +
           " select no water oxygen in " + file + ": its residues are " + commonNames(residues, 5) +
           ", its atom names " + commonNames(atoms, 5) + "; name the water and its oxygen with " +
           optionText(style, "wat") + " and " + optionText(style, "oxy");
}

std::string noBondWarning(const Criteria& criteria, int64_t waters, OptionStyle style)
{
    const double d = criteria.hbDistance, a = criteria.hbAngle;
    std::string text = "no hydrogen bond among the " + std::to_string(waters) + " waters with " +
                       optionText(style, "hb", {number(d), number(a)}) +
                       ": the distance is in angstrom and the angle in degrees (e.g. " +
                       optionText(style, "hb", {"3.5", "30"}) + ")";
    if (d > 0.0 && d < 1.0)
        text += "; " + number(d) + " looks like nm, which is " + number(d * 10.0) + " A";
    return text;
}

std::string growthWarning(int64_t waters, int64_t bondEnds, int32_t ringMax, OptionStyle style)
{
    if (waters <= 0)
        return "";
    const double degree = static_cast<double>(bondEnds) / static_cast<double>(waters);
    const double seconds = static_cast<double>(waters) / 368.0 * 3.0 * std::pow(8.0, static_cast<double>(ringMax) - 10.0);
    char text[512];
    // Above kMaxMeanDegree the analysis refuses the frame (denseNetworkFault).
    if (degree > 6.0 && degree <= kMaxMeanDegree)
        std::snprintf(text, sizeof text,
                      "the hydrogen-bond network has a mean degree of %.1f, far above water's 4: "
                      "the ring search may take very long (check %s)",
                      degree, optionText(style, "hb").c_str());
    else if (seconds > 60.0)
        std::snprintf(text, sizeof text,
                      "rings of up to %d members among %lld waters: the ring and cage search grows "
                      "about 8 times per member and may take %s",
                      ringMax, static_cast<long long>(waters), seconds > 3600.0 ? "hours" : "minutes");
    else
        return "";
    return text;
}

void GrowthWatch::finished(Phase phase, const Analysis& a)
{
    if (phase != Phase::Pruning || warned_.load(std::memory_order_relaxed))
        return;
    // Ring size 0: the ring size alone is judged before the first frame.
    const std::string w = growthWarning(waters_, static_cast<int64_t>(a.net.edgeList.size()), 0);
    if (!w.empty() && !warned_.exchange(true))
        say_(w + "; later frames are not reported");
}

SeriesRun::SeriesRun(SeriesOptions options, WarningSink warn)
    : options_(std::move(options)), warn_(std::move(warn)), tracker_(options_.tolerance)
{
    const auto say = [this](std::string w) {
        if (warn_)
            warn_(w);
        warnings_.push_back(std::move(w));
    };
    const SeriesOptions& o = options_;
    const OptionStyle style = o.style;
    // What the command line's scan refuses, for every other front end.
    if (o.hasGuest && o.guestName.empty())
        throw InputError("option " + optionText(style, "guest") + " takes a residue name, not an empty one");
    if ((!o.waterGroup.empty() || !o.guestGroup.empty() || !o.savedGroup.empty()) && o.indexFile.empty())
        throw InputError("the index group options (" + optionText(style, "wat-group") + ", " +
                         optionText(style, "guest-group") + ", " + optionText(style, "traj-group") +
                         ") need the index file: give it with " + optionText(style, "n"));
    if (o.frames.begin && o.frames.end && *o.frames.begin > *o.frames.end)
        throw InputError("the first time (" + optionText(style, "b", {number(*o.frames.begin)}) +
                         ") is after the last (" + optionText(style, "e", {number(*o.frames.end)}) + ")");
    if (o.frames.step && !(*o.frames.step > 0.0))
        throw InputError("the time step " + optionText(style, "dt") + " must be positive");
    if (o.tolerance < 0)
        throw InputError("the tolerance " + optionText(style, "tol") + " must be 0 or more");
    if (o.types.oxygenType > 0 && o.types.hydrogenType == 0 && !o.criteria.distanceOnly)
        throw InputError(optionText(style, "wat-type", {std::to_string(o.types.oxygenType)}) +
                         " gives the oxygens' type alone, which is one-site water: add " + optionText(style, "nohyd") +
                         ", or give the hydrogens' type as the second value");
    try {
        structure_ = readStructure(o.structure, o.water, o.oxygen, o.types, o.timestep);
    } catch (const InputError& e) {
        // The reader names the command line's options; Python has keywords.
        if (style != OptionStyle::Python)
            throw;
        std::string what = e.what();
        for (const auto& [option, keyword] :
             {std::pair<std::string, std::string>{"-wat-type OTYPE HTYPE", "wat_type=(OTYPE, HTYPE)"},
              {"-wat-type OTYPE -nohyd", "wat_type=OTYPE with nohyd=True"},
              {"-guest-type TYPE...", "guest_type=[TYPE, ...]"},
              {"-wat-type and -guest-type", "wat_type= and guest_type="},
              {"-wat, -oxy and -guest", "wat=, oxy= and guest="}})
            if (const std::size_t at = what.find(option); at != std::string::npos)
                what.replace(at, option.size(), keyword);
        throw InputError(what);
    }
    std::vector<IndexGroup> groups = o.indexFile.empty() ? std::vector<IndexGroup>{} : readIndexGroups(o.indexFile);
    if (!o.savedGroup.empty()) {
        const IndexGroup saved = findIndexGroup(groups, o.savedGroup, o.indexFile);
        structure_ = savedAtoms(structure_, saved, groups, o.water, o.oxygen);
    }
    if (!o.waterGroup.empty())
        selectWaterGroup(structure_, findIndexGroup(groups, o.waterGroup, o.indexFile), o.oxygen);
    // The structure's water table, hydrogens checked, serves every frame.
    if (o.criteria.distanceOnly)
        dropHydrogens(structure_.editTopology());
    else
        placeHydrogens(structure_, o.structure);
    if (std::string empty = emptySelectionWarning(structure_, o.water, o.oxygen, o.structure, style); !empty.empty())
        say(std::move(empty));
    reader_ = openTrajectory(o.trajectory, atoms(), o.timestep);
    if (o.thermalHalf > 0) // thermal frames (io/thermal_frames.h)
        reader_ = averageFrames(std::move(reader_), o.thermalHalf, o.trajectory, structure_.sharedTopology());
    census_.qbarDegrees = qbarDegreesWith(o.qbarDegrees);
    columns_ = seriesColumns(o.criteria, o.hasGuest, census_.qbarDegrees);
    // Guests are picked once, by the structure's residue names or a group.
    if (o.hasGuest) {
        guests_ = o.guestGroup.empty() ? selectGuests(structure_, o.guestName)
                                       : guestGroupMolecules(structure_, findIndexGroup(groups, o.guestGroup, o.indexFile));
        // The waters are the hosts: a guest name that selects them would
        // count every water as a guest of the cages it builds.
        for (std::size_t g = 0; g < guests_.firstAtom.size(); ++g)
            for (int32_t a = guests_.firstAtom[g]; a < guests_.firstAtom[g] + guests_.atomCount[g]; ++a)
                if (topology().isWaterOxygen[static_cast<std::size_t>(a)])
                    throw InputError(
                        o.guestGroup.empty()
                            ? optionText(style, "guest", {o.guestName}) + " selects the waters (residue " + o.water +
                                  "), not guests; name the guest molecules' residue, such as " +
                                  optionText(style, "guest", {"CH4"})
                            : optionText(style, "guest-group", {o.guestGroup}) + " holds waters (atom " +
                                  std::to_string(a + 1) + ", a water oxygen), not guests only; give a group of the " +
                                  "guest molecules, such as " + optionText(style, "guest-group", {"CH4"}));
        census_.guests = &guests_;
        if (guests_.firstAtom.empty() && !o.guestGroup.empty())
            say("the index group " + o.guestGroup + " (" + optionText(style, "guest-group") +
                ") holds no atom: the run counts no guests");
        if (guests_.firstAtom.empty() && o.guestGroup.empty()) {
            std::string present;
            for (const std::string& name : residueNames(structure_))
                present += (present.empty() ? "" : ", ") + name;
            say(optionText(style, "guest", {o.guestName}) + " selects no molecule in " + o.structure +
                "; its residue names are: " + present);
        }
    }
    for (int32_t atom : guests_.firstAtom)
        guestAtoms_.push_back(atom + 1);
    census_.cageRecords = o.cageRecords;
    // Cages are followed in every run (born, died); without the per-cage
    // table, records with only what the tracker reads do. Unless an output
    // shows ids, the closed cages are enough: they are matched apart from
    // the defective ones, so born, died and guest residence are the same.
    census_.cageMembers =
        o.cageRecords || o.everyCage ? CensusOptions::Members::All : CensusOptions::Members::Closed;
    // Every frame read shares the structure's topology; its positions are
    // not needed again.
    std::vector<Vec3>().swap(structure_.positions);
    sum_.assign(columns_.size(), 0.0);
    last_.assign(columns_.size(), 0.0);
    growth_ = std::make_unique<GrowthWatch>(topology().waterCount, [this](const std::string& w) {
        if (warn_)
            warn_(w);
    });
}

std::string SeriesRun::ringSizeWarning() const
{
    return growthWarning(topology().waterCount, -1, options_.criteria.ringMax, options_.style);
}

SeriesFrame SeriesRun::frameBuffer() const
{
    SeriesFrame f;
    f.frame.setTopology(structure_.sharedTopology());
    return f;
}

bool SeriesRun::skip(int64_t frames)
{
    for (int64_t k = 0; k < frames; ++k, ++next_)
        if (!reader_->skip())
            return false;
    return true;
}

bool SeriesRun::read(SeriesFrame& f, int64_t before)
{
    TrajectoryReader& reader = *reader_;
    const SeriesOptions& o = options_;
    for (;;) {
        if (before >= 0 && next_ >= before)
            return false;
        f.number = next_;
        if (f.frame.sharedTopology() != structure_.sharedTopology())
            f.frame.setTopology(structure_.sharedTopology());
        if (!reader.next(f.frame))
            return false;
        const int64_t atoms = static_cast<int64_t>(f.frame.positions.size());
        const int64_t expected = this->atoms();
        if (atoms != expected)
            throw InputError("the structure " + o.structure + " has " + std::to_string(expected) +
                             " atoms, but frame " + std::to_string(next_) + " of " + o.trajectory + " has " +
                             std::to_string(atoms) +
                             (atoms < expected && o.savedGroup.empty()
                                  ? " (for a trajectory of some atoms only, name their index group with " +
                                        optionText(o.style, "n", {"INDEX"}) + " " +
                                        optionText(o.style, "traj-group", {"GROUP"}) + ")"
                                  : std::string()));
        f.warnings = checkFrame(f.frame, o.trajectory + " frame " + std::to_string(next_));
        f.time = f.frame.hasTime ? f.frame.time : static_cast<double>(next_);
        firstTime_ = framesRead_++ == 0 ? f.time : firstTime_;
        lastTime_ = f.time;
        ++next_;
        if (o.frames.selects(f.time))
            return true;
    }
}

SeriesRow SeriesRun::analyse(const SeriesFrame& f) const
{
    const Analysis a = kavet::analyse(f.frame, options_.criteria, growth_.get());
    return seriesRow(f.number, f.time, f.frame, a, census_);
}

FollowedFrame SeriesRun::follow(const SeriesFrame& f, SeriesRow& row)
{
    FollowedFrame out;
    // Cages are matched here, in frame order, so that ids do not depend on
    // the threads.
    out.ids = tracker_.add(f.number, f.time, row.cages, guestAtoms_);
    row.born = out.ids.born;
    row.died = out.ids.died;
    // The order parameters see one image of each pair: said once per run
    // when a frame's cell is too narrow for that.
    const double reach = 2.0 * (options_.hasGuest ? McgRule{}.guestDistance : kChillCutoff);
    if (!warnedNarrow_ && narrowestWidth(f.frame.box) < reach) {
        warnedNarrow_ = true;
        char text[256];
        std::snprintf(text, sizeof text,
                      "the cell of frame %lld is %.2f A across at its narrowest; %s one image of each pair, "
                      "which needs a cell at least %.1f A across",
                      static_cast<long long>(f.number), narrowestWidth(f.frame.box),
                      options_.hasGuest ? "CHILL+ and MCG count" : "CHILL+ counts", reach);
        out.warnings.push_back(text);
    }
    // Rings that close only around the cell: a finite-size artefact, said once.
    if (!warnedWrapping_ && row.wrappingRings > 0) {
        warnedWrapping_ = true;
        out.warnings.push_back(wrappingRingWarning(f.number, row.wrappingRings, f.frame.box));
    }
    if (!warnedNoBond_ && row.hbonds == 0 && row.waters > 0) {
        warnedNoBond_ = true;
        out.warnings.push_back("frame " + std::to_string(f.number) + " (t = " +
                               formatValue(SeriesColumn::Time, f.time) +
                               " ps): " + noBondWarning(options_.criteria, row.waters, options_.style) +
                               "; later frames without bonds are not reported");
    }
    for (std::size_t c = 0; c < columns_.size(); ++c) {
        last_[c] = columns_[c].value(row);
        sum_[c] += last_[c];
    }
    ++analysed_;
    return out;
}

SeriesSummary SeriesRun::summary() const
{
    SeriesSummary s;
    s.frames = analysed_;
    s.last = last_;
    for (double v : sum_)
        s.mean.push_back(analysed_ > 0 ? v / static_cast<double>(analysed_) : 0.0);
    return s;
}

void SeriesRun::requireFrames() const
{
    if (analysed_ > 0)
        return;
    const SeriesOptions& o = options_;
    std::string selection;
    for (const auto& [value, name] : {std::tuple{o.frames.begin, "b"}, std::tuple{o.frames.end, "e"},
                                      std::tuple{o.frames.step, "dt"}}) {
        if (!value)
            continue;
        if (!selection.empty())
            selection += ' ';
        selection += optionText(o.style, name, {number(*value)});
    }
    if (selection.empty() || framesRead_ == 0)
        throw InputError("no frame analysed: " + o.trajectory + " holds no frame");
    throw InputError("no frame analysed: " + selection + " selects none of the " + std::to_string(framesRead_) +
                     (framesRead_ == 1 ? " frame" : " frames") + " read from " + o.trajectory + " (t = " +
                     formatValue(SeriesColumn::Time, firstTime_) + " to " + formatValue(SeriesColumn::Time, lastTime_) +
                     " ps)" + "; the series holds its header only");
}

} // namespace kavet
