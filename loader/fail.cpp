#include "loader/fail.h"

#include "loader/console.h"

#include <cstdlib>

namespace corvane::loader {

void fail_exit(uint32_t code)
{
    if (code != 0)
        fail_now(code);
}

void fail_now(uint32_t code)
{
    print("\n *** \n ***  FAIL: %d\n ***\n", static_cast<int>(code));
    std::exit(EXIT_FAILED);
}

void fail_timed_out()
{
    print("\n *** Timed out\n");
    print(" *** Please cycle power and try again\n");
    fail_now(FAIL_TIMED_OUT);
}

} // namespace corvane::loader
