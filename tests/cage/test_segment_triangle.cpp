// The line-of-sight test against one triangle of a ring's fan, at the exact
// edges of its bounds: a vertex or edge at the centre's side counts as a hit,
// the outer edge does not, and only the open segment between the ray start
// and the candidate's centre can be blocked.
#include <gtest/gtest.h>

#include "cage/occlusion.h"

namespace kavet {
namespace {

// The triangle (centre, (2,0,0), (0,2,0)) in the plane z = 0, and a segment
// falling straight down on (x, y) that crosses the plane at parameter 1/(top).
int hits(float x, float y, float top = 1.0f, float length = 2.0f)
{
    Transform t;
    EXPECT_TRUE(triangleTransform(Vec3{2, 0, 0}, Vec3{0, 2, 0}, t));
    return segmentHitsRing(&t, 1, Vec3{x, y, top}, Vec3{0, 0, -length});
}

TEST(SegmentTriangle, VerticesAndEdgesAtTheCentreCountTheOuterEdgeDoesNot)
{
    EXPECT_EQ(hits(0.5f, 0.5f), 0);
    EXPECT_EQ(hits(0.0f, 0.0f), 0);  // through the ring centre
    EXPECT_EQ(hits(1.0f, 0.0f), 0);  // along the edge centre-member j
    EXPECT_EQ(hits(0.0f, 1.0f), 0);  // along the edge centre-member j+1
    EXPECT_EQ(hits(1.0f, 1.0f), -1); // on the edge between the two members
    EXPECT_EQ(hits(2.0f, 0.0f), -1); // through member j itself
    EXPECT_EQ(hits(-0.01f, 0.5f), -1);
}

TEST(SegmentTriangle, OnlyTheOpenSegmentCanBeBlocked)
{
    EXPECT_EQ(hits(0.5f, 0.5f, 1.9f), 0);
    EXPECT_EQ(hits(0.5f, 0.5f, 2.0f), -1); // the triangle at the candidate's centre
    EXPECT_EQ(hits(0.5f, 0.5f, 3.0f), -1); // beyond the candidate
    EXPECT_EQ(hits(0.5f, 0.5f, 0.0f), -1); // at the ray start point
    EXPECT_EQ(hits(0.5f, 0.5f, -1.0f), -1); // behind the start point
    EXPECT_EQ(hits(0.5f, 0.5f, 1e-7f, 1.0f), -1); // parameter 1e-7 itself
    EXPECT_EQ(hits(0.5f, 0.5f, 2e-7f, 1.0f), 0);
}

TEST(SegmentTriangle, ParallelSegmentsAndDegenerateTrianglesNeverHit)
{
    Transform t;
    ASSERT_TRUE(triangleTransform(Vec3{2, 0, 0}, Vec3{0, 2, 0}, t));
    EXPECT_EQ(segmentHitsRing(&t, 1, Vec3{-1, 0.5f, 0}, Vec3{3, 0, 0}), -1); // in the plane: 0/0
    Transform degenerate;
    EXPECT_FALSE(triangleTransform(Vec3{1, 1, 1}, Vec3{2, 2, 2}, degenerate));
    EXPECT_EQ(segmentHitsRing(&degenerate, 1, Vec3{0, 0, 1}, Vec3{0, 0, -2}), -1);
}

} // namespace
} // namespace kavet
