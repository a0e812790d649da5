#include "support/gmx_reference.h"

#include <gromacs/fileio/oenv.h>
#include <gromacs/fileio/trxio.h>
#include <gromacs/trajectory/trajectoryframe.h>

namespace kavet::test {

std::vector<GmxReferenceFrame> readWithGromacs(const std::string& path)
{
    std::vector<GmxReferenceFrame> frames;
    gmx_output_env_t* oenv = nullptr;
    output_env_init_default(&oenv);
    t_trxstatus* status = nullptr;
    t_trxframe fr{};
    bool more = read_first_frame(oenv, &status, path.c_str(), &fr, TRX_READ_X);
    while (more) {
        GmxReferenceFrame f;
        if (fr.bX)
            f.x.assign(&fr.x[0][0], &fr.x[0][0] + 3 * fr.natoms);
        for (int i = 0; i < 9; ++i)
            f.box[i] = fr.box[i / 3][i % 3];
        f.time = fr.time;
        f.step = fr.step;
        frames.push_back(std::move(f));
        more = read_next_frame(oenv, status, &fr);
    }
    close_trx(status);
    done_frame(&fr);
    output_env_done(oenv);
    return frames;
}

} // namespace kavet::test
