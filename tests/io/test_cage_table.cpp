// The per-cage table in both of its forms, byte for byte.
#include <gtest/gtest.h>

#include "io/cage_table.h"
#include "support/support.h"

namespace kavet {
namespace {

TEST(CageTable, CsvAndJsonLinesRows)
{
    CageRecord closed;
    closed.id = 1;
    closed.type = "5^12";
    closed.closed = true;
    closed.centre = {1.23456, -0.5, 24.0};
    closed.faces = 12;
    closed.waters = {1, 4, 7};
    closed.rings = {3, 1, 2};
    closed.guests = {1105};
    closed.cluster = 1;
    CageRecord open;
    open.id = 2;
    open.type = "5^2";
    open.faces = 2;
    open.waters = {10};
    open.rings = {5, 6};

    const std::string dir = test::freshDirectory("cagetable");
    for (const char* name : {"/cages.csv", "/cages.jsonl"}) {
        CageTableWriter w(dir + name);
        w.frame(0, {closed}, {3});
        w.frame(7, {open}, {12});
    }
    EXPECT_EQ(test::readFile(dir + "/cages.csv"),
              "frame,cage,type,closed,cx,cy,cz,faces,waters,rings,guests,cluster,id\n"
              "0,1,5^12,1,1.235,-0.500,24.000,12,1 4 7,3 1 2,1105,1,3\n"
              "7,2,5^2,0,0.000,0.000,0.000,2,10,5 6,,0,12\n");
    EXPECT_EQ(test::readFile(dir + "/cages.jsonl"),
              "{\"frame\":0,\"cage\":1,\"type\":\"5^12\",\"closed\":true,\"cx\":1.235,\"cy\":-0.500,\"cz\":24.000,"
              "\"faces\":12,\"waters\":[1,4,7],\"rings\":[3,1,2],\"guests\":[1105],\"cluster\":1,\"id\":3}\n"
              "{\"frame\":7,\"cage\":2,\"type\":\"5^2\",\"closed\":false,\"cx\":0.000,\"cy\":0.000,\"cz\":0.000,"
              "\"faces\":2,\"waters\":[10],\"rings\":[5,6],\"guests\":[],\"cluster\":0,\"id\":12}\n");
}

} // namespace
} // namespace kavet
