// Comm state, time-outs, purge, escape functions, break and errors: what reaches the chip
// and what comes back.
#include "unit/com/com_fixture.h"
#include "wire/ftdi_protocol.h"

#include <chrono>
#include <functional>
#include <optional>
#include <thread>
#include <vector>

namespace {

namespace ftdi = corvane::usb::ftdi;
using corvane::com::testing::ComDevice;
using corvane::com::testing::ComTest;
using corvane::testing::RecordedControl;
using Clock = std::chrono::steady_clock;
constexpr DWORD all_ones = 0xFFFFFFFFu;

class CommState : public ComTest {
protected:
    ComDevice device{open_serial("A1")};

    void SetUp() override { ASSERT_TRUE(device.valid()); }

    std::vector<RecordedControl> requests_since(size_t since)
    {
        std::vector<RecordedControl> log = bus.control_log(0);
        return {log.begin() + static_cast<std::ptrdiff_t>(since), log.end()};
    }

    std::optional<RecordedControl> last_request(size_t since, uint8_t request)
    {
        std::optional<RecordedControl> found;
        for (const RecordedControl &entry : requests_since(since))
            if (entry.setup.request == request)
                found = entry;
        return found;
    }

    static DCB eight_n_one(DWORD baud)
    {
        DCB state{};
        state.DCBlength = sizeof state;
        state.BaudRate = baud;
        state.fBinary = 1;
        state.ByteSize = 8;
        state.Parity = NOPARITY;
        state.StopBits = ONESTOPBIT;
        state.XonChar = 0x11;
        state.XoffChar = 0x13;
        return state;
    }
};

TEST_F(CommState, SetStateDrivesTheChipAndReadsBack)
{
    DCB wanted = eight_n_one(115200);
    wanted.ByteSize = 7;
    wanted.Parity = EVENPARITY;
    wanted.StopBits = TWOSTOPBITS;
    wanted.fOutxCtsFlow = 1;
    wanted.fRtsControl = RTS_CONTROL_HANDSHAKE;
    wanted.fDtrControl = DTR_CONTROL_ENABLE;
    wanted.EvtChar = '\n';
    const size_t since = bus.control_log(0).size();
    ASSERT_TRUE(FT_W32_SetCommState(device.get(), &wanted));

    const auto baud = last_request(since, ftdi::baud_rate);
    ASSERT_TRUE(baud.has_value());
    EXPECT_EQ(baud->setup.value, 26u); // 3 MHz / 115200 = 26.04
    const auto characteristics = last_request(since, ftdi::data_characteristics);
    ASSERT_TRUE(characteristics.has_value());
    EXPECT_EQ(characteristics->setup.value, 7u | 2u << 8 | 2u << 11);
    const auto flow = last_request(since, ftdi::flow_control);
    ASSERT_TRUE(flow.has_value());
    EXPECT_EQ(flow->setup.index & 0xFF00u, ftdi::flow_rts_cts);
    EXPECT_EQ(flow->setup.value, 0x1311u);
    // DTR is set; RTS belongs to the handshake and is left alone.
    std::vector<uint16_t> modem_values;
    for (const RecordedControl &entry : requests_since(since))
        if (entry.setup.request == ftdi::modem_control)
            modem_values.push_back(entry.setup.value);
    EXPECT_EQ(modem_values, std::vector<uint16_t>{0x0101});

    DCB read_back{};
    ASSERT_TRUE(FT_W32_GetCommState(device.get(), &read_back));
    EXPECT_EQ(read_back.DCBlength, sizeof(DCB));
    EXPECT_EQ(read_back.BaudRate, 115200u);
    EXPECT_EQ(read_back.ByteSize, 7);
    EXPECT_EQ(read_back.Parity, EVENPARITY);
    EXPECT_EQ(read_back.StopBits, TWOSTOPBITS);
    EXPECT_EQ(read_back.fOutxCtsFlow, 1u);
    EXPECT_EQ(read_back.fRtsControl, RTS_CONTROL_HANDSHAKE);
    EXPECT_EQ(read_back.fDtrControl, DTR_CONTROL_ENABLE);
    EXPECT_EQ(read_back.EvtChar, '\n');

    // Data characteristics set by their own call show in the state.
    ASSERT_EQ(FT_SetDataCharacteristics(device.get(), 8, 0, 0), FTDEV_OK);
    ASSERT_TRUE(FT_W32_GetCommState(device.get(), &read_back));
    EXPECT_EQ(read_back.ByteSize, 8);
    EXPECT_EQ(read_back.Parity, NOPARITY);
    EXPECT_EQ(read_back.StopBits, ONESTOPBIT);
}

// Both interfaces set one line state: whichever set a setting last is what the comm state
// reports, and what the chip was told.
TEST_F(CommState, BothInterfacesSetOneLineState)
{
    struct Setting {
        const char *name;
        std::function<FtdevStatus(FtdevHandle)> set_directly;
        std::function<bool(const DCB &)> shows_direct;
        std::function<void(DCB &)> set_comm_state;
        std::function<bool(const DCB &)> shows_comm_state;
        uint8_t request; // what the chip is sent for the comm state's value
        uint16_t value;
        uint16_t index_high;
    };
    const Setting settings[] = {
        {"baud rate", [](FtdevHandle h) { return FT_SetBaudRate(h, 38400); },
         [](const DCB &d) { return d.BaudRate == 38400; }, [](DCB &d) { d.BaudRate = 115200; },
         [](const DCB &d) { return d.BaudRate == 115200; }, ftdi::baud_rate, 0x001A, 0},
        {"divisor", [](FtdevHandle h) { return FT_SetDivisor(h, 0x4138); }, // 312.5: 9600 baud
         [](const DCB &d) { return d.BaudRate == 9600; }, [](DCB &d) { d.BaudRate = 115200; },
         [](const DCB &d) { return d.BaudRate == 115200; }, ftdi::baud_rate, 0x001A, 0},
        {"data characteristics", [](FtdevHandle h) { return FT_SetDataCharacteristics(h, 7, 2, 2); },
         [](const DCB &d) { return d.ByteSize == 7 && d.StopBits == TWOSTOPBITS && d.Parity == EVENPARITY; },
         [](DCB &d) {
             d.ByteSize = 8;
             d.Parity = ODDPARITY;
             d.StopBits = ONESTOPBIT;
         },
         [](const DCB &d) { return d.ByteSize == 8 && d.StopBits == ONESTOPBIT && d.Parity == ODDPARITY; },
         ftdi::data_characteristics, 0x0108, 0},
        {"RTS/CTS flow", [](FtdevHandle h) { return FT_SetFlowControl(h, ftdi::flow_rts_cts, 0x11, 0x13); },
         [](const DCB &d) { return d.fOutxCtsFlow == 1 && d.fRtsControl == RTS_CONTROL_HANDSHAKE && d.fOutX == 0; },
         [](DCB &d) {
             d.fOutxCtsFlow = 0;
             d.fRtsControl = RTS_CONTROL_ENABLE;
             d.fOutX = d.fInX = 1;
         },
         [](const DCB &d) { return d.fOutxCtsFlow == 0 && d.fRtsControl == RTS_CONTROL_ENABLE && d.fOutX == 1; },
         ftdi::flow_control, 0x1311, ftdi::flow_xon_xoff},
        {"DTR/DSR flow", [](FtdevHandle h) { return FT_SetFlowControl(h, ftdi::flow_dtr_dsr, 0x11, 0x13); },
         [](const DCB &d) { return d.fOutxDsrFlow == 1 && d.fDtrControl == DTR_CONTROL_HANDSHAKE && d.fOutX == 0; },
         [](DCB &d) {
             d.fOutxDsrFlow = 0;
             d.fDtrControl = DTR_CONTROL_ENABLE;
         },
         [](const DCB &d) { return d.fOutxDsrFlow == 0 && d.fDtrControl == DTR_CONTROL_ENABLE; }, ftdi::flow_control,
         0x1311, 0},
        {"XON/XOFF flow", [](FtdevHandle h) { return FT_SetFlowControl(h, ftdi::flow_xon_xoff, 0x21, 0x23); },
         [](const DCB &d) {
             return d.fOutX == 1 && d.fInX == 1 && d.fOutxCtsFlow == 0 && d.XonChar == 0x21 && d.XoffChar == 0x23;
         },
         [](DCB &d) {
             d.fOutX = d.fInX = 0;
             d.XonChar = 0x11;
             d.XoffChar = 0x13;
         },
         [](const DCB &d) { return d.fOutX == 0 && d.XonChar == 0x11 && d.XoffChar == 0x13; }, ftdi::flow_control,
         0x1311, 0},
        {"special characters", [](FtdevHandle h) { return FT_SetChars(h, '\n', 1, 0x3F, 1); },
         [](const DCB &d) { return d.EvtChar == '\n' && d.ErrorChar == 0x3F && d.fErrorChar == 1; },
         [](DCB &d) {
             d.EvtChar = '#';
             d.ErrorChar = 0;
             d.fErrorChar = 0;
         },
         [](const DCB &d) { return d.EvtChar == '#' && d.ErrorChar == 0 && d.fErrorChar == 0; },
         // The event character stays switched on as the direct call left it.
         ftdi::event_char, 0x0100 | '#', 0},
    };
    for (const Setting &setting : settings) {
        SCOPED_TRACE(setting.name);
        DCB state{};
        ASSERT_EQ(setting.set_directly(device.get()), FTDEV_OK);
        ASSERT_TRUE(FT_W32_GetCommState(device.get(), &state));
        EXPECT_TRUE(setting.shows_direct(state));

        setting.set_comm_state(state);
        const size_t since = bus.control_log(0).size();
        ASSERT_TRUE(FT_W32_SetCommState(device.get(), &state));
        const auto sent = last_request(since, setting.request);
        ASSERT_TRUE(sent.has_value());
        EXPECT_EQ(sent->setup.value, setting.value);
        EXPECT_EQ(sent->setup.index & 0xFF00u, setting.index_high);
        DCB read_back{};
        ASSERT_TRUE(FT_W32_GetCommState(device.get(), &read_back));
        EXPECT_TRUE(setting.shows_comm_state(read_back));

        ASSERT_EQ(setting.set_directly(device.get()), FTDEV_OK);
        ASSERT_TRUE(FT_W32_GetCommState(device.get(), &read_back));
        EXPECT_TRUE(setting.shows_direct(read_back));
    }

    // A break is sent with the data characteristics of the comm state last set.
    DCB seven_e_two = eight_n_one(9600);
    seven_e_two.ByteSize = 7;
    seven_e_two.Parity = EVENPARITY;
    seven_e_two.StopBits = TWOSTOPBITS;
    ASSERT_TRUE(FT_W32_SetCommState(device.get(), &seven_e_two));
    const size_t since = bus.control_log(0).size();
    ASSERT_EQ(FT_SetBreakOn(device.get()), FTDEV_OK);
    const auto sent = last_request(since, ftdi::data_characteristics);
    ASSERT_TRUE(sent.has_value());
    EXPECT_EQ(sent->setup.value, 7u | 2u << 8 | 2u << 11 | 0x4000u);
    ASSERT_EQ(FT_SetBreakOff(device.get()), FTDEV_OK);
}

TEST_F(CommState, AStateTheChipCannotFollowChangesNothing)
{
    DCB before{};
    ASSERT_TRUE(FT_W32_GetCommState(device.get(), &before));
    EXPECT_EQ(before.BaudRate, 9600u);

    std::vector<DCB> refused(5, eight_n_one(9600));
    refused[0].BaudRate = 0;
    refused[1].ByteSize = 5;
    refused[2].Parity = 5;
    refused[3].StopBits = ONE5STOPBITS;
    refused[4].fRtsControl = RTS_CONTROL_TOGGLE;
    const size_t since = bus.control_log(0).size();
    for (const DCB &state : refused) {
        EXPECT_FALSE(FT_W32_SetCommState(device.get(), &state));
        EXPECT_EQ(FT_W32_GetLastError(device.get()), ERROR_INVALID_PARAMETER);
    }
    EXPECT_TRUE(requests_since(since).empty());

    DCB after = eight_n_one(1);
    ASSERT_TRUE(FT_W32_GetCommState(device.get(), &after));
    EXPECT_EQ(after.BaudRate, before.BaudRate);
    EXPECT_FALSE(FT_W32_GetCommState(device.get(), nullptr));
    EXPECT_FALSE(FT_W32_SetCommState(device.get(), nullptr));
}

TEST_F(CommState, EscapeFunctionsDriveTheirLine)
{
    struct EscapeCase {
        DWORD function;
        uint8_t request;
        uint16_t value;
    };
    const uint16_t characteristics = 8; // as the chip was left at open
    const EscapeCase cases[] = {
        {SETRTS, ftdi::modem_control, 0x0202},
        {CLRRTS, ftdi::modem_control, 0x0200},
        {SETDTR, ftdi::modem_control, 0x0101},
        {CLRDTR, ftdi::modem_control, 0x0100},
        {SETBREAK, ftdi::data_characteristics, characteristics | 0x4000},
        {CLRBREAK, ftdi::data_characteristics, characteristics},
    };
    for (const EscapeCase &entry : cases) {
        const size_t since = bus.control_log(0).size();
        ASSERT_TRUE(FT_W32_EscapeCommFunction(device.get(), entry.function)) << entry.function;
        const auto sent = requests_since(since);
        ASSERT_EQ(sent.size(), 1u) << entry.function;
        EXPECT_EQ(sent[0].setup.request, entry.request) << entry.function;
        EXPECT_EQ(sent[0].setup.value, entry.value) << entry.function;
    }
    // The XON/XOFF codes, the device reset and unknown codes drive nothing and say so.
    for (DWORD function : {SETXOFF, SETXON, RESETDEV, 0u, 10u}) {
        const size_t since = bus.control_log(0).size();
        EXPECT_FALSE(FT_W32_EscapeCommFunction(device.get(), function)) << function;
        EXPECT_EQ(FT_W32_GetLastError(device.get()), ERROR_INVALID_PARAMETER) << function;
        EXPECT_TRUE(requests_since(since).empty()) << function;
    }

    // The loopback plug wires DTR to DSR and DCD, RTS to CTS.
    ASSERT_TRUE(FT_W32_EscapeCommFunction(device.get(), SETDTR));
    ASSERT_TRUE(FT_W32_EscapeCommFunction(device.get(), CLRRTS));
    uint32_t modem = 0;
    ASSERT_TRUE(FT_W32_GetCommModemStatus(device.get(), &modem));
    EXPECT_EQ(modem & (MS_CTS_ON | MS_DSR_ON | MS_RLSD_ON), MS_DSR_ON | MS_RLSD_ON);
}

TEST_F(CommState, PurgeFoldsTheFourFlagsIntoTwoBuffers)
{
    struct PurgeCase {
        DWORD flags;
        std::vector<uint16_t> values; // reset/purge request values, in order
    };
    const PurgeCase cases[] = {
        {PURGE_RXCLEAR | PURGE_TXCLEAR, {ftdi::purge_rx, ftdi::purge_tx}},
        {PURGE_TXABORT, {ftdi::purge_tx}},
        {PURGE_RXABORT, {ftdi::purge_rx}},
        {0, {}},
    };
    for (const PurgeCase &entry : cases) {
        const size_t since = bus.control_log(0).size();
        ASSERT_TRUE(FT_W32_PurgeComm(device.get(), entry.flags)) << entry.flags;
        std::vector<uint16_t> values;
        for (const RecordedControl &sent : requests_since(since))
            if (sent.setup.request == ftdi::reset_purge)
                values.push_back(sent.setup.value);
        EXPECT_EQ(values, entry.values) << entry.flags;
    }

    // Bytes waiting to be read are gone after a receive purge.
    set_timeouts(device.get(), 0, 0, 200);
    write_all(device.get(), "stale");
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    ASSERT_TRUE(FT_W32_PurgeComm(device.get(), PURGE_RXCLEAR));
    char byte = 0;
    uint32_t read = 9;
    EXPECT_TRUE(FT_W32_ReadFile(device.get(), &byte, 1, &read, nullptr));
    EXPECT_EQ(read, 0u);
}

TEST_F(CommState, TimeoutsRoundTripAndBoundReads)
{
    COMMTIMEOUTS wanted{11, 22, 33, 44, 55};
    ASSERT_TRUE(FT_W32_SetCommTimeouts(device.get(), &wanted));
    COMMTIMEOUTS read_back{};
    ASSERT_TRUE(FT_W32_GetCommTimeouts(device.get(), &read_back));
    EXPECT_EQ(read_back.ReadIntervalTimeout, 11u);
    EXPECT_EQ(read_back.ReadTotalTimeoutMultiplier, 22u);
    EXPECT_EQ(read_back.ReadTotalTimeoutConstant, 33u);
    EXPECT_EQ(read_back.WriteTotalTimeoutMultiplier, 44u);
    EXPECT_EQ(read_back.WriteTotalTimeoutConstant, 55u);
    // The short form of the library's own call sets the two constants alone.
    ASSERT_EQ(FT_SetTimeouts(device.get(), 300, 400), FTDEV_OK);
    ASSERT_TRUE(FT_W32_GetCommTimeouts(device.get(), &read_back));
    EXPECT_EQ(read_back.ReadIntervalTimeout, 0u);
    EXPECT_EQ(read_back.ReadTotalTimeoutConstant, 300u);
    EXPECT_EQ(read_back.WriteTotalTimeoutConstant, 400u);

    char buffer[64] = {};
    uint32_t read = 0;
    auto timed_read = [&](uint32_t size) {
        const Clock::time_point start = Clock::now();
        EXPECT_TRUE(FT_W32_ReadFile(device.get(), buffer, size, &read, nullptr));
        return Clock::now() - start;
    };

    // Interval 0xFFFFFFFF with no total: at once, with what is queued.
    set_timeouts(device.get(), all_ones, 0, 0);
    EXPECT_LT(timed_read(10), std::chrono::milliseconds(200));
    EXPECT_EQ(read, 0u);

    // Interval and multiplier 0xFFFFFFFF with a constant: the first bytes end the read...
    set_timeouts(device.get(), all_ones, all_ones, 5000);
    write_all(device.get(), "abc");
    EXPECT_LT(timed_read(sizeof buffer), std::chrono::milliseconds(2000));
    EXPECT_EQ(std::string(buffer, read), "abc");
    // ...and with none, the constant does.
    set_timeouts(device.get(), all_ones, all_ones, 50);
    EXPECT_GE(timed_read(sizeof buffer), std::chrono::milliseconds(50));
    EXPECT_EQ(read, 0u);

    // An interval ends a read that has bytes once no more follow, long before its total.
    set_timeouts(device.get(), 100, 0, 0);
    write_all(device.get(), "xyz");
    EXPECT_LT(timed_read(sizeof buffer), std::chrono::milliseconds(2000));
    EXPECT_EQ(std::string(buffer, read), "xyz");

    // A total: multiplier x size + constant.
    set_timeouts(device.get(), 0, 10, 50);
    EXPECT_GE(timed_read(10), std::chrono::milliseconds(150));
    EXPECT_EQ(read, 0u);
}

TEST_F(CommState, ClearCommErrorReportsABreakOnceAndTheQueue)
{
    ASSERT_TRUE(FT_W32_SetCommBreak(device.get()));
    uint32_t errors = 0;
    COMSTAT status{};
    ASSERT_TRUE(FT_W32_ClearCommError(device.get(), &errors, &status));
    EXPECT_EQ(errors & CE_BREAK, CE_BREAK);
    ASSERT_TRUE(FT_W32_ClearCommBreak(device.get()));

    // Packets that came during the break may still report it once; then it is gone.
    const Clock::time_point give_up = Clock::now() + std::chrono::seconds(2);
    do {
        ASSERT_TRUE(FT_W32_ClearCommError(device.get(), &errors, nullptr));
    } while (errors != 0 && Clock::now() < give_up);
    EXPECT_EQ(errors, 0u);

    write_all(device.get(), "queued");
    const Clock::time_point until = Clock::now() + std::chrono::seconds(2);
    do {
        ASSERT_TRUE(FT_W32_ClearCommError(device.get(), nullptr, &status));
    } while (status.cbInQue < 6 && Clock::now() < until);
    EXPECT_EQ(status.cbInQue, 6u);
    EXPECT_EQ(status.cbOutQue, 0u);
    EXPECT_TRUE(FT_W32_SetupComm(device.get(), 1, 1));
}

} // namespace
