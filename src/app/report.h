// The console report: heading, count, table-statistics and timing lines, and
// the phase clock. Every line is written with the C stdio functions and
// flushed at once, so the report keeps program order with the degenerate
// triangle warning on standard error.
#pragma once

#include <cstdint>
#include <cstddef>
#include <exception>
#include <string>
#include <vector>

namespace kavet {

void printText(const std::string& text);
void printHeading(const char* text);
void printCount(const char* label, long long value);
void printTiming(const char* heading, double seconds);

// Size and capacity of a table of up to three levels: the outer table, its
// first entry and the first entry of that.
struct TableFigures {
    int levels = 1;
    long long size[3] = {0, 0, 0};
    long long capacity[3] = {0, 0, 0};
};

TableFigures figures1(long long size, long long capacity);
TableFigures figures2(long long size, long long capacity, long long innerSize, long long innerCapacity);
TableFigures figures3(long long size, long long capacity, long long innerSize, long long innerCapacity,
                      long long innermostSize, long long innermostCapacity);
// A bit table holds whole 32-bit words.
long long bitCapacity(long long bits);

void printTable(const char* label, const TableFigures& f);

// The System block for `atomCount` atoms.
void printSystemBlock(long long atomCount);

// The figures of the per-ring tables in the Water and Ring Info blocks, as a
// simple implementation holding every table densely would show them: the
// per-ring tables reserved for W rows, then sized to the R rings found (a
// resize keeps the larger room), and ringList reserved for W rings and grown
// ring by ring, doubling its room whenever it is full.
struct RingTables {
    TableFigures numNode, distRing, centRing, normRing, tangRing, nearRing, edgeList, ringList, cageList, cageNorm;
};
RingTables waterTables(long long water, long long ringMax);
RingTables ringInfoTables(long long water, long long rings, long long firstRingSize, long long ringMax);
// The block's table lines; the Water block adds edgeList and cageNorm.
void printRingTables(const RingTables& t, bool waterBlock);

// Warnings on standard error, " !!! Warning !!! <what>": the first ten,
// then one line with the count of the rest.
inline constexpr std::size_t warningsShown = 10;
void printWarnings(const std::vector<std::string>& warnings);

// A failure as the program shows it: "\n!!! ERROR !!! <what>\n\n".
std::string failureText(const std::string& what);
// What the program says of the exception that ended a run, whatever its kind
// (an input, format or file error of the library, or any other): its message,
// or "out of memory". Every failure ends the program with status 1.
std::string failureMessage(const std::exception_ptr& failure);
void printFailure(const std::string& what);

// The process clock in whole milliseconds.
long long clockMilliseconds();
double secondsSince(long long startMilliseconds);

} // namespace kavet
