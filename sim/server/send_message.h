// corvane-sim --send: one fault message (see sim/server/server.h) to a running simulator, over
// the socket protocol its clients speak (wire/vbus_protocol.h).
#ifndef CORVANE_SIM_SERVER_SEND_MESSAGE_H
#define CORVANE_SIM_SERVER_SEND_MESSAGE_H

#include <chrono>
#include <string>

namespace corvane::sim {

enum class Delivery {
    applied,   // the simulator carried the switch out
    refused,   // it answered that it would not (unknown switch, no such device)
    no_answer, // nothing listens at the path, or what does gave no simulator's answer in time
};

// Sends `message` to the simulator at `socket_path` and waits at most `limit` in all for
// its answer: the simulator's answer text in `answer`, or why none came.
Delivery send_fault_message(const std::string &socket_path, const std::string &message, std::chrono::milliseconds limit,
                            std::string &answer);

} // namespace corvane::sim

#endif // CORVANE_SIM_SERVER_SEND_MESSAGE_H
