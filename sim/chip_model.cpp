#include "sim/chip_model.h"

#include "sim/cartridge.h"
#include "sim/default_eeprom.h"
#include "sim/eeprom_identity.h"
#include "sim/loopback.h"

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstring>
#include <thread>

namespace corvane::sim {
namespace {

using Clock = std::chrono::steady_clock;
namespace ftdi = usb::ftdi;

constexpr size_t control_log_limit = 100000;
// Bits 0-3 of the modem status byte are reserved; the chips do not keep them at zero, so
// the model does not either, and hosts must mask them.
constexpr uint8_t modem_reserved_bits = 0x01;

std::vector<uint16_t> initial_eeprom(const ChipPlacement &placement, const ChipProfile &profile, unsigned words,
                                     std::string &error)
{
    if (profile.kind != ChipKind::corvane)
        return std::vector<uint16_t>(words, 0xFFFF);
    std::string_view product =
        placement.chip.description.empty() ? profile.default_product : placement.chip.description;
    return make_default_eeprom(words, {default_manufacturer, product, placement.serial}, error);
}

std::unique_ptr<ChannelPeer> make_peer(const ChipProfile &profile, unsigned channel,
                                       const std::filesystem::path &state_dir, std::string &error)
{
    if (profile.cartridge_on_a && channel == 1)
        return Cartridge::open(state_dir, error);
    return std::make_unique<Loopback>();
}

// Data bytes that fit in an IN transfer of `size` bytes: each packet starts with the status bytes.
size_t data_room(size_t size, size_t packet)
{
    size_t last = size % packet;
    return size / packet * (packet - ftdi::status_bytes) + (last > ftdi::status_bytes ? last - ftdi::status_bytes : 0);
}

} // namespace

ChipModel::ChipModel(const ChipPlacement &placement) : placement_(placement), profile_(profile_of(placement.chip.kind))
{}

ChipModel::~ChipModel() = default;

std::unique_ptr<ChipModel> ChipModel::create(const ChipPlacement &placement, const std::filesystem::path &state_dir,
                                             std::string &error)
{
    std::unique_ptr<ChipModel> chip(new ChipModel(placement));
    const ChipProfile &profile = chip->profile_;

    unsigned words = placement.chip.eeprom_words.value_or(profile.default_eeprom_words);
    std::vector<uint16_t> initial;
    if (words > 0) {
        initial = initial_eeprom(placement, profile, words, error);
        if (initial.empty())
            return nullptr;
    }
    std::filesystem::path file = state_dir / ("eeprom-" + placement.serial + ".bin");
    chip->eeprom_ = EepromPart::open(profile.eeprom, words, file, initial, error);
    if (!chip->eeprom_)
        return nullptr;

    chip->channels_.resize(profile.identity->channels);
    for (unsigned k = 0; k < chip->channels_.size(); ++k) {
        Channel &channel = chip->channels_[k];
        channel.loopback = !(profile.cartridge_on_a && k == 0);
        channel.peer = make_peer(profile, k + 1, state_dir, error);
        if (!channel.peer)
            return nullptr;
        if (!placement.chip.usb_timing && !channel.peer->passes_through())
            channel.held_out.emplace(link_speed_of(placement.chip).out_buffer);
    }
    if (placement.chip.usb_timing)
        chip->timing_ =
            std::make_unique<UsbTiming>(link_speed_of(placement.chip), static_cast<unsigned>(chip->channels_.size()));
    chip->power_on_channels();
    chip->read_identity();
    return chip;
}

void ChipModel::read_identity()
{
    const ftdi::ChipIdentity &chip = *profile_.identity;
    usb::DeviceIdentity identity;
    identity.id = placement_.id;
    identity.bcd_device = chip.bcd_device;
    identity.channels = chip.channels;
    identity.packet_size = chip.high_speed ? 512 : 64;
    identity.location = placement_.location;
    identity.virtual_model = true;
    identity.alternate_codes_only = placement_.chip.alternate_codes_only;

    const unsigned image_words = profile_.eeprom == EepromKind::internal_x ? 1024 : 128;
    std::vector<uint16_t> words(image_words);
    for (unsigned address = 0; address < image_words; ++address)
        words[address] = eeprom_->read(static_cast<uint16_t>(address));
    if (std::optional<EepromIdentity> stored = decode_eeprom_identity(chip.family, words)) {
        identity.vendor_id = stored->vendor_id;
        identity.product_id = stored->product_id;
        identity.manufacturer = std::move(stored->manufacturer);
        identity.product = std::move(stored->product);
        identity.serial = std::move(stored->serial);
    } else {
        identity.vendor_id = ftdi::vendor_id;
        identity.product_id = chip.default_product_id;
        identity.manufacturer = default_manufacturer;
        identity.product =
            placement_.chip.description.empty() ? std::string(profile_.default_product) : placement_.chip.description;
        identity.serial = placement_.serial;
    }
    identity_ = std::move(identity);
}

// Power-on state: default settings, empty buffers, the plug's lines following DTR/RTS.
void ChipModel::power_on_channels()
{
    for (Channel &channel : channels_) {
        channel.settings = ChannelSettings{};
        channel.peer->purge();
        if (channel.held_out)
            channel.held_out->clear();
        channel.line_errors = 0;
        channel.modem_changed = false;
        channel.emptied = false;
        channel.modem_lines = 0;
    }
    if (timing_)
        for (unsigned k = 0; k < channels_.size(); ++k)
            timing_->purge(k);
}

std::optional<usb::DeviceIdentity> ChipModel::listed_identity()
{
    std::lock_guard<std::mutex> guard(lock_);
    if (!plugged_)
        return std::nullopt;
    return identity_;
}

bool ChipModel::owns(ClientId client, unsigned channel) const
{
    return plugged_ && client != 0 && channel >= 1 && channel <= channels_.size() &&
           channels_[channel - 1].owner == client;
}

bool ChipModel::owns_any(ClientId client) const
{
    for (unsigned k = 1; k <= channels_.size(); ++k)
        if (owns(client, k))
            return true;
    return false;
}

usb::Status ChipModel::claim(ClientId client, unsigned channel)
{
    std::lock_guard<std::mutex> guard(lock_);
    if (!plugged_)
        return usb::Status::no_device;
    if (channel < 1 || channel > channels_.size())
        return usb::Status::invalid;
    if (channels_[channel - 1].owner != 0)
        return usb::Status::busy;
    channels_[channel - 1].owner = client;
    return usb::Status::ok;
}

void ChipModel::release(ClientId client, unsigned channel)
{
    std::lock_guard<std::mutex> guard(lock_);
    if (channel >= 1 && channel <= channels_.size() && channels_[channel - 1].owner == client)
        channels_[channel - 1].owner = 0;
    changed_.notify_all();
}

void ChipModel::release_all(ClientId client)
{
    std::lock_guard<std::mutex> guard(lock_);
    for (Channel &channel : channels_)
        if (channel.owner == client)
            channel.owner = 0;
    changed_.notify_all();
}

void ChipModel::end_claims()
{
    for (Channel &channel : channels_)
        channel.owner = 0;
    changed_.notify_all();
}

uint8_t ChipModel::modem_status_byte(const Channel &channel) const
{
    return static_cast<uint8_t>(modem_reserved_bits | channel.modem_lines);
}

uint8_t ChipModel::line_status_byte(const Channel &channel) const
{
    uint8_t status = static_cast<uint8_t>(ftdi::line_tx_holding_empty | ftdi::line_tx_empty | channel.line_errors);
    // A break sent into the loopback plug is a break received.
    if (channel.loopback && (channel.settings.data_characteristics & 0x4000))
        status |= ftdi::line_break;
    return status;
}

void ChipModel::set_lines(Channel &channel, uint8_t lines)
{
    lines &= static_cast<uint8_t>(~ftdi::modem_reserved_mask);
    if (lines != channel.modem_lines) {
        channel.modem_lines = lines;
        channel.modem_changed = true;
        changed_.notify_all();
    }
}

usb::Status ChipModel::control(ClientId client, unsigned channel, const usb::ControlSetup &setup, uint8_t *data,
                               uint16_t *transferred)
{
    std::unique_lock<std::mutex> guard(lock_);
    *transferred = 0;
    if (!owns(client, channel))
        return usb::Status::no_device;
    // The request takes its frame whatever the answer; the host waits for it unlocked.
    if (timing_) {
        const Clock::time_point done = timing_->control_done(Clock::now());
        guard.unlock();
        std::this_thread::sleep_until(done);
        guard.lock();
        if (!owns(client, channel))
            return usb::Status::no_device;
    }
    if (setup.length > 0 && data == nullptr)
        return usb::Status::invalid;
    Reply reply = answer(setup, data);
    if (reply.status == usb::Status::ok)
        *transferred = reply.length;
    // After a reset or purge the chip answers the IN request the host has waiting with the
    // status bytes alone, so that a host that empties its own queue too learns at once that
    // nothing from before is still on its way, rather than a latency period later.
    if (reply.status == usb::Status::ok && setup.request == ftdi::reset_purge && !(setup.request_type & 0x80)) {
        if (Channel *purged = addressed_channel(setup.index)) {
            purged->emptied = true;
            if (timing_)
                timing_->purge(static_cast<unsigned>(purged - channels_.data()));
            changed_.notify_all();
        }
    }
    if (logging_) {
        bool device_to_host = setup.request_type & 0x80;
        log_control(setup, data, device_to_host ? *transferred : setup.length);
    }
    return reply.status;
}

void ChipModel::log_control(const usb::ControlSetup &setup, const uint8_t *data, uint16_t length)
{
    if (control_log_.size() == control_log_limit)
        control_log_.pop_front();
    ControlRecord record{setup, {}};
    if (length > 0)
        record.data.assign(data, data + length);
    control_log_.push_back(std::move(record));
}

// Writes whole packets of `packet` bytes into `buffer`, each starting with the two status
// bytes and then as many bytes from `give` as fit, at most `data_limit` of them in all; a
// short packet ends the transfer. Returns the bytes written.
namespace {

template <typename Give>
size_t frame_packets(uint8_t *buffer, size_t size, size_t packet, uint8_t modem, uint8_t line, size_t data_limit,
                     Give give)
{
    size_t done = 0;
    size_t data_left = data_limit;
    while (done + ftdi::status_bytes <= size) {
        size_t room = std::min(packet, size - done);
        buffer[done] = modem;
        buffer[done + 1] = line;
        size_t wanted = std::min(room - ftdi::status_bytes, data_left);
        size_t given = give(buffer + done + ftdi::status_bytes, wanted);
        done += ftdi::status_bytes + given;
        data_left -= given;
        // A packet cut by the limit is short too, unless it happened to fill the packet: then
        // the transfer must still end here, or the next packet would carry the bytes held back.
        if (ftdi::status_bytes + given < room || data_left == 0)
            break;
    }
    return done;
}

} // namespace

size_t ChipModel::fill_packets(Channel &channel, uint8_t *buffer, size_t size, size_t data_limit)
{
    size_t done =
        frame_packets(buffer, size, identity_.packet_size, modem_status_byte(channel), line_status_byte(channel),
                      data_limit, [&](uint8_t *out, size_t wanted) { return channel.peer->give(out, wanted); });
    channel.modem_changed = false;
    channel.emptied = false;
    return done;
}

// A write meets a read already waiting and a peer holding nothing: the bytes go straight
// into the read's packets, as they would have come out of the peer a moment later.
// Returns how many of `data` it took.
size_t ChipModel::hand_to_waiting_in(Channel &channel, const uint8_t *data, size_t size)
{
    WaitingIn &read = *channel.waiting_in;
    size_t taken = 0;
    read.filled = frame_packets(read.buffer, read.size, identity_.packet_size, modem_status_byte(channel),
                                line_status_byte(channel), size, [&](uint8_t *out, size_t wanted) {
                                    std::memcpy(out, data + taken, wanted);
                                    taken += wanted;
                                    return wanted;
                                });
    read.served = true;
    channel.waiting_in = nullptr;
    channel.modem_changed = false;
    channel.emptied = false;
    return taken;
}

// The host's bytes go to the peer while it takes them and into the chip's buffer, if the
// channel has one, while that has room; bytes already held go first. Returns the count.
size_t ChipModel::take_out(Channel &channel, const uint8_t *data, size_t size)
{
    if (!channel.held_out)
        return channel.peer->take(data, size);
    pass_held_out(channel);
    size_t taken = channel.held_out->size() == 0 ? channel.peer->take(data, size) : 0;
    return taken + channel.held_out->put(data + taken, size - taken);
}

// The peer takes what it can of the bytes the chip holds for it: after it has given
// bytes to the host, it may take commands again.
void ChipModel::pass_held_out(Channel &channel)
{
    if (stalled_ || !channel.held_out || channel.held_out->size() == 0)
        return;
    if (channel.held_out->drain_to(*channel.peer) > 0)
        changed_.notify_all(); // a write waiting for room may go on
}

// Asynchronous and synchronous bit-bang: the bytes written drive the output pins.
void ChipModel::latch_pins(Channel &channel, const uint8_t *data, size_t size)
{
    uint8_t mode = channel.settings.bit_mode;
    if (size > 0 && (mode == 0x01 || mode == 0x04))
        channel.settings.pin_latch = data[size - 1];
}

usb::Status ChipModel::bulk_in(ClientId client, unsigned channel_number, uint8_t *buffer, size_t size,
                               unsigned timeout_ms, size_t *transferred)
{
    *transferred = 0;
    std::unique_lock<std::mutex> guard(lock_);
    if (!owns(client, channel_number))
        return usb::Status::no_device;
    if (size < ftdi::status_bytes || buffer == nullptr)
        return usb::Status::invalid;
    if (timing_)
        return timed_bulk_in(guard, client, channel_number, buffer, size, timeout_ms, transferred);
    const Clock::time_point start = Clock::now();
    const Clock::time_point deadline = start + std::chrono::milliseconds(timeout_ms);
    const uint64_t reads_ended = channels_[channel_number - 1].reads_ended;
    WaitingIn waiting{client, buffer, size};
    // However this ends, a write must not find the read still waiting.
    struct Unlist {
        Channel &channel;
        WaitingIn &waiting;
        ~Unlist()
        {
            if (channel.waiting_in == &waiting)
                channel.waiting_in = nullptr;
        }
    } unlist{channels_[channel_number - 1], waiting};
    for (;;) {
        Channel &channel = channels_[channel_number - 1];
        // A write filled it: those bytes left the peer's stream and are this read's.
        if (waiting.served) {
            *transferred = waiting.filled;
            return usb::Status::ok;
        }
        // Checked before any bytes: they may be ones the host wants for its later reads.
        if (channel.reads_ended != reads_ended)
            return usb::Status::timeout;
        pass_held_out(channel);
        // The latency timer counts from the start of this wait, standing in for the
        // chip's last packet, which the host fetched just before.
        const Clock::time_point latency_due = start + std::chrono::milliseconds(channel.settings.latency_ms);
        const bool latency_counts = latency_due <= deadline;
        const Clock::time_point now = Clock::now();
        if (!stalled_) {
            bool due = channel.peer->pending() > 0 || channel.modem_changed || channel.emptied ||
                       (latency_counts && now >= latency_due);
            if (due) {
                size_t data_limit = SIZE_MAX;
                // Only a transfer that would carry more than the cut spends it: the host's
                // polls that find only status bytes, or a short answer that the cut would
                // not shorten, would otherwise use it up unseen.
                if (cut_ && std::min(channel.peer->pending(), data_room(size, identity_.packet_size)) > *cut_) {
                    data_limit = *cut_;
                    cut_.reset();
                }
                *transferred = fill_packets(channel, buffer, size, data_limit);
                pass_held_out(channel);
                changed_.notify_all();
                return usb::Status::ok;
            }
        }
        if (now >= deadline)
            return usb::Status::timeout;
        // One read at a time may be filled directly, and only while no cut is armed, which
        // counts the bytes as they leave the peer.
        if (channel.peer->passes_through() && !channel.waiting_in && !cut_)
            channel.waiting_in = &waiting;
        changed_.wait_until(guard, stalled_ || !latency_counts ? deadline : latency_due);
        if (!owns(client, channel_number) && !waiting.served)
            return usb::Status::no_device;
    }
}

void ChipModel::end_waiting_in(ClientId client, unsigned channel_number)
{
    std::lock_guard<std::mutex> guard(lock_);
    if (!owns(client, channel_number))
        return;
    Channel &channel = channels_[channel_number - 1];
    ++channel.reads_ended;
    // The ended read takes no bytes written from now on, even before its thread wakes.
    channel.waiting_in = nullptr;
    changed_.notify_all();
}

usb::Status ChipModel::bulk_out(ClientId client, unsigned channel_number, const uint8_t *data, size_t size,
                                unsigned timeout_ms, size_t *transferred)
{
    *transferred = 0;
    std::unique_lock<std::mutex> guard(lock_);
    if (!owns(client, channel_number))
        return usb::Status::no_device;
    if (size > 0 && data == nullptr)
        return usb::Status::invalid;
    if (timing_)
        return timed_bulk_out(guard, client, channel_number, data, size, timeout_ms, transferred);
    const Clock::time_point deadline = Clock::now() + std::chrono::milliseconds(timeout_ms);
    size_t done = 0;
    size_t limit = size; // lowered once if this transfer spends the cut
    for (;;) {
        Channel &channel = channels_[channel_number - 1];
        // Checked on every pass, so that a cut armed while this transfer waits for room
        // still cuts it, counting from the bytes that have not moved yet. A transfer with
        // no more than the cut left would end whole anyway: the cut waits for a longer one,
        // or the small command packets ahead of a host's data would use it up unseen.
        if (cut_ && !stalled_ && size - done > *cut_) {
            limit = std::min(size, done + *cut_);
            cut_.reset();
        }
        if (!stalled_ && done < limit && channel.waiting_in && channel.waiting_in->client == client && !cut_ &&
            channel.peer->pending() == 0) {
            size_t taken = hand_to_waiting_in(channel, data + done, limit - done);
            latch_pins(channel, data + done, taken);
            done += taken;
            *transferred = done;
            changed_.notify_all();
        }
        if (!stalled_ && done < limit) {
            size_t taken = take_out(channel, data + done, limit - done);
            latch_pins(channel, data + done, taken);
            done += taken;
            *transferred = done;
            if (taken > 0)
                changed_.notify_all();
        }
        if (done == size)
            return usb::Status::ok;
        // A cut transfer ends as a time-out would, with the partial count, but at once:
        // waiting out the host's time-out would only slow the tests that use it.
        if (done == limit)
            return usb::Status::timeout;
        if (Clock::now() >= deadline)
            return usb::Status::timeout;
        changed_.wait_until(guard, deadline);
        if (!owns(client, channel_number))
            return usb::Status::no_device;
    }
}

// A port reset restarts the chip: buffers emptied, settings back to their power-on values.
usb::Status ChipModel::reset_device(ClientId client)
{
    std::lock_guard<std::mutex> guard(lock_);
    if (!owns_any(client))
        return usb::Status::no_device;
    power_on_channels();
    changed_.notify_all();
    return usb::Status::ok;
}

usb::Status ChipModel::reenumerate(ClientId client)
{
    std::lock_guard<std::mutex> guard(lock_);
    if (!owns_any(client))
        return usb::Status::no_device;
    end_claims();
    power_on_channels();
    read_identity();
    return usb::Status::ok;
}

void ChipModel::set_plugged(bool plugged)
{
    std::lock_guard<std::mutex> guard(lock_);
    if (plugged == plugged_)
        return;
    plugged_ = plugged;
    end_claims();
    power_on_channels();
    if (plugged)
        read_identity();
}

void ChipModel::set_stalled(bool stalled)
{
    std::lock_guard<std::mutex> guard(lock_);
    stalled_ = stalled;
    changed_.notify_all();
}

void ChipModel::cut_next_transfer(size_t bytes)
{
    std::lock_guard<std::mutex> guard(lock_);
    cut_ = bytes;
    changed_.notify_all();
}

void ChipModel::set_control_logging(bool enabled)
{
    std::lock_guard<std::mutex> guard(lock_);
    logging_ = enabled;
}

std::vector<ControlRecord> ChipModel::control_log()
{
    std::lock_guard<std::mutex> guard(lock_);
    return {control_log_.begin(), control_log_.end()};
}

void ChipModel::clear_control_log()
{
    std::lock_guard<std::mutex> guard(lock_);
    control_log_.clear();
}

std::vector<uint16_t> ChipModel::eeprom_words()
{
    std::lock_guard<std::mutex> guard(lock_);
    return eeprom_->contents();
}

bool ChipModel::set_eeprom_words(const std::vector<uint16_t> &words)
{
    std::lock_guard<std::mutex> guard(lock_);
    return eeprom_->set_contents(words);
}

bool ChipModel::set_factory_word(uint16_t address, uint16_t value)
{
    std::lock_guard<std::mutex> guard(lock_);
    return eeprom_->set_factory_word(address, value);
}

bool ChipModel::set_modem_lines(unsigned channel, uint8_t modem_status)
{
    std::lock_guard<std::mutex> guard(lock_);
    if (channel < 1 || channel > channels_.size())
        return false;
    set_lines(channels_[channel - 1], modem_status);
    return true;
}

std::optional<ChannelSettings> ChipModel::channel_settings(unsigned channel)
{
    std::lock_guard<std::mutex> guard(lock_);
    if (channel < 1 || channel > channels_.size())
        return std::nullopt;
    return channels_[channel - 1].settings;
}

void ChipModel::set_error_correction_word(uint16_t value)
{
    std::lock_guard<std::mutex> guard(lock_);
    error_correction_word_ = value;
}

} // namespace corvane::sim
