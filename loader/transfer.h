// SDRAM load and dump: the image moved in chunks of at most 512 KiB, each announced by a
// transfer header, with the progress bar redrawn after every chunk.
#ifndef CORVANE_LOADER_TRANSFER_H
#define CORVANE_LOADER_TRANSFER_H

#include "loader/byte_order.h"
#include "loader/run_state.h"

#include <cstdint>

namespace corvane::loader {

constexpr int32_t TRANSFER_BUFFER_SIZE = 0x80000;
constexpr int32_t SDRAM_CHUNK_LIMIT = 0x80000;
// A dump announces this many chunks beyond the one it reads.
constexpr int32_t DUMP_CHUNKS_AHEAD = 2;

// The one static transfer buffer of TRANSFER_BUFFER_SIZE bytes, shared with the updates.
uint8_t *transfer_buffer();

// A stream of file bytes to the cartridge: the load, and the FPGA configuration write.
struct OutgoingStream {
    uint8_t command = 0;
    int32_t chunk_limit = 0;
    bool word_units = false;                 // lengths and addresses in 16-bit words
    uint32_t status_fail_code = 0;           // FAIL code for a write status; 0: the status itself
    uint32_t read_fail_code = 0;             // FAIL code when the file cannot be read
    ByteOrder order = ByteOrder::big_endian; // the file's, from its first byte; sent big-endian
};

// Sends `total` bytes from the run's file at its current position, starting at the run's
// SDRAM offset, which is left advanced by the bytes moved. The bar's whole is the run's
// transfer size.
void stream_file_to_device(RunState &state, const OutgoingStream &stream, int32_t total);

// The bytes of a chunk that count as moved when the device moved `moved` of the `sent`
// bytes of a chunk of `chunk` image bytes (`sent` is one more with word padding). A short
// transfer in word units counts only whole words, so that the chunk resumed after it
// starts on an address the cartridge can name.
int32_t counted_move(uint32_t moved, int32_t chunk, bool word_units);

// Megabytes per second as the load reports it: whole MiB of the image over the seconds.
double transfer_rate(int32_t transfer_size, double seconds);

void load_image(RunState &state);
void dump_image(RunState &state);

} // namespace corvane::loader

#endif // CORVANE_LOADER_TRANSFER_H
