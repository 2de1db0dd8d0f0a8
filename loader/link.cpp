#include "loader/link.h"

#include "loader/fail.h"

namespace corvane::loader {

void send_packet(FtdevHandle device, const Packet &packet, uint32_t status_fail_code)
{
    uint32_t written = 0;
    FtdevStatus status = FT_Write(device, packet.bytes.data(), static_cast<uint32_t>(packet.size), &written);
    if (status != FTDEV_OK)
        fail_now(status_fail_code != 0 ? status_fail_code : status);
    if (written < packet.size)
        fail_timed_out();
}

} // namespace corvane::loader
