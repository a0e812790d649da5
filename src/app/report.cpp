#include "app/report.h"

#include <cstdio>
#include <ctime>

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

long long clockMilliseconds()
{
    return static_cast<long long>(std::clock()) / (CLOCKS_PER_SEC / 1000);
}

double secondsSince(long long startMilliseconds)
{
    return static_cast<double>(clockMilliseconds() - startMilliseconds) * 0.001;
}

} // namespace kavet
