// The usbfs tests' main: libusb on, the virtual bus at a path where nothing listens, and
// a fine timer slack, which halves the time each emulated request takes.
#include <gtest/gtest.h>

#include <cstdlib>
#include <sys/prctl.h>
#include <unistd.h>

int main(int argc, char **argv)
{
    prctl(PR_SET_TIMERSLACK, 1UL);
    unsetenv("CORVANE_USB");
    const std::string nowhere = "/nonexistent/corvane-usbfs-" + std::to_string(getpid()) + ".sock";
    setenv("CORVANE_VBUS", nowhere.c_str(), 1);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
