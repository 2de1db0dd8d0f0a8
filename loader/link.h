// Sending packets to the cartridge, and what a packet that did not go in full means.
#ifndef CORVANE_LOADER_LINK_H
#define CORVANE_LOADER_LINK_H

#include "loader/packets.h"

#include "ftdev.h"

#include <cstdint>

namespace corvane::loader {

// Writes the packet's own bytes. A non-zero status ends the run with `status_fail_code`,
// or with the status itself when that is 0. A packet that went only in part (a write
// time-out) ends it as timed out: the cartridge would read whatever follows as the rest
// of the packet, image bytes included.
void send_packet(FtdevHandle device, const Packet &packet, uint32_t status_fail_code = 0);

} // namespace corvane::loader

#endif // CORVANE_LOADER_LINK_H
