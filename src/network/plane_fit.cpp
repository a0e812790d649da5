#include "network/plane_fit.h"

#include <algorithm>
#include <cmath>

#include <Eigen/Dense>
#include <tbb/blocked_range.h>
#include <tbb/parallel_for.h>

namespace kavet {

bool triangleTransform(Vec3 b, Vec3 c, Transform& t)
{
    const Vec3 n{b.y * c.z - b.z * c.y, b.z * c.x - b.x * c.z, b.x * c.y - b.y * c.x};
    const float ax = std::fabs(n.x), ay = std::fabs(n.y), az = std::fabs(n.z);
    if (ax > ay && ax > az) {
        const float u = 1.0f / n.x;
        t = {0.0f, c.z * u, -c.y * u, 0.0f, -b.z * u, b.y * u, 1.0f, n.y * u, n.z * u};
    } else if (ay > az) {
        const float u = 1.0f / n.y;
        t = {-c.z * u, 0.0f, c.x * u, b.z * u, 0.0f, -b.x * u, n.x * u, 1.0f, n.z * u};
    } else if (az > 0.0f) {
        const float u = 1.0f / n.z;
        t = {c.y * u, -c.x * u, 0.0f, -b.y * u, b.x * u, 0.0f, n.x * u, n.y * u, 1.0f};
    } else {
        t.fill(0.0f);
        return false;
    }
    return true;
}

void fitRings(const Frame& atoms, float ringDeviation, RingSearch& rings, RingGeometry& geo, bool transforms)
{
    const std::size_t numRing = rings.ringList.size();
    geo.numNode.resize(numRing);
    geo.distRing.resize(numRing);
    geo.centRing.resize(numRing);
    geo.normRing.resize(numRing);
    geo.degenerateTriangles = 0;
    // Room for every ring's transforms; the rings are fitted in parallel,
    // each into its own place, and the dropped ones are compacted away below.
    // Every kept ring writes all of its transforms.
    if (transforms)
        geo.tangRing.shape(numRing, [&](std::size_t i) { return rings.ringList.size(i); });
    else
        geo.tangRing.clear();
    std::vector<uint8_t> dropped(numRing, 0);
    std::vector<int32_t> degenerate(numRing, 0);

    auto fitRange = [&](const tbb::blocked_range<std::size_t>& range) {
        // Scratch reused from ring to ring.
        std::vector<Vec3> q;
        Eigen::MatrixXd m;
        Eigen::JacobiSVD<Eigen::MatrixXd> svd;

        for (std::size_t i = range.begin(); i < range.end(); ++i) {
            const std::span<const int32_t> ring = rings.ringList[i];
            const std::size_t n = ring.size();
            geo.numNode[i] = static_cast<int8_t>(n);

            // Member offsets from member 0, unwrapped across the periodic box.
            const Vec3 p0 = atoms.positions[ring[0]];
            q.resize(n);
            Vec3 sum;
            for (std::size_t k = 0; k < n; ++k) {
                q[k] = minimumImage(atoms.positions[ring[k]], p0, atoms.box);
                sum = sum + q[k];
            }
            const double inv = 1.0 / static_cast<double>(n);
            const Vec3 mean{static_cast<float>(sum.x * inv), static_cast<float>(sum.y * inv),
                            static_cast<float>(sum.z * inv)};

            m.resize(static_cast<Eigen::Index>(n), 3);
            for (std::size_t k = 0; k < n; ++k) {
                const Vec3 d = q[k] - mean;
                m(k, 0) = d.x;
                m(k, 1) = d.y;
                m(k, 2) = d.z;
            }
            svd.compute(m, Eigen::ComputeThinV);
            const Eigen::MatrixXd& v = svd.matrixV();
            const Vec3 normal{static_cast<float>(v(0, 2)), static_cast<float>(v(1, 2)), static_cast<float>(v(2, 2))};

            float deviation = 0.0f;
            const float len = norm(normal);
            const float atMean = dot(normal, mean);
            for (std::size_t k = 0; k < n; ++k) {
                const float dist = std::fabs(dot(normal, q[k]) - atMean) / len;
                if (dist > deviation)
                    deviation = dist;
            }
            geo.distRing[i] = deviation;
            geo.normRing[i] = normal;
            if (deviation > ringDeviation) {
                dropped[i] = 1;
                continue;
            }

            const Vec3 centre = p0 + mean;
            geo.centRing[i] = centre;
            geo.normRing[i] = centre + normal;
            for (std::size_t j = 0; j < n; ++j) {
                const std::size_t j2 = j + 1 < n ? j + 1 : 0;
                const Vec3 b = minimumImage(atoms.positions[ring[j]], centre, atoms.box);
                const Vec3 c = minimumImage(atoms.positions[ring[j2]], centre, atoms.box);
                Transform scratch;
                if (!triangleTransform(b, c, transforms ? geo.tangRing.row(i)[j] : scratch))
                    ++degenerate[i];
            }
        }
    };
    tbb::parallel_for(tbb::blocked_range<std::size_t>(0, numRing, 64), fitRange);
    for (std::size_t i = 0; i < numRing; ++i)
        geo.degenerateTriangles += degenerate[i];

    // Drop the rings that are not flat enough from every per-ring table at
    // once, so ring numbers stay aligned.
    if (std::find(dropped.begin(), dropped.end(), uint8_t(1)) == dropped.end())
        return;
    std::size_t kept = 0;
    for (std::size_t i = 0; i < numRing; ++i) {
        if (dropped[i])
            continue;
        if (kept != i) {
            geo.numNode[kept] = geo.numNode[i];
            geo.distRing[kept] = geo.distRing[i];
            geo.centRing[kept] = geo.centRing[i];
            geo.normRing[kept] = geo.normRing[i];
        }
        ++kept;
    }
    for (uint8_t& d : dropped)
        d = !d;
    rings.ringList.keepRows(dropped);
    if (transforms)
        geo.tangRing.keepRows(dropped);
    geo.numNode.resize(kept);
    geo.distRing.resize(kept);
    geo.centRing.resize(kept);
    geo.normRing.resize(kept);
}

} // namespace kavet
