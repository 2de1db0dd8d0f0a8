#include "loader/image_file.h"

#include "loader/console.h"
#include "loader/fail.h"

#include <cstdint>
#include <cstring>

namespace corvane::loader {

namespace {

[[noreturn]] void fail_open()
{
    print("\n\n *** Couldn't open file\n");
    fail_now(FAIL_OPEN_FILE);
}

} // namespace

const char *displayed_name(const char *file_name)
{
    const char *backslash = std::strrchr(file_name, '\\');
    const char *slash = std::strrchr(file_name, '/');
    const char *last = backslash > slash ? backslash : slash;
    return last != nullptr ? last + 1 : file_name;
}

void open_image_file(RunState &state)
{
    print(" - Opening file %s ", displayed_name(state.file_name));
    bool dumping = (state.mode & MODE_DUMP) != 0;
    state.image = std::fopen(state.file_name, dumping ? "wb" : "rb");
    if (state.image == nullptr)
        fail_open();

    if (std::fseek(state.image, 0, SEEK_END) != 0)
        fail_open();
    if (!dumping) {
        long length = std::ftell(state.image);
        // The transfer size is a signed 32-bit count; a longer file would wrap around
        // into a wrong (or negative) size.
        if (length < 0 || length > INT32_MAX) {
            print("\n\n *** The file is too large (%ld bytes)\n", length);
            fail_now(FAIL_OPEN_FILE);
        }
        state.transfer_size = static_cast<int32_t>(length);
    }
    if (std::fseek(state.image, 0, SEEK_SET) != 0)
        fail_open();
    print("(%d bytes)\n", state.transfer_size);
}

void close_image_file(RunState &state)
{
    if (state.image == nullptr)
        return;
    bool dumping = (state.mode & MODE_DUMP) != 0;
    // Buffered bytes of a dump reach the disk only here: a failure is a lost dump.
    if (std::fclose(state.image) != 0 && dumping) {
        state.image = nullptr;
        print("\n *** Couldn't write the file\n");
        fail_now(FAIL_DUMP);
    }
    state.image = nullptr;
}

} // namespace corvane::loader
