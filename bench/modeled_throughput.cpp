// The loader's speed against a corvane-sim that keeps USB 2.0 time (--usb-timing), set
// against the limit of the modeled link:
//   - model checks: a bare client of the device library moves 64 MiB each way with one
//     SDRAM write header and large writes, and one SDRAM read header and large reads, so
//     that the link never waits for the host; each should come within 5 % of the limit;
//   - the updates' transfers, reported only: the bootloader's 32 writes of 512 KiB of bus
//     cycles, and a 4 MiB configuration in 1 KiB chunks (a header and a chunk each);
//   - the loader's 64 MiB "-l" and "-d", each the median of R runs. A transfer's time runs
//     from the loader's "Writing to SDRAM" or "Dumping from SDRAM" line to its wipe of the
//     bar, as the loader's output shows them (the device search and open are not part of it).
// MB means 10^6 bytes throughout. The last two lines are the loader's figures.
//
// usage: bench_modeled_throughput [--sim PATH] [--loader PATH] [--repeats R]
#include "bench/child_program.h"
#include "bench/sim_child.h"
#include "sim/usb_timing.h"

#include "ftdev.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

namespace {

using namespace corvane;
using Clock = std::chrono::steady_clock;
namespace fs = std::filesystem;

constexpr size_t image_bytes = size_t{64} << 20;
constexpr size_t large_io = size_t{8} << 20;
constexpr unsigned boot_writes = 32; // the bootloader's 512 KiB image, 16 KiB of it per write
constexpr uint8_t sdram_write = 0x10, sdram_read = 0x20, config_write = 0x70, flash_cycle = 0x90;

[[noreturn]] void fail(const std::string &why)
{
    std::fprintf(stderr, "bench_modeled_throughput: %s\n", why.c_str());
    std::exit(2);
}

double seconds_since(Clock::time_point start)
{
    return std::chrono::duration<double>(Clock::now() - start).count();
}

double median(std::vector<double> values)
{
    std::sort(values.begin(), values.end());
    size_t half = values.size() / 2;
    return values.size() % 2 ? values[half] : (values[half - 1] + values[half]) / 2;
}

void put_be32(uint8_t *out, uint32_t value)
{
    for (int i = 0; i < 4; ++i)
        out[i] = static_cast<uint8_t>(value >> (24 - 8 * i));
}

void line(const char *what, double bytes, double seconds, double limit_bytes_per_second)
{
    double rate = bytes / seconds / 1e6;
    double limit = limit_bytes_per_second / 1e6;
    std::printf("%s %.2f MB/s, %.2f MB/s link limit, ratio %.3f\n", what, rate, limit, rate / limit);
}

// The cartridge through the device library, as a program of our own would use it.
class Device {
public:
    Device()
    {
        char description[] = "Corvane USB device A";
        if (FT_OpenEx(description, FTDEV_OPEN_BY_DESCRIPTION, &handle_) != FTDEV_OK)
            fail("cannot open the cartridge through the device library");
        if (FT_SetTimeouts(handle_, 4000, 4000) != FTDEV_OK)
            fail("FT_SetTimeouts");
    }
    ~Device() { FT_Close(handle_); }

    void write(const uint8_t *data, size_t size)
    {
        while (size > 0) {
            uint32_t piece = static_cast<uint32_t>(std::min(size, large_io));
            uint32_t went = 0;
            if (FT_Write(handle_, data, piece, &went) != FTDEV_OK || went == 0)
                fail("FT_Write");
            data += went;
            size -= went;
        }
    }
    void read(uint8_t *data, size_t size)
    {
        while (size > 0) {
            uint32_t piece = static_cast<uint32_t>(std::min(size, large_io));
            uint32_t got = 0;
            if (FT_Read(handle_, data, piece, &got) != FTDEV_OK || got == 0)
                fail("FT_Read");
            data += got;
            size -= got;
        }
    }
    void header(uint8_t command, uint32_t length, uint32_t address)
    {
        uint8_t packet[10] = {command, 10};
        put_be32(packet + 2, length);
        put_be32(packet + 6, address);
        write(packet, sizeof packet);
    }

private:
    FtdevHandle handle_ = nullptr;
};

// A program run to its end; `marks` are the times its standard output had reached each
// length, read as it came.
struct Finished {
    int status = -1;
    std::string out;
    std::vector<std::pair<size_t, Clock::time_point>> marks;

    // When the output first held `text` (with `after` the search starts there); nullopt if never.
    std::optional<Clock::time_point> when(const std::string &text, size_t after = 0) const
    {
        size_t at = out.find(text, after);
        if (at == std::string::npos)
            return std::nullopt;
        for (const auto &[length, time] : marks)
            if (length >= at + text.size())
                return time;
        return std::nullopt;
    }
};

Finished run(std::vector<std::string> args)
{
    Finished finished;
    finished.status = bench::run_child(std::move(args), {}, [&](const char *piece, size_t size) {
                          finished.out.append(piece, size);
                          finished.marks.emplace_back(finished.out.size(), Clock::now());
                      }).status;
    return finished;
}

// Seconds from the loader's line that starts a transfer to its wipe of the bar.
double transfer_seconds(const Finished &run, const std::string &start_line)
{
    const std::string wipe = "\r" + std::string(79, ' ') + "\r";
    auto start = run.when(start_line);
    auto end = run.when(wipe, run.out.find(start_line));
    if (run.status != 0 || !start || !end)
        fail("the loader failed:\n" + run.out);
    return std::chrono::duration<double>(*end - *start).count();
}

std::string beside_self(const char *folder, const char *program)
{
    std::error_code error;
    fs::path self = fs::read_symlink("/proc/self/exe", error);
    return (self.parent_path().parent_path() / folder / program).string();
}

} // namespace

int main(int argc, char **argv)
{
    std::string sim_path = beside_self("sim", "corvane-sim");
    std::string loader_path = beside_self("loader", "corvane-loader");
    unsigned repeats = 3;
    for (int i = 1; i + 1 < argc; i += 2) {
        std::string option = argv[i];
        if (option == "--sim")
            sim_path = argv[i + 1];
        else if (option == "--loader")
            loader_path = argv[i + 1];
        else if (option == "--repeats")
            repeats = std::max(3u, static_cast<unsigned>(std::strtoul(argv[i + 1], nullptr, 10)));
        else
            fail("usage: bench_modeled_throughput [--sim PATH] [--loader PATH] [--repeats R (3 or more)]");
    }
    if (argc % 2 == 0)
        fail("usage: bench_modeled_throughput [--sim PATH] [--loader PATH] [--repeats R (3 or more)]");

    char pattern[] = "/tmp/corvane-bench-modeled-XXXXXX";
    if (mkdtemp(pattern) == nullptr)
        fail("mkdtemp");
    const fs::path dir = pattern;
    // The model's own limits for the cartridge's chip, as corvane-sim builds it.
    const sim::UsbTiming model(sim::link_speed_of(sim::ChipDescription{}), 2);
    const double limit_load = model.limit_out(), limit_dump = model.limit_in();
    int result = 0;
    {
        bench::SimChild sim(sim_path, dir, {}, {"--usb-timing"});
        setenv("CORVANE_VBUS", sim.socket().c_str(), 1);
        setenv("CORVANE_USB", "off", 1);
        setenv("LC_ALL", "C", 1);

        std::vector<uint8_t> image(image_bytes);
        uint32_t state = 12345;
        for (uint8_t &byte : image) {
            state = state * 1664525u + 1013904223u;
            byte = static_cast<uint8_t>(state >> 24);
        }
        std::ofstream(dir / "image.z64", std::ios::binary)
            .write(reinterpret_cast<const char *>(image.data()), static_cast<std::streamsize>(image.size()));

        double check_load = 0, check_dump = 0, boot_write = 0, config_chunks = 0;
        {
            Device device;
            auto start = Clock::now();
            device.header(sdram_write, image_bytes / 2, 0);
            device.write(image.data(), image.size());
            check_load = seconds_since(start);

            std::vector<uint8_t> back(image_bytes);
            start = Clock::now();
            device.header(sdram_read, image_bytes / 2, 0);
            device.read(back.data(), back.size());
            check_dump = seconds_since(start);
            if (back != image)
                fail("the model check's read did not give the image back");

            // The bootloader update's transfers: 32 writes, each of 512 KiB of 8-byte bus
            // cycles (here cycles to the flash controller, which only reset the flash to
            // reading).
            std::vector<uint8_t> cycles(512 * 1024);
            for (size_t at = 0; at < cycles.size(); at += 8) {
                const uint8_t cycle[8] = {flash_cycle, 8, 0x17, 0, 0, 0, 0, 0xF0};
                std::memcpy(&cycles[at], cycle, sizeof cycle);
            }
            start = Clock::now();
            for (unsigned write = 0; write < boot_writes; ++write)
                device.write(cycles.data(), cycles.size());
            boot_write = seconds_since(start);

            // A 4 MiB configuration in 1 KiB chunks, each a header and then its chunk.
            start = Clock::now();
            for (uint32_t offset = 0; offset < (4u << 20); offset += 1024) {
                device.header(config_write, 1024, offset);
                device.write(image.data() + offset, 1024);
            }
            config_chunks = seconds_since(start);
        }
        image.clear();
        image.shrink_to_fit();

        std::vector<double> load_rates, dump_rates;
        char count[32];
        std::snprintf(count, sizeof count, "%zx", image_bytes);
        for (unsigned round = 0; round < repeats; ++round) {
            Finished load = run({loader_path, "-l", (dir / "image.z64").string()});
            load_rates.push_back(image_bytes / transfer_seconds(load, " - Writing to SDRAM at") / 1e6);
            std::error_code ignored;
            fs::remove(dir / "dump.bin", ignored);
            Finished dump = run({loader_path, "-d", (dir / "dump.bin").string(), count});
            dump_rates.push_back(image_bytes / transfer_seconds(dump, " - Dumping from SDRAM at") / 1e6);
        }
        std::ifstream original(dir / "image.z64", std::ios::binary), dumped(dir / "dump.bin", std::ios::binary);
        if (!std::equal(std::istreambuf_iterator<char>(original), std::istreambuf_iterator<char>(),
                        std::istreambuf_iterator<char>(dumped), std::istreambuf_iterator<char>())) {
            std::fprintf(stderr, "bench_modeled_throughput: the dump differs from the image\n");
            result = 1;
        }

        std::printf("corvane-sim --usb-timing, the corvane's chip: 64 MiB each way; MB = 10^6 bytes\n");
        std::printf("updates, reported only:\n");
        line("  bootloader update, 32 writes of 512 KiB:", boot_writes * 512.0 * 1024, boot_write, limit_load);
        line("  firmware update, 4 MiB in 1 KiB chunks:", 4.0 * 1024 * 1024, config_chunks, limit_load);
        // Each chunk is two transfers, and each completes at a frame boundary at the earliest.
        const double frame_seconds = std::chrono::duration<double>(model.frame()).count();
        std::printf("  (two transfers per 1 KiB chunk allow at most %.2f MB/s)\n", 1024 / (2 * frame_seconds) / 1e6);
        std::printf("loader runs (median of %u):", repeats);
        for (size_t k = 0; k < load_rates.size(); ++k)
            std::printf(" -l %.2f -d %.2f;", load_rates[k], dump_rates[k]);
        std::printf("\n");
        line("model check: load", double(image_bytes), check_load, limit_load);
        line("model check: dump", double(image_bytes), check_dump, limit_dump);
        std::printf("modeled load: %.2f MB/s, %.2f MB/s link limit, ratio %.3f\n", median(load_rates), limit_load / 1e6,
                    median(load_rates) / (limit_load / 1e6));
        std::printf("modeled dump: %.2f MB/s, %.2f MB/s link limit, ratio %.3f\n", median(dump_rates), limit_dump / 1e6,
                    median(dump_rates) / (limit_dump / 1e6));
    }
    std::error_code ignored;
    fs::remove_all(dir, ignored);
    return result;
}
