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

void note_byte_order(RunState &state)
{
    uint8_t first_bytes[4];
    size_t read = std::fread(first_bytes, 1, sizeof first_bytes, state.image);
    if (std::fseek(state.image, 0, SEEK_SET) != 0)
        fail_open();
    ByteOrder order = byte_order_of(first_bytes, read);
    if (order == ByteOrder::big_endian)
        return;

    const char *name = order == ByteOrder::swapped_halves ? "byte-swapped order (.v64)" : "little-endian order (.n64)";
    int32_t word = word_size(order);
    // Part of a word cannot be turned; such a file may be no image at all.
    if (state.transfer_size % word != 0) {
        print(" - Image in %s, but not whole %d-bit words: sent as it is\n", name, static_cast<int>(word * 8));
        return;
    }
    print(" - Image in %s: sent in big-endian order (.z64)\n", name);
    state.image_order = order;
}

void close_image_file(RunState &state)
{
    if (state.image == nullptr)
        return;
    std::FILE *image = state.image;
    state.image = nullptr;
    if ((state.mode & MODE_DUMP) == 0) {
        std::fclose(image);
        return;
    }
    // Buffered bytes of a dump reach the disk only here: a failure is a lost dump. Both
    // are checked, since fclose may not report what the flush already did.
    bool flushed = std::fflush(image) == 0;
    bool closed = std::fclose(image) == 0;
    if (!flushed || !closed) {
        print("\n *** Couldn't write the file\n");
        fail_now(FAIL_DUMP);
    }
}

} // namespace corvane::loader
