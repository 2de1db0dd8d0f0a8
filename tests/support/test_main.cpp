// The main of every test program. However it is started (by ctest, by hand, from a shell
// where a simulator runs at the default address or CORVANE_VBUS names one), a test never
// reaches the user's simulator: the virtual bus address is one where nothing listens. A
// test that needs a simulator starts its own and gives its address to what it runs. Real
// USB stays out of sight unless the environment asks for it.
#include <gtest/gtest.h>

#include <cstdlib>

int main(int argc, char **argv)
{
    setenv("CORVANE_VBUS", "/nonexistent/corvane-vbus.sock", 1);
    setenv("CORVANE_USB", "off", 0);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
