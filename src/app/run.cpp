#include "app/run.h"

#include <algorithm>
#include <cstdio>
#include <new>

#include "app/report.h"
#include "app/settings.h"
#include "cage/assembly.h"
#include "cage/dedup.h"
#include "io/failure.h"
#include "io/gro_reader.h"
#include "io/pdb_writer.h"
#include "network/hbond.h"
#include "network/plane_fit.h"
#include "network/ring_neighbours.h"
#include "network/ring_search.h"

namespace kavet {
namespace {

// The tables of a run, named as the report names them.
struct Tables {
    AtomTable atoms;
    Network net;
    RingSearch rings;
    RingGeometry geo;
    RingNeighbours nb;
    CageSearch cages;
    CageClasses classes;
};

long long sizeOf(const auto& v) { return static_cast<long long>(v.size()); }
long long capacityOf(const auto& v) { return static_cast<long long>(v.capacity()); }

void printSystemBlock(const Tables& t)
{
    const long long n = t.atoms.numAtom;
    printHeading(">>>> System");
    printCount("     numAtom:  ", n);
    printTable("     degree:   ", figures1(sizeOf(t.net.degree), capacityOf(t.net.degree)));
    printTable("     resName:  ", figures1(sizeOf(t.atoms.resName), capacityOf(t.atoms.resName)));
    printTable("     atmName:  ", figures1(sizeOf(t.atoms.atmName), capacityOf(t.atoms.atmName)));
    printTable("     atmXYZ:   ", figures2(sizeOf(t.atoms.atmXYZ), capacityOf(t.atoms.atmXYZ), 3, 3));
    printTable("     isOW:     ", figures1(n, bitCapacity(n)));
    // The bond matrix is held as neighbour lists; its report is that of
    // numAtom rows of numAtom bits.
    printTable("     isEdge:   ", figures2(n, n, n, bitCapacity(n)));
}

// The per-ring tables as the report shows them; `rows` is W in the Water block
// (their first shapes, with edgeList) and R in the Ring Info block. The tables
// the run holds sparsely (the triangle transforms, the neighbour codes, the
// rows of the cage lists and, in their first shape, the rows of ringList) are
// reported by the shape they stand for.
void printRingTables(const Tables& t, long long rows, long long ringMax, bool firstShapes)
{
    const long long water = t.atoms.numWater;
    const long long roomRows = std::max(rows, water);
    const long long members = std::max(ringMax, 0LL);
    printTable("     numNode:  ", figures1(sizeOf(t.geo.numNode), capacityOf(t.geo.numNode)));
    printTable("     distRing: ", figures1(sizeOf(t.geo.distRing), capacityOf(t.geo.distRing)));
    printTable("     centRing: ", figures2(sizeOf(t.geo.centRing), capacityOf(t.geo.centRing), 3, 3));
    printTable("     normRing: ", figures2(sizeOf(t.geo.normRing), capacityOf(t.geo.normRing), 3, 3));
    printTable("     tangRing: ", figures3(rows, roomRows, members, members, 12, 12));
    printTable("     nearRing: ", figures2(rows, roomRows, rows, rows));
    if (firstShapes)
        printTable("     edgeList: ", figures1(sizeOf(t.net.edgeList), capacityOf(t.net.edgeList)));
    const auto& ringList = t.rings.ringList;
    if (firstShapes) {
        printTable("     ringList: ", figures2(sizeOf(ringList), capacityOf(ringList), rows, rows));
    } else {
        const long long first = ringList.empty() ? 0 : sizeOf(ringList[0]);
        const long long firstRoom = ringList.empty() ? 0 : capacityOf(ringList[0]);
        printTable("     ringList: ", figures2(sizeOf(ringList), capacityOf(ringList), first, firstRoom));
    }
    printTable("     cageList: ", figures2(sizeOf(t.cages.cageList), capacityOf(t.cages.cageList), rows, rows));
}

// Empties a per-ring table and gives it `n` zero entries; it keeps its room.
void reshape(auto& table, std::size_t n)
{
    table.clear();
    table.resize(n);
}

int runPhases(const std::vector<std::string>& args)
{
    printText(bannerText());
    const Settings s = scanOptions(args);
    printText(settingsText(s));

    Tables t;
    t.atoms = readConfiguration(s.confFile, s.waterName, s.oxygenName);
    initNetwork(t.atoms, t.net);
    printSystemBlock(t);

    // First shapes of the analysis tables, for the Water block.
    const std::size_t w = static_cast<std::size_t>(t.atoms.numWater);
    reshape(t.geo.numNode, w);
    reshape(t.geo.distRing, w);
    reshape(t.geo.centRing, w);
    reshape(t.geo.normRing, w);
    reshape(t.net.edgeList, 4 * w);
    reshape(t.rings.ringList, w);
    reshape(t.cages.cageList, 2 * w);
    reshape(t.cages.cageNorm, 2 * w);
    printHeading(">>>> Water");
    printCount("     OW:       ", t.atoms.numWater);
    printRingTables(t, static_cast<long long>(w), s.ringMax, true);
    printTable("     cageNorm: ", figures1(sizeOf(t.cages.cageNorm), capacityOf(t.cages.cageNorm)));
    t.net.edgeList.clear();

    if (t.atoms.numAtom > 0)
        findBonds(t.atoms, s.hbDistance, s.hbAngle, t.net);
    printHeading(">>>> Node degree: ");
    printCount(">>>> Edge Size: ", sizeOf(t.net.edgeList));
    pruneEdges(t.net);
    printCount(">>>> Edge Size (degree>1): ", sizeOf(t.net.edgeList));

    const long long ringClock = clockMilliseconds();
    t.rings.ringList.clear();
    findAllRings(t.net, s.ringMin, s.ringMax, t.rings);
    std::printf(">>>> Find all Rings     Iter: %d     Time(s): %g\n", t.rings.iter, secondsSince(ringClock));
    std::fflush(stdout);
    printCount("     Ring: ", sizeOf(t.rings.ringList));
    const std::size_t numFound = t.rings.ringList.size();
    reshape(t.geo.numNode, numFound);
    reshape(t.geo.distRing, numFound);
    reshape(t.geo.centRing, numFound);
    reshape(t.geo.normRing, numFound);
    reshape(t.cages.cageList, 2 * numFound);
    printHeading(">>>> Ring Info.");
    printRingTables(t, static_cast<long long>(numFound), s.ringMax, false);

    fitRings(t.atoms, s.ringDeviation, t.rings, t.geo);
    printTiming(">>>> Fit Ring to Plane      Time(s): ", secondsSince(ringClock));
    printCount("     Ring: ", sizeOf(t.rings.ringList));
    const int32_t numRing = static_cast<int32_t>(t.rings.ringList.size());

    const long long nearClock = clockMilliseconds();
    if (numRing <= 0) {
        printHeading(">>>> No cages.");
        return 0;
    }
    findRingNeighbours(t.rings, t.geo, t.net, t.atoms.box, s.ringMax, s.hbDistance, t.nb);
    printTiming(">>>> Neighbor all Rings     Time(s): ", secondsSince(nearClock));

    writeRingFile(s.ringFile, t.atoms, t.rings, t.geo);
    printHeading(">>>> Write Rings to File");

    // Visibility is decided while the cages grow, so the occlusion phase
    // does the assembly work as well.
    const long long occlusionClock = clockMilliseconds();
    const OcclusionContext ctx =
        makeOcclusionContext(t.rings, t.geo, t.nb, t.atoms, s.cageDistance, s.cageAngle);
    assembleCages(ctx, numRing, t.cages, stdout);
    printTiming(">>>> Determin Ring Occulasion     Time(s): ", secondsSince(occlusionClock));

    const long long cageClock = clockMilliseconds();
    printTiming(">>>> Conect Rings to Cage         Time(s): ", secondsSince(cageClock));
    printCount("     Cages: ", sizeOf(t.cages.cageList));

    const long long dedupClock = clockMilliseconds();
    deduplicateCages(t.cages);
    printTiming(">>>> Deduplicate Cages            Time(s): ", secondsSince(dedupClock));
    printCount("     Cages: ", sizeOf(t.cages.cageList));

    classifyCages(t.cages, t.rings, t.geo.numNode, t.net, s.ringMin, s.ringMax, t.classes);
    const std::string census = censusText(t.classes.cageCensus);
    writeDataFile(s.dataFile, census);
    writeCageFile(s.cageFile, census, t.atoms, t.rings, t.geo, t.net, t.cages, t.classes);
    printHeading(">>>> Write Cages to File");
    return 0;
}

} // namespace

int runKavet(const std::vector<std::string>& args)
{
    try {
        return runPhases(args);
    } catch (const RunFailure& failure) {
        printText(failure.what());
    } catch (const std::bad_alloc&) {
        printText(runFailure("out of memory").what());
    } catch (const std::exception& e) {
        printText(runFailure(e.what()).what());
    }
    return 1;
}

} // namespace kavet
