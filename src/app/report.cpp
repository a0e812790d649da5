#include "app/report.h"

#include <algorithm>
#include <cstdio>
#include <ctime>
#include <new>

namespace kavet {

void printText(const std::string& text)
{
    std::fputs(text.c_str(), stdout);
    std::fflush(stdout);
}

void printHeading(const char* text)
{
    std::printf("%s\n", text);
    std::fflush(stdout);
}

void printCount(const char* label, long long value)
{
    std::printf("%s%lld\n", label, value);
    std::fflush(stdout);
}

void printTiming(const char* heading, double seconds)
{
    std::printf("%s%g\n", heading, seconds);
    std::fflush(stdout);
}

TableFigures figures1(long long size, long long capacity)
{
    TableFigures f;
    f.levels = 1;
    f.size[0] = size;
    f.capacity[0] = capacity;
    return f;
}

TableFigures figures2(long long size, long long capacity, long long innerSize, long long innerCapacity)
{
    TableFigures f = figures1(size, capacity);
    f.levels = 2;
    // An empty outer table has no first entry to describe.
    f.size[1] = size > 0 ? innerSize : 0;
    f.capacity[1] = size > 0 ? innerCapacity : 0;
    return f;
}

TableFigures figures3(long long size, long long capacity, long long innerSize, long long innerCapacity,
                      long long innermostSize, long long innermostCapacity)
{
    TableFigures f = figures2(size, capacity, innerSize, innerCapacity);
    f.levels = 3;
    f.size[2] = f.size[1] > 0 ? innermostSize : 0;
    f.capacity[2] = f.size[1] > 0 ? innermostCapacity : 0;
    return f;
}

long long bitCapacity(long long bits)
{
    return 32 * ((bits + 31) / 32);
}

void printTable(const char* label, const TableFigures& f)
{
    std::printf("%s", label);
    switch (f.levels) {
    case 1:
        std::printf("size=%5lld            capacity=%5lld\n", f.size[0], f.capacity[0]);
        break;
    case 2:
        std::printf("size=%5lld%5lld       capacity=%5lld%5lld\n", f.size[0], f.size[1], f.capacity[0],
                    f.capacity[1]);
        break;
    default:
        std::printf("size=%5lld%5lld%5lld  capacity=%5lld%5lld%5lld\n", f.size[0], f.size[1], f.size[2],
                    f.capacity[0], f.capacity[1], f.capacity[2]);
        break;
    }
    std::fflush(stdout);
}

void printSystemBlock(long long n)
{
    printHeading(">>>> System");
    printCount("     numAtom:  ", n);
    printTable("     degree:   ", figures1(n, n));
    printTable("     resName:  ", figures1(n, n));
    printTable("     atmName:  ", figures1(n, n));
    printTable("     atmXYZ:   ", figures2(n, n, 3, 3));
    printTable("     isOW:     ", figures1(n, bitCapacity(n)));
    // The bond matrix: atomCount rows of atomCount bits.
    printTable("     isEdge:   ", figures2(n, n, n, bitCapacity(n)));
}

namespace {

RingTables ringTables(long long rows, long long room, long long members)
{
    RingTables t;
    t.numNode = figures1(rows, room);
    t.distRing = figures1(rows, room);
    t.centRing = figures2(rows, room, 3, 3);
    t.normRing = figures2(rows, room, 3, 3);
    t.tangRing = figures3(rows, room, members, members, 12, 12);
    t.nearRing = figures2(rows, room, rows, rows);
    return t;
}

} // namespace

RingTables waterTables(long long water, long long ringMax)
{
    const long long w = water;
    RingTables t = ringTables(w, w, std::max(ringMax, 0LL));
    t.edgeList = figures1(4 * w, 4 * w);
    t.ringList = figures2(w, w, w, w);
    t.cageList = figures2(2 * w, 2 * w, w, w);
    t.cageNorm = figures1(2 * w, 2 * w);
    return t;
}

RingTables ringInfoTables(long long water, long long rings, long long firstRingSize, long long ringMax)
{
    RingTables t = ringTables(rings, std::max(rings, water), std::max(ringMax, 0LL));
    long long room = water;
    while (room < rings)
        room = room > 0 ? 2 * room : 1;
    t.ringList = figures2(rings, room, firstRingSize, firstRingSize);
    t.cageList = figures2(2 * rings, 2 * std::max(rings, water), rings, rings);
    return t;
}

void printRingTables(const RingTables& t, bool waterBlock)
{
    printTable("     numNode:  ", t.numNode);
    printTable("     distRing: ", t.distRing);
    printTable("     centRing: ", t.centRing);
    printTable("     normRing: ", t.normRing);
    printTable("     tangRing: ", t.tangRing);
    printTable("     nearRing: ", t.nearRing);
    if (waterBlock)
        printTable("     edgeList: ", t.edgeList);
    printTable("     ringList: ", t.ringList);
    printTable("     cageList: ", t.cageList);
    if (waterBlock)
        printTable("     cageNorm: ", t.cageNorm);
}

void printWarnings(const std::vector<std::string>& warnings)
{
    for (std::size_t k = 0; k < warnings.size() && k < warningsShown; ++k)
        std::fprintf(stderr, " !!! Warning !!! %s\n", warnings[k].c_str());
    if (warnings.size() > warningsShown)
        std::fprintf(stderr, " !!! Warning !!! ... and %zu more such warnings\n", warnings.size() - warningsShown);
    std::fflush(stderr);
}

std::string failureText(const std::string& what)
{
    return "\n!!! ERROR !!! " + what + "\n\n";
}

std::string failureMessage(const std::exception_ptr& failure)
{
    try {
        std::rethrow_exception(failure);
    } catch (const std::bad_alloc&) {
        return "out of memory";
    } catch (const std::exception& e) {
        return e.what();
    }
}

void printFailure(const std::string& what)
{
    printText(failureText(what));
}

long long clockMilliseconds()
{
    return static_cast<long long>(std::clock()) / (CLOCKS_PER_SEC / 1000);
}

double secondsSince(long long startMilliseconds)
{
    return static_cast<double>(clockMilliseconds() - startMilliseconds) * 0.001;
}

} // namespace kavet
