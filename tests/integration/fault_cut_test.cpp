// The cut fault end to end: a write that the device ends short, as a time-out with a
// partial count, must be resumed at the first byte that did not move. A resume that
// skipped or repeated bytes would shift the rest of the image in the SDRAM.
#include "loader_session.h"

#include <gmock/gmock.h>

namespace corvane::testing {
namespace {

using ::testing::HasSubstr;

class FaultCut : public LoaderSession {};

TEST_F(FaultCut, LoadWithItsFirstDataWriteCutShortStillEndsWithTheWholeImage)
{
    start_sim();
    std::vector<uint8_t> image = pattern_bytes(size_t{1} << 20, 101);
    write_bytes(scratch("image.z64"), image);
    // Armed before the run: the loader's command packets are shorter than the cut, so the
    // first chunk of the image is the transfer it lands on.
    ASSERT_TRUE(sim_->send_control("cut 0 1000")) << sim_->last_answer();

    ProgramResult result = run_loader({"-l", scratch("image.z64").string()});

    EXPECT_EQ(result.exit_status, 0) << result.out << result.err;
    EXPECT_THAT(result.out, HasSubstr(" - Done"));
    EXPECT_EQ(read_bytes(state_file("sdram.bin"), 0, image.size()), image);
}

TEST(SimCutOption, IsListedInTheHelpAndTakesIdColonBytes)
{
    ProgramResult help = run_program(sim_program_path(), {"--help"}, {}, "", 30);
    EXPECT_EQ(help.exit_status, 0);
    EXPECT_THAT(help.out, HasSubstr("--cut ID:BYTES"));
    EXPECT_THAT(help.out, HasSubstr("cut ID BYTES"));

    ProgramResult no_colon = run_program(sim_program_path(), {"--cut", "0"}, {}, "", 30);
    EXPECT_EQ(no_colon.exit_status, 1);
    EXPECT_THAT(no_colon.err, HasSubstr("corvane-sim: --cut 0: expected ID:BYTES"));
    ProgramResult no_device = run_program(sim_program_path(), {"--cut", "9:1000"}, {}, "", 30);
    EXPECT_EQ(no_device.exit_status, 1);
    EXPECT_THAT(no_device.err, HasSubstr("corvane-sim: fault switch: device 9"));
}

} // namespace
} // namespace corvane::testing
