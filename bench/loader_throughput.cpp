// corvane-loader's own speed against the transport under it, side by side in one run:
//   - the bare rate: the same SDRAM write and read commands (header, then 512 KiB pieces)
//     sent straight through the virtual bus client to corvane-sim's cartridge, no driver
//     and no device library in between;
//   - the loader: "-l" of an image and "-d" of it back (into a new file, and into
//     /dev/null), each as a whole process, with the MB/sec the loader itself reports for
//     the load and the process's wall-clock time, each set against the bare rate
//     measured just before it;
//   - the time of runs that move one word (finding, opening and closing the device,
//     which do not grow with the image), and the loader's peak resident memory, which
//     must not grow with the image either.
//
// usage: bench_loader_throughput [--sim PATH] [--loader PATH] [--mebibytes M] [--repeats R]
// The paths default to ../sim/corvane-sim and ../loader/corvane-loader beside this
// program's folder; M defaults to 64 (the cartridge's whole SDRAM).
#include "bench/child_program.h"
#include "bench/sim_child.h"
#include "wire/ftdi_protocol.h"
#include "usb/transport.h"
#include "usb/vbus/client.h"

#include <algorithm>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <memory>
#include <string>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

namespace {

using namespace corvane;
using Clock = std::chrono::steady_clock;
namespace fs = std::filesystem;

constexpr size_t chunk_bytes = 0x80000;
constexpr unsigned timeout_ms = 4000;

[[noreturn]] void fail(const std::string &why)
{
    std::fprintf(stderr, "bench_loader_throughput: %s\n", why.c_str());
    std::exit(2);
}

double seconds_since(Clock::time_point start)
{
    return std::chrono::duration<double>(Clock::now() - start).count();
}

// A program run to its end with its standard output captured; the environment is this
// process's own plus `environment`.
struct Finished {
    int status = -1;
    std::string out;
    double seconds = 0;
    long peak_kib = 0; // the largest resident set the program reached
};

Finished run(std::vector<std::string> args, const std::vector<std::string> &environment)
{
    Finished finished;
    auto start = Clock::now();
    bench::ChildExit exit = bench::run_child(std::move(args), environment,
                                             [&](const char *piece, size_t size) { finished.out.append(piece, size); });
    finished.seconds = seconds_since(start);
    finished.peak_kib = exit.peak_kib;
    finished.status = exit.status;
    return finished;
}

using bench::SimChild;

void put_be32(uint8_t *out, uint32_t value)
{
    for (int i = 0; i < 4; ++i)
        out[i] = static_cast<uint8_t>(value >> (24 - 8 * i));
}

std::vector<uint8_t> sdram_header(uint8_t command, uint32_t byte_offset, uint32_t bytes)
{
    std::vector<uint8_t> header(10);
    header[0] = command;
    header[1] = 10;
    put_be32(&header[2], bytes / 2);
    put_be32(&header[6], byte_offset / 2);
    return header;
}

void send_all(usb::Channel &channel, const uint8_t *data, size_t size)
{
    while (size > 0) {
        size_t went = 0;
        usb::Status status = channel.bulk_out(data, size, timeout_ms, &went);
        if (went == 0)
            fail(std::string("bulk_out: ") + usb::status_name(status));
        data += went;
        size -= went;
    }
}

double median(std::vector<double> values)
{
    std::sort(values.begin(), values.end());
    size_t half = values.size() / 2;
    return values.size() % 2 ? values[half] : (values[half - 1] + values[half]) / 2;
}

// Untimed, before each run: the file a dump writes goes, and what earlier runs wrote
// reaches the disk, so that no run pays for freeing or flushing the one before it.
void fresh_file_system(const fs::path &output)
{
    std::error_code ignored;
    fs::remove(output, ignored);
    sync();
}

// The run of median time among `repeats` runs of the program; its peak memory is the
// largest any of them reached. Any run that fails is the one returned. `output` is the
// file the program writes, if any.
Finished run_median(unsigned repeats, const std::vector<std::string> &args, const std::vector<std::string> &environment,
                    const fs::path &output = {})
{
    std::vector<Finished> runs;
    long peak = 0;
    for (unsigned round = 0; round < repeats; ++round) {
        if (!output.empty())
            fresh_file_system(output);
        runs.push_back(run(args, environment));
        if (runs.back().status != 0)
            return runs.back();
        peak = std::max(peak, runs.back().peak_kib);
    }
    std::sort(runs.begin(), runs.end(), [](const Finished &a, const Finished &b) { return a.seconds < b.seconds; });
    Finished middle = runs[runs.size() / 2];
    middle.peak_kib = peak;
    return middle;
}

// MiB/s of the SDRAM write and read of `total` bytes straight through the transport.
std::pair<double, double> bare_rates(const std::string &socket, const std::vector<uint8_t> &image)
{
    auto transport = usb::make_vbus_client(socket);
    std::vector<usb::DeviceIdentity> devices;
    if (transport->list(devices) != usb::Status::ok || devices.empty())
        fail("the virtual bus lists no device");
    std::unique_ptr<usb::Channel> channel;
    if (transport->open(devices[0].id, 1, channel) != usb::Status::ok)
        fail("cannot claim the cartridge's channel A");
    const size_t packet = devices[0].packet_size;
    const double mebibytes = static_cast<double>(image.size()) / (1 << 20);

    auto write_image = [&] {
        for (size_t offset = 0; offset < image.size(); offset += chunk_bytes) {
            size_t piece = std::min(chunk_bytes, image.size() - offset);
            std::vector<uint8_t> header =
                sdram_header(0x10, static_cast<uint32_t>(offset), static_cast<uint32_t>(piece));
            send_all(*channel, header.data(), header.size());
            send_all(*channel, image.data() + offset, piece);
        }
    };
    // The first pass pays for the simulator's first touch of its SDRAM file; the loader
    // later finds those pages warm, so only the second pass is timed.
    write_image();
    auto start = Clock::now();
    write_image();
    double write_rate = mebibytes / seconds_since(start);

    // Reads come as whole packets, each led by the chip's two status bytes.
    std::vector<uint8_t> raw(packet * (chunk_bytes / (packet - usb::ftdi::status_bytes) + 2));
    std::vector<uint8_t> back(image.size());
    start = Clock::now();
    for (size_t offset = 0; offset < image.size(); offset += chunk_bytes) {
        size_t piece = std::min(chunk_bytes, image.size() - offset);
        std::vector<uint8_t> header = sdram_header(0x20, static_cast<uint32_t>(offset), static_cast<uint32_t>(piece));
        send_all(*channel, header.data(), header.size());
        size_t received = 0;
        while (received < piece) {
            size_t got = 0;
            usb::Status status = channel->bulk_in(raw.data(), raw.size(), timeout_ms, &got);
            if (status != usb::Status::ok && status != usb::Status::timeout)
                fail(std::string("bulk_in: ") + usb::status_name(status));
            for (size_t at = 0; at < got; at += packet) {
                size_t end = std::min(got, at + packet);
                size_t payload = std::min(end - std::min(end, at + usb::ftdi::status_bytes), piece - received);
                std::memcpy(back.data() + offset + received, raw.data() + at + usb::ftdi::status_bytes, payload);
                received += payload;
            }
            if (got == 0 && status == usb::Status::timeout)
                fail("the bare read timed out");
        }
    }
    double read_rate = mebibytes / seconds_since(start);
    if (back != image)
        fail("the bare read did not give the image back");
    return {write_rate, read_rate};
}

// bare_rates in a child process that reads the image from `image_file`: a forked program
// starts with its parent's resident set as its peak and keeps it across exec, so the
// image must never be in this process's memory while the loader runs.
std::pair<double, double> bare_rates_apart(const std::string &socket, const fs::path &image_file)
{
    int out[2];
    if (pipe(out) != 0)
        fail("pipe");
    pid_t pid = fork();
    if (pid < 0)
        fail("fork");
    if (pid == 0) {
        close(out[0]);
        std::ifstream file(image_file, std::ios::binary);
        std::vector<uint8_t> image((std::istreambuf_iterator<char>(file)), std::istreambuf_iterator<char>());
        std::pair<double, double> rates = bare_rates(socket, image);
        double sent[2] = {rates.first, rates.second};
        _exit(write(out[1], sent, sizeof sent) == static_cast<ssize_t>(sizeof sent) ? 0 : 2);
    }
    close(out[1]);
    double got[2] = {};
    ssize_t length = read(out[0], got, sizeof got);
    close(out[0]);
    int status = 0;
    waitpid(pid, &status, 0);
    if (length != static_cast<ssize_t>(sizeof got) || !WIFEXITED(status) || WEXITSTATUS(status) != 0)
        fail("the bare transfers failed");
    return {got[0], got[1]};
}

std::string beside_self(const char *folder, const char *program)
{
    std::error_code error;
    fs::path self = fs::read_symlink("/proc/self/exe", error);
    return (self.parent_path().parent_path() / folder / program).string();
}

// The loader's own "(%.2f MB/sec)", or -1 when it printed none.
double reported_rate(const std::string &out)
{
    size_t at = out.find(" - Completed in ");
    if (at == std::string::npos)
        return -1;
    double seconds = 0, rate = 0;
    if (std::sscanf(out.c_str() + at, " - Completed in %lf seconds (%lf MB/sec)", &seconds, &rate) != 2)
        return -1;
    return rate;
}

} // namespace

int main(int argc, char **argv)
{
    std::string sim_path = beside_self("sim", "corvane-sim");
    std::string loader_path = beside_self("loader", "corvane-loader");
    size_t mebibytes = 64;
    unsigned repeats = 5;
    for (int i = 1; i + 1 < argc; i += 2) {
        std::string option = argv[i];
        if (option == "--sim")
            sim_path = argv[i + 1];
        else if (option == "--loader")
            loader_path = argv[i + 1];
        else if (option == "--mebibytes")
            mebibytes = std::strtoul(argv[i + 1], nullptr, 10);
        else if (option == "--repeats")
            repeats = std::max(1u, static_cast<unsigned>(std::strtoul(argv[i + 1], nullptr, 10)));
        else
            fail("usage: bench_loader_throughput [--sim PATH] [--loader PATH] [--mebibytes M] [--repeats R]");
    }
    if (mebibytes == 0 || mebibytes > 64)
        fail("--mebibytes takes 1 to 64 (the cartridge's SDRAM)");

    char pattern[] = "/tmp/corvane-bench-loader-XXXXXX";
    if (mkdtemp(pattern) == nullptr)
        fail("mkdtemp");
    fs::path dir = pattern;
    int result = 0;
    {
        SimChild sim(sim_path, dir);
        {
            std::vector<uint8_t> image(mebibytes << 20);
            uint32_t state = 12345;
            for (uint8_t &byte : image) {
                state = state * 1664525u + 1013904223u;
                byte = static_cast<uint8_t>(state >> 24);
            }
            std::ofstream(dir / "image.z64", std::ios::binary)
                .write(reinterpret_cast<const char *>(image.data()), static_cast<std::streamsize>(image.size()));
        }
        const size_t image_size = mebibytes << 20;
        std::vector<std::string> environment = {"CORVANE_VBUS=" + sim.socket(), "CORVANE_USB=off", "LC_ALL=C"};
        char count[32];
        std::snprintf(count, sizeof count, "%zx", image_size);

        // Each round measures the bare rates and then the loader runs, and each loader
        // figure is set against the bare rate of its own round: this machine's speed drifts
        // too much from one round to the next for figures of different rounds to be set
        // against each other. The medians over the rounds are shown.
        struct Series {
            std::vector<double> rates, ratios;
            void add(double rate, double baseline)
            {
                rates.push_back(rate);
                ratios.push_back(rate / baseline);
            }
        };
        Series bare_write, bare_read, load_own, load_whole, dump_whole, dump_null_whole;
        long load_peak = 0, dump_peak = 0;
        const double size = static_cast<double>(mebibytes);
        for (unsigned round = 0; round < repeats; ++round) {
            auto [write_rate, read_rate] = bare_rates_apart(sim.socket(), dir / "image.z64");
            bare_write.add(write_rate, write_rate);
            bare_read.add(read_rate, read_rate);
            Finished load = run({loader_path, "-l", (dir / "image.z64").string()}, environment);
            fresh_file_system(dir / "dump.bin");
            Finished dump = run({loader_path, "-d", (dir / "dump.bin").string(), count}, environment);
            // The same dump into /dev/null: the bare read writes no file either, and a
            // fresh 64 MiB file costs the file system about as much as the whole transfer.
            Finished dump_null = run({loader_path, "-d", "/dev/null", count}, environment);
            if (load.status != 0 || dump.status != 0 || dump_null.status != 0)
                fail("the loader failed:\n" + load.out + dump.out + dump_null.out);
            load_own.add(reported_rate(load.out), write_rate);
            load_whole.add(size / load.seconds, write_rate);
            dump_whole.add(size / dump.seconds, read_rate);
            dump_null_whole.add(size / dump_null.seconds, read_rate);
            load_peak = std::max(load_peak, load.peak_kib);
            dump_peak = std::max(dump_peak, dump.peak_kib);
        }
        std::ofstream(dir / "word.z64", std::ios::binary).write("\x12\x34", 2);
        Finished load_word = run_median(repeats, {loader_path, "-l", (dir / "word.z64").string()}, environment);
        Finished dump_word =
            run_median(repeats, {loader_path, "-d", (dir / "word.bin").string(), "2"}, environment, dir / "word.bin");
        if (load_word.status != 0 || dump_word.status != 0)
            fail("the loader failed on one word:\n" + load_word.out + dump_word.out);

        std::ifstream original(dir / "image.z64", std::ios::binary);
        std::vector<uint8_t> image((std::istreambuf_iterator<char>(original)), std::istreambuf_iterator<char>());
        std::ifstream dumped(dir / "dump.bin", std::ios::binary);
        std::vector<uint8_t> back((std::istreambuf_iterator<char>(dumped)), std::istreambuf_iterator<char>());
        if (back != image) {
            std::fprintf(stderr, "bench_loader_throughput: the dump differs from the image\n");
            result = 1;
        }

        std::printf("%zu MiB through corvane-sim, median of %u rounds     MiB/s   vs bare of its round\n", mebibytes,
                    repeats);
        auto row = [](const char *what, Series &series) {
            std::printf("  %-34s %8.1f   %5.2f\n", what, median(series.rates), median(series.ratios));
        };
        row("bare transport, SDRAM write", bare_write);
        row("bare transport, SDRAM read", bare_read);
        row("loader -l, its own report", load_own);
        row("loader -l, whole process", load_whole);
        row("loader -d, whole process", dump_whole);
        row("loader -d to /dev/null, whole", dump_null_whole);
        // Finding, opening and closing the device, which do not grow with the image.
        std::printf("  a run that moves one word: -l %.3f s, -d %.3f s\n", load_word.seconds, dump_word.seconds);
        std::printf("  loader -l, peak memory             %8.2f MiB (limit 8)\n", load_peak / 1024.0);
        std::printf("  loader -d, peak memory             %8.2f MiB\n", dump_peak / 1024.0);
        if (load_peak > 8 * 1024) {
            std::fprintf(stderr, "bench_loader_throughput: the load took more than 8 MiB of memory\n");
            result = 1;
        }
    }
    std::error_code ignored;
    fs::remove_all(dir, ignored);
    return result;
}
