#include "loader/transfer.h"

#include "loader/console.h"
#include "loader/fail.h"
#include "loader/link.h"
#include "loader/packets.h"
#include "loader/progress.h"
#include "platform/platform.h"

#include <algorithm>

namespace corvane::loader {

namespace {

// Allocated once: nothing on the transfer path touches the heap.
uint8_t buffer_storage[TRANSFER_BUFFER_SIZE];

uint32_t in_units(uint32_t bytes, bool word_units)
{
    return word_units ? bytes / 2 : bytes;
}

} // namespace

uint8_t *transfer_buffer()
{
    return buffer_storage;
}

int32_t counted_move(uint32_t moved, int32_t chunk, bool word_units)
{
    if (moved >= static_cast<uint32_t>(chunk))
        return chunk; // the whole chunk; a padding byte is not the image's
    int32_t counted = static_cast<int32_t>(moved);
    return word_units ? counted & ~1 : counted;
}

double transfer_rate(int32_t transfer_size, double seconds)
{
    uint32_t megabytes = static_cast<uint32_t>(transfer_size) >> 20;
    if (!(seconds > 0.0))
        return 0.0;
    return megabytes / seconds;
}

void stream_file_to_device(RunState &state, const OutgoingStream &stream, int32_t total)
{
    uint8_t *buffer = transfer_buffer();
    int32_t remaining = total;
    int64_t done = 0;
    int32_t word = word_size(stream.order);

    while (remaining > 0) {
        // An image turned to big-endian order is read in whole words of its own order:
        // after a short write that ended inside a word, the chunk starts with the rest
        // of that word, whose bytes come from the part already sent.
        int32_t lead = static_cast<int32_t>(done % word);
        int32_t chunk = std::min(stream.chunk_limit - lead, remaining);
        // An odd chunk in word units goes with a zero byte of padding and announces the
        // rounded-up word count, so that its last byte is not lost.
        uint32_t sent = static_cast<uint32_t>(chunk);
        if (stream.word_units && (chunk & 1) != 0)
            ++sent;

        send_packet(state.device,
                    transfer_header(stream.command,
                                    in_units(static_cast<uint32_t>(state.sdram_offset), stream.word_units),
                                    in_units(sent, stream.word_units)),
                    stream.status_fail_code);

        size_t wanted = static_cast<size_t>(lead + chunk);
        if ((lead > 0 && std::fseek(state.image, -lead, SEEK_CUR) != 0) ||
            std::fread(buffer, 1, wanted, state.image) != wanted) {
            print("\n *** Couldn't read the file\n");
            fail_now(stream.read_fail_code);
        }
        // A turned image is whole words, so its chunks are even and need no padding
        // byte past the buffer.
        to_big_endian(buffer, wanted, stream.order);
        uint8_t *data = buffer + lead;
        if (sent > static_cast<uint32_t>(chunk))
            data[chunk] = 0;

        uint32_t written = 0;
        FtdevStatus status = FT_Write(state.device, data, sent, &written);
        if (status != FTDEV_OK)
            fail_now(stream.status_fail_code != 0 ? stream.status_fail_code : status);
        if (written == 0)
            fail_timed_out();

        int32_t moved = counted_move(written, chunk, stream.word_units);
        if (moved < chunk && std::fseek(state.image, moved - chunk, SEEK_CUR) != 0) {
            print("\n *** Couldn't read the file\n");
            fail_now(stream.read_fail_code);
        }
        done += moved;
        remaining -= moved;
        state.sdram_offset = advance(state.sdram_offset, moved);
        draw_progress(done, state.transfer_size);
    }
}

void load_image(RunState &state)
{
    LARGE_INTEGER frequency{};
    LARGE_INTEGER start{};
    LARGE_INTEGER end{};
    QueryPerformanceFrequency(&frequency);
    QueryPerformanceCounter(&start);

    print(" - Writing to SDRAM at 0x%X \n", static_cast<unsigned>(state.sdram_offset));
    OutgoingStream stream;
    stream.command = CMD_SDRAM_WRITE;
    stream.chunk_limit = SDRAM_CHUNK_LIMIT;
    stream.word_units = true;
    stream.status_fail_code = FAIL_LOAD;
    stream.read_fail_code = FAIL_LOAD;
    stream.order = state.image_order;
    stream_file_to_device(state, stream, state.transfer_size);

    QueryPerformanceCounter(&end);
    double elapsed_ms = 0.0;
    if (frequency.QuadPart > 0)
        elapsed_ms =
            static_cast<double>(end.QuadPart - start.QuadPart) * 1000.0 / static_cast<double>(frequency.QuadPart);
    wipe_line();
    double seconds = elapsed_ms / 1000.0;
    print(" - Completed in %.2f seconds (%.2f MB/sec)\n", seconds, transfer_rate(state.transfer_size, seconds));
}

void dump_image(RunState &state)
{
    print(" - Dumping from SDRAM at 0x%X \n", static_cast<unsigned>(state.sdram_offset));
    uint8_t *buffer = transfer_buffer();
    int32_t remaining = state.transfer_size;
    int64_t done = 0;
    // The cartridge answers whole words: an odd transfer asks for one byte more at its end,
    // which stays out of the file.
    const bool padded = (state.transfer_size & 1) != 0;
    // Of `remaining`, the bytes the headers sent so far ask for. The headers of the next
    // chunks go out before this chunk is read, so that the cartridge's answers follow each
    // other closely: a chunk's last bytes then leave the chip in full packets with the next
    // chunk's first ones, rather than alone once the chip's latency timer runs out. Two
    // chunks ahead, because a host's IN transfer may end only within the chunk after the
    // one it completes. The answers form one stream: a short read is followed by a read of
    // the rest alone.
    int32_t announced = 0;

    while (remaining > 0) {
        int32_t chunk = std::min(SDRAM_CHUNK_LIMIT, remaining);
        const int64_t ahead =
            std::min<int64_t>(remaining, int64_t{chunk} + int64_t{DUMP_CHUNKS_AHEAD} * SDRAM_CHUNK_LIMIT);
        while (announced < ahead) {
            uint32_t piece = static_cast<uint32_t>(std::min(SDRAM_CHUNK_LIMIT, remaining - announced));
            uint32_t offset = static_cast<uint32_t>(state.sdram_offset) + static_cast<uint32_t>(announced);
            send_packet(state.device, transfer_header(CMD_SDRAM_READ, offset / 2, (piece + (piece & 1u)) / 2),
                        FAIL_DUMP);
            announced += static_cast<int32_t>(piece);
        }

        uint32_t requested = static_cast<uint32_t>(chunk) + (padded && chunk == remaining ? 1u : 0u);
        uint32_t received = 0;
        if (FT_Read(state.device, buffer, requested, &received) != FTDEV_OK)
            fail_now(FAIL_DUMP);
        if (received == 0)
            fail_timed_out();

        int32_t moved = static_cast<int32_t>(std::min(received, static_cast<uint32_t>(chunk)));
        if (std::fwrite(buffer, 1, static_cast<size_t>(moved), state.image) != static_cast<size_t>(moved)) {
            print("\n *** Couldn't write the file\n");
            fail_now(FAIL_DUMP);
        }
        done += moved;
        remaining -= moved;
        announced -= moved;
        state.sdram_offset = advance(state.sdram_offset, moved);
        draw_progress(done, state.transfer_size);
    }
    wipe_line();
}

} // namespace corvane::loader
