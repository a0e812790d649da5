// The console report: heading, count, table-statistics and timing lines, and
// the phase clock. Every line is written with the C stdio functions and
// flushed at once, so the report keeps program order with the degenerate
// triangle warning on standard error.
#pragma once

#include <cstdint>
#include <string>

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

// The process clock in whole milliseconds.
long long clockMilliseconds();
double secondsSince(long long startMilliseconds);

} // namespace kavet
