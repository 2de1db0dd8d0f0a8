// What the virtual bus socket costs, side by side in one run:
//   - the round trip of one control request (FT_GetModemStatus, and a raw transport
//     control transfer) in process and through corvane-sim, against a bare
//     request-and-answer over a Unix socket pair;
//   - bulk throughput of 64 MiB through a loopback chip (a writer and a reader thread),
//     in process and through corvane-sim, by transport transfers and then by FT_Write and
//     FT_Read through the device library, against the same bytes over a bare socket pair.
//
// usage: bench_vbus_transport [--sim PATH] [--round-trips N] [--mebibytes M] [--repeats R]
// PATH defaults to ../sim/corvane-sim beside this program's folder.
#include "ftdev.h"
#include "sim/virtual_bus.h"
#include "bench/sim_child.h"
#include "wire/ftdi_protocol.h"
#include "usb/transport.h"
#include "usb/vbus/client.h"
#include "usb/vbus/inproc.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <functional>
#include <signal.h>
#include <stdexcept>
#include <string>
#include <sys/socket.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>
#include <vector>

namespace {

using namespace corvane;
using Clock = std::chrono::steady_clock;
namespace fs = std::filesystem;

[[noreturn]] void fail(const std::string &why)
{
    std::fprintf(stderr, "bench_vbus_transport: %s\n", why.c_str());
    std::exit(2);
}

using bench::SimChild;

double seconds_since(Clock::time_point start)
{
    return std::chrono::duration<double>(Clock::now() - start).count();
}

// Microseconds per call of `call`, run `count` times after a short warm-up.
double microseconds_per_call(unsigned count, const std::function<bool()> &call)
{
    for (unsigned i = 0; i < count / 20 + 1; ++i)
        if (!call())
            fail("a round trip failed during the warm-up");
    auto start = Clock::now();
    for (unsigned i = 0; i < count; ++i)
        if (!call())
            fail("a round trip failed");
    return seconds_since(start) * 1e6 / count;
}

std::unique_ptr<usb::Channel> open_first(usb::Transport &transport)
{
    std::vector<usb::DeviceIdentity> devices;
    if (transport.list(devices) != usb::Status::ok || devices.empty())
        fail(std::string(transport.name()) + ": no device listed");
    std::unique_ptr<usb::Channel> channel;
    if (transport.open(devices[0].id, 1, channel) != usb::Status::ok)
        fail(std::string(transport.name()) + ": cannot claim the device");
    return channel;
}

bool modem_status(usb::Channel &channel)
{
    uint8_t answer[2];
    uint16_t moved = 0;
    return channel.control({usb::ftdi::request_in, usb::ftdi::modem_status, 0, 1, 2}, answer, 1000, &moved) ==
               usb::Status::ok &&
           moved == 2;
}

double ft_modem_status_round_trip(const char *serial, unsigned count)
{
    FtdevHandle handle = nullptr;
    if (FT_OpenEx(const_cast<char *>(serial), FTDEV_OPEN_BY_SERIAL_NUMBER, &handle) != FTDEV_OK)
        fail(std::string("FT_OpenEx cannot open ") + serial);
    double result = microseconds_per_call(count, [&] {
        uint32_t status = 0;
        return FT_GetModemStatus(handle, &status) == FTDEV_OK;
    });
    FT_Close(handle);
    return result;
}

// The floor under any socket transport: a request of the size ours has and an answer of
// the size ours has, between two threads over a socket pair.
double bare_socket_round_trip(unsigned count)
{
    int pair[2];
    if (socketpair(AF_UNIX, SOCK_STREAM, 0, pair) != 0)
        fail("socketpair");
    constexpr size_t request_size = 12 + 4 + 12, answer_size = 12 + 4;
    std::thread echo([fd = pair[1]] {
        uint8_t request[request_size], answer[answer_size] = {};
        for (;;) {
            size_t got = 0;
            while (got < request_size) {
                ssize_t part = recv(fd, request + got, request_size - got, 0);
                if (part <= 0)
                    return;
                got += static_cast<size_t>(part);
            }
            if (send(fd, answer, answer_size, MSG_NOSIGNAL) != static_cast<ssize_t>(answer_size))
                return;
        }
    });
    double result = microseconds_per_call(count, [fd = pair[0]] {
        uint8_t request[request_size] = {}, answer[answer_size];
        if (send(fd, request, request_size, MSG_NOSIGNAL) != static_cast<ssize_t>(request_size))
            return false;
        size_t got = 0;
        while (got < answer_size) {
            ssize_t part = recv(fd, answer + got, answer_size - got, 0);
            if (part <= 0)
                return false;
            got += static_cast<size_t>(part);
        }
        return true;
    });
    shutdown(pair[0], SHUT_RDWR);
    echo.join();
    close(pair[0]);
    close(pair[1]);
    return result;
}

// The bytes the loopback writers send: `source` over and over. 251 is prime, so a byte
// lost, doubled or left in place of a status byte shows at once.
std::vector<uint8_t> loopback_source()
{
    std::vector<uint8_t> source(size_t{1} << 20);
    for (size_t i = 0; i < source.size(); ++i)
        source[i] = static_cast<uint8_t>(i % 251);
    return source;
}

// Whether `size` bytes at `data` are the stream's bytes from `offset` on. A comparison of
// whole runs, so the check costs the reader far less than the transfer it checks.
bool matches_stream(const std::vector<uint8_t> &source, size_t offset, const uint8_t *data, size_t size)
{
    while (size > 0) {
        size_t at = offset % source.size();
        size_t run = std::min(size, source.size() - at);
        if (std::memcmp(data, source.data() + at, run) != 0)
            return false;
        data += run;
        offset += run;
        size -= run;
    }
    return true;
}

// MiB/s of `total` bytes written by one thread and read back by another through a
// loopback chip; the reader strips each packet's two status bytes and checks the data.
double loopback_throughput(usb::Transport &transport, size_t total)
{
    std::vector<usb::DeviceIdentity> devices;
    transport.list(devices);
    std::unique_ptr<usb::Channel> channel = open_first(transport);
    const size_t packet = devices[0].packet_size;
    const std::vector<uint8_t> source = loopback_source();

    auto start = Clock::now();
    std::thread writer([&] {
        size_t sent = 0;
        while (sent < total) {
            size_t offset = sent % source.size();
            size_t piece = std::min(total - sent, source.size() - offset);
            size_t went = 0;
            usb::Status status = channel->bulk_out(source.data() + offset, piece, 1000, &went);
            if (status != usb::Status::ok && status != usb::Status::timeout)
                fail(std::string("bulk_out: ") + usb::status_name(status));
            sent += went;
        }
    });
    std::vector<uint8_t> buffer(packet * 128);
    size_t received = 0;
    while (received < total) {
        size_t got = 0;
        usb::Status status = channel->bulk_in(buffer.data(), buffer.size(), 1000, &got);
        if (status != usb::Status::ok && status != usb::Status::timeout)
            fail(std::string("bulk_in: ") + usb::status_name(status));
        for (size_t at = 0; at < got; at += packet) {
            size_t end = std::min(got, at + packet);
            size_t first = std::min(end, at + usb::ftdi::status_bytes);
            if (!matches_stream(source, received, buffer.data() + first, end - first))
                fail("loopback data came back wrong after byte " + std::to_string(received));
            received += end - first;
        }
    }
    writer.join();
    return total / seconds_since(start) / (1 << 20);
}

// The same through the device library: FT_Write in one thread, FT_Read in another, on the
// loopback chip with serial number `serial`.
double ft_loopback_throughput(const char *serial, size_t total)
{
    FtdevHandle handle = nullptr;
    if (FT_OpenEx(const_cast<char *>(serial), FTDEV_OPEN_BY_SERIAL_NUMBER, &handle) != FTDEV_OK)
        fail(std::string("FT_OpenEx cannot open ") + serial);
    if (FT_SetTimeouts(handle, 2000, 2000) != FTDEV_OK)
        fail("FT_SetTimeouts");
    const std::vector<uint8_t> source = loopback_source();
    auto start = Clock::now();
    std::thread writer([&] {
        size_t sent = 0;
        while (sent < total) {
            size_t offset = sent % source.size();
            auto piece = static_cast<uint32_t>(std::min(total - sent, source.size() - offset));
            uint32_t went = 0;
            if (FT_Write(handle, source.data() + offset, piece, &went) != FTDEV_OK || went == 0)
                fail("FT_Write through the loopback chip");
            sent += went;
        }
    });
    std::vector<uint8_t> buffer(size_t{1} << 20);
    size_t received = 0;
    while (received < total) {
        auto wanted = static_cast<uint32_t>(std::min(total - received, buffer.size()));
        uint32_t got = 0;
        if (FT_Read(handle, buffer.data(), wanted, &got) != FTDEV_OK || got == 0)
            fail("FT_Read through the loopback chip");
        if (!matches_stream(source, received, buffer.data(), got))
            fail("loopback data came back wrong after byte " + std::to_string(received));
        received += got;
    }
    writer.join();
    double rate = total / seconds_since(start) / (1 << 20);
    FT_Close(handle);
    return rate;
}

// The middle value (sorts `values`, so that the caller can show the range).
double median(std::vector<double> &values)
{
    std::sort(values.begin(), values.end());
    size_t half = values.size() / 2;
    return values.size() % 2 ? values[half] : (values[half - 1] + values[half]) / 2;
}

// The same stream over a socket pair, checked by its reader as the loopback readers check
// theirs, so that the two sides differ only in what carries the bytes.
double bare_socket_throughput(size_t total)
{
    int pair[2];
    if (socketpair(AF_UNIX, SOCK_STREAM, 0, pair) != 0)
        fail("socketpair");
    const std::vector<uint8_t> source = loopback_source();
    auto start = Clock::now();
    std::thread writer([&] {
        size_t sent = 0;
        while (sent < total) {
            size_t offset = sent % source.size();
            size_t piece = std::min(total - sent, source.size() - offset);
            ssize_t part = send(pair[0], source.data() + offset, piece, MSG_NOSIGNAL);
            if (part <= 0)
                fail("socket pair send");
            sent += static_cast<size_t>(part);
        }
    });
    std::vector<uint8_t> buffer(size_t{1} << 20);
    size_t received = 0;
    while (received < total) {
        ssize_t part = recv(pair[1], buffer.data(), std::min(buffer.size(), total - received), 0);
        if (part <= 0)
            fail("socket pair recv");
        if (!matches_stream(source, received, buffer.data(), static_cast<size_t>(part)))
            fail("the socket pair gave the stream back wrong");
        received += static_cast<size_t>(part);
    }
    writer.join();
    close(pair[0]);
    close(pair[1]);
    return total / seconds_since(start) / (1 << 20);
}

std::string default_sim_path()
{
    std::error_code error;
    fs::path self = fs::read_symlink("/proc/self/exe", error);
    return (self.parent_path().parent_path() / "sim" / "corvane-sim").string();
}

} // namespace

int main(int argc, char **argv)
{
    std::string sim_path = default_sim_path();
    unsigned round_trips = 20000;
    size_t mebibytes = 64;
    unsigned repeats = 7;
    for (int i = 1; i + 1 < argc; i += 2) {
        std::string option = argv[i];
        if (option == "--sim")
            sim_path = argv[i + 1];
        else if (option == "--round-trips")
            round_trips = static_cast<unsigned>(std::stoul(argv[i + 1]));
        else if (option == "--mebibytes")
            mebibytes = std::stoul(argv[i + 1]);
        else if (option == "--repeats")
            repeats = std::max(1u, static_cast<unsigned>(std::stoul(argv[i + 1])));
        else
            fail("unknown option " + option);
    }
    signal(SIGPIPE, SIG_IGN);

    std::string pattern = (fs::temp_directory_path() / "corvane-bench-XXXXXX").string();
    if (!mkdtemp(pattern.data()))
        fail("mkdtemp");
    fs::path dir = pattern;
    {
        SimChild sim(sim_path, dir, {"ft232r,serial=SIMRT1", "ft232h,serial=SIMTP1"});
        // The platform stand-in reads these when the device library first looks for devices.
        setenv("CORVANE_VBUS", sim.socket().c_str(), 1);
        setenv("CORVANE_USB", "off", 1);

        std::string error;
        fs::create_directories(dir / "inproc-rt");
        fs::create_directories(dir / "inproc-tp");
        std::unique_ptr<sim::VirtualBus> round_trip_bus = sim::VirtualBus::create(
            {*sim::parse_chip_description("ft232r,serial=INPRT1", error)}, dir / "inproc-rt", error);
        std::unique_ptr<sim::VirtualBus> throughput_bus = sim::VirtualBus::create(
            {*sim::parse_chip_description("ft232h,serial=INPTP1", error)}, dir / "inproc-tp", error);
        if (!round_trip_bus || !throughput_bus)
            fail("in-process bus: " + error);
        auto inproc_rt = usb::make_inproc_transport(*round_trip_bus);
        auto inproc_tp = usb::make_inproc_transport(*throughput_bus);
        auto client = usb::make_vbus_client(sim.socket());

        std::printf("control round trip (%u each)                 us/call   x bare socket\n", round_trips);
        double bare = bare_socket_round_trip(round_trips);
        auto row = [&](const char *what, double us) { std::printf("  %-44s %8.2f %8.1f\n", what, us, us / bare); };
        row("bare request and answer, socket pair", bare);
        {
            auto channel = open_first(*inproc_rt);
            row("transport control, in process",
                microseconds_per_call(round_trips, [&] { return modem_status(*channel); }));
        }
        {
            auto channel = open_first(*client);
            row("transport control, through corvane-sim",
                microseconds_per_call(round_trips, [&] { return modem_status(*channel); }));
        }
        usb::set_test_transport(usb::make_inproc_transport(*round_trip_bus));
        uint32_t count = 0;
        FT_CreateDeviceInfoList(&count);
        row("FT_GetModemStatus, in process", ft_modem_status_round_trip("INPRT1", round_trips));
        row("FT_GetModemStatus, through corvane-sim", ft_modem_status_round_trip("SIMRT1", round_trips));
        usb::set_test_transport(nullptr);

        size_t total = mebibytes << 20;
        // The client's devices are listed in bus order: skip the round-trip chip.
        struct SecondDevice final : usb::Transport {
            usb::Transport &inner;
            explicit SecondDevice(usb::Transport &t) : inner(t) {}
            std::string_view name() const override { return inner.name(); }
            usb::Status list(std::vector<usb::DeviceIdentity> &devices) override
            {
                usb::Status status = inner.list(devices);
                if (!devices.empty())
                    devices.erase(devices.begin());
                return status;
            }
            usb::Status open(const std::string &id, unsigned channel, std::unique_ptr<usb::Channel> &out) override
            {
                return inner.open(id, channel, out);
            }
        } throughput_device(*client);
        // The platform lists the socket's devices once the in-process bus is gone.
        FT_CreateDeviceInfoList(&count);

        // A 64 MiB copy takes a few milliseconds, and this machine's speed drifts from one
        // second to the next: each figure is taken several times, each time between two
        // runs of the bare socket pair, and set against their mean. The ratio shown is the
        // median of those ratios, so that a baseline and its figure are never far apart in
        // time.
        struct Series {
            std::vector<double> rates, ratios;
        };
        Series bare_series, in_process, through_sim, through_library;
        for (unsigned round = 0; round < repeats; ++round) {
            double before = bare_socket_throughput(total);
            bare_series.rates.push_back(before);
            bare_series.ratios.push_back(1.0);
            auto measure = [&](Series &series, double rate) {
                double after = bare_socket_throughput(total);
                series.rates.push_back(rate);
                series.ratios.push_back(rate / ((before + after) / 2));
                bare_series.rates.push_back(after);
                bare_series.ratios.push_back(1.0);
                before = after;
            };
            measure(in_process, loopback_throughput(*inproc_tp, total));
            measure(through_sim, loopback_throughput(throughput_device, total));
            measure(through_library, ft_loopback_throughput("SIMTP1", total));
        }
        std::printf(
            "\nloopback bulk write and read, %zu MiB, median of %u     MiB/s   of bare socket   (range of that)\n",
            mebibytes, repeats);
        auto rate_row = [&](const char *what, Series &series) {
            double rate = median(series.rates), ratio = median(series.ratios);
            std::printf("  %-44s %8.1f %7.0f%%   (%.0f-%.0f%%)\n", what, rate, 100 * ratio, 100 * series.ratios.front(),
                        100 * series.ratios.back());
        };
        rate_row("bare socket pair", bare_series);
        rate_row("ft232h loopback, in process", in_process);
        rate_row("ft232h loopback, through corvane-sim", through_sim);
        rate_row("FT_Write/FT_Read loopback, through corvane-sim", through_library);
    }
    std::error_code ignored;
    fs::remove_all(dir, ignored);
    return 0;
}
