#include "sim/VirtualWriter.h"

#include <chrono>
#include <thread>

#include <cstdio>
#include <cstring>

namespace sonoprog::sim {

namespace {
// libusb's wording for the failures the virtual Writer produces.
constexpr const char* kIoErrorText = "Input/Output Error";
constexpr const char* kTimeoutText = "Operation timed out";

std::string hexCode(std::uint8_t code) {
    char buf[8];
    std::snprintf(buf, sizeof buf, "0x%02X", code);
    return buf;
}
}  // namespace

void StatusInjector::failNth(std::uint8_t code, std::uint64_t nth, std::uint8_t status) {
    rules_.push_back({code, nth, status});
}

void StatusInjector::failAll(std::uint8_t code, std::uint8_t status) {
    rules_.push_back({code, 0, status});
}

void StatusInjector::clear() {
    rules_.clear();
    std::memset(counts_, 0, sizeof counts_);
}

std::uint8_t StatusInjector::next(std::uint8_t code) {
    std::uint64_t n = ++counts_[code];
    for (const Rule& rule : rules_)
        if (rule.code == code && (rule.nth == 0 || rule.nth == n)) return rule.status;
    return 0;
}

VirtualWriter::VirtualWriter() = default;

// A Writer that goes away gives its claim back, open or not.
VirtualWriter::~VirtualWriter() {
    if (giveBackClaim_) giveBackClaim_();
}

void VirtualWriter::addChip(std::shared_ptr<ChipModel> chip) {
    chips_.push_back(std::move(chip));
}

void VirtualWriter::plug() {
    plugged_ = true;
    if (deviceChange_) deviceChange_();
}

void VirtualWriter::unplug() {
    plugged_ = false;
    open_ = false;  // the open handle is dead from now on
    pendingReply_.reset();
    phases_.clear();
    if (deviceChange_) deviceChange_();
}

void VirtualWriter::replugQuickly() {
    open_ = false;
    pendingReply_.reset();
    phases_.clear();
    plugged_ = true;
    if (deviceChange_) deviceChange_();
}

void VirtualWriter::otherDeviceEvent() {
    if (deviceChange_) deviceChange_();
}

void VirtualWriter::failTransfer(std::uint64_t number) {
    failOnce_ = number;
}
void VirtualWriter::failFrom(std::uint64_t number) {
    failFrom_ = number;
}
void VirtualWriter::failReplyOf(std::uint64_t number) {
    failReply_ = number;
}

void VirtualWriter::clearFaults() {
    failOnce_ = failFrom_ = failReply_ = 0;
}

bool VirtualWriter::faultHits(std::uint64_t number) const {
    return (failOnce_ != 0 && number == failOnce_) || (failFrom_ != 0 && number >= failFrom_);
}

bool VirtualWriter::open() {
    if (!plugged_ || openFails_) return false;
    if (takeClaim_ && !takeClaim_()) return false;
    open_ = true;
    pendingReply_.reset();
    phases_.clear();
    return true;
}

void VirtualWriter::release() {
    open_ = false;
    if (giveBackClaim_) giveBackClaim_();
}

std::vector<std::uint8_t> VirtualWriter::commandCodes() const {
    std::vector<std::uint8_t> codes;
    for (const auto& r : log_)
        if (r.kind == TransferRecord::Kind::Command && !r.bytes.empty())
            codes.push_back(r.bytes[0]);
    return codes;
}

std::vector<std::string> VirtualWriter::protocolErrors() const {
    std::vector<std::string> all = errors_;
    for (const auto& chip : chips_)
        all.insert(all.end(), chip->protocolErrors.begin(), chip->protocolErrors.end());
    return all;
}

void VirtualWriter::record(TransferRecord::Kind kind, const std::uint8_t* data, std::size_t length,
                           bool failed) {
    if (!logging_) return;
    log_.push_back({kind, std::vector<std::uint8_t>(data, data + length), failed});
}

void VirtualWriter::runCommand(const Packet& command) {
    Packet reply{};
    phases_.clear();
    phaseIndex_ = 0;
    phaseOwner_ = nullptr;
    if (socket_) {
        if (auto status = socket_->beforeCommand(command[0])) {
            reply[1] = *status;
            pendingReply_ = reply;
            socket_->afterCommand(command[0], *status);
            return;
        }
    }
    for (const auto& chip : chips_) {
        if (!chip->handles(command[0])) continue;
        auto announced = chip->command(command, reply);
        phases_.assign(announced.begin(), announced.end());
        phaseOwner_ = chip.get();
        pendingReply_ = reply;
        if (socket_) socket_->afterCommand(command[0], reply[1]);
        return;
    }
    reply[1] = kUnknownCommandStatus;
    pendingReply_ = reply;
}

bool VirtualWriter::applyWireFault(link::Endpoint endpoint, std::uint64_t number,
                                   std::uint8_t* data, const std::uint8_t* previous,
                                   std::size_t length) {
    if (!wireHook_ || length == 0) return true;
    std::size_t position = 0;
    switch (wireHook_({endpoint, number, length}, position)) {
        case WireFault::None:
            return true;
        case WireFault::FlipBit:
            position %= length * 8;
            data[position / 8] ^= static_cast<std::uint8_t>(1u << (position % 8));
            return true;
        case WireFault::Short:
            position %= length;
            std::memcpy(data + position, previous + position, length - position);
            return true;
        case WireFault::Lost:
            std::memcpy(data, previous, length);
            return false;
    }
    return true;
}

std::optional<std::string> VirtualWriter::transfer(link::Endpoint endpoint, std::uint8_t* data,
                                                   std::size_t length) {
    using Kind = TransferRecord::Kind;
    const bool isReply = endpoint == link::Endpoint::ReplyIn;
    std::uint64_t number = lastExchange_;
    if (!isReply) {
        number = ++transfers_;
        if (endpoint == link::Endpoint::CommandOut) lastExchange_ = number;
        if (hook_) hook_(number);
    }
    if (!plugged_ || !open_) return std::string(link::kNoDeviceText);
    // A command goes out at once; its round trip is waited for with the reply.
    if (roundTripUs_ != 0 && endpoint != link::Endpoint::CommandOut)
        std::this_thread::sleep_for(std::chrono::microseconds(roundTripUs_));

    switch (endpoint) {
        case link::Endpoint::CommandOut: {
            if (faultHits(number)) {
                record(Kind::Command, data, length, true);
                return std::string(kIoErrorText);
            }
            record(Kind::Command, data, length, false);
            if (length != core::kPacketSize) {
                errors_.push_back("command packet of " + std::to_string(length) + " bytes");
                return std::string(kIoErrorText);
            }
            if (!phases_.empty())
                errors_.push_back("command " + hexCode(data[0]) + " sent while " +
                                  std::to_string(phases_.size()) + " bulk phase(s) were due");
            if (pendingReply_)
                errors_.push_back("command " + hexCode(data[0]) +
                                  " sent before the previous reply was read");
            Packet command;
            std::memcpy(command.data(), data, core::kPacketSize);
            runCommand(command);
            return std::nullopt;
        }
        case link::Endpoint::ReplyIn: {
            if (!pendingReply_) {
                errors_.push_back("reply read with no command outstanding");
                return std::string(kTimeoutText);
            }
            if (length != core::kPacketSize) {
                errors_.push_back("reply read of " + std::to_string(length) + " bytes");
                pendingReply_.reset();
                return std::string(kIoErrorText);
            }
            Packet reply = *pendingReply_;
            pendingReply_.reset();
            if (failReply_ != 0 && number == failReply_) {
                record(Kind::Reply, reply.data(), reply.size(), true);
                return std::string(kIoErrorText);
            }
            if (wireHook_) {
                Packet before;
                std::memcpy(before.data(), data, core::kPacketSize);
                std::memcpy(data, reply.data(), core::kPacketSize);
                applyWireFault(endpoint, number, data, before.data(), core::kPacketSize);
            } else {
                std::memcpy(data, reply.data(), core::kPacketSize);
            }
            record(Kind::Reply, data, length, false);
            return std::nullopt;
        }
        case link::Endpoint::DataOut:
        case link::Endpoint::DataIn: {
            const bool out = endpoint == link::Endpoint::DataOut;
            const Kind kind = out ? Kind::BulkOut : Kind::BulkIn;
            if (faultHits(number)) {
                // The Writer gives up the command whose data went missing, so
                // the operation's closing command is no protocol error.
                phases_.clear();
                record(kind, data, out ? length : 0, true);
                return std::string(kIoErrorText);
            }
            const auto want = out ? BulkDirection::Out : BulkDirection::In;
            if (phases_.empty() || phases_.front().direction != want ||
                phases_.front().length != length) {
                errors_.push_back(std::string(out ? "bulk out" : "bulk in") + " of " +
                                  std::to_string(length) + " bytes that no command announced");
                phases_.clear();
                record(kind, data, out ? length : 0, true);
                return std::string(kTimeoutText);
            }
            phases_.pop_front();
            if (wireHook_) {
                // An out block arrives over the chip's erased page buffer; an in
                // block over what the host buffer held before.
                std::vector<std::uint8_t> before(data, data + length);
                if (out) {
                    std::vector<std::uint8_t> arrived(data, data + length);
                    std::vector<std::uint8_t> erased(length, 0xFF);
                    if (applyWireFault(endpoint, number, arrived.data(), erased.data(), length))
                        phaseOwner_->bulkOut(phaseIndex_, arrived.data(), length);
                    ++phaseIndex_;
                } else {
                    phaseOwner_->bulkIn(phaseIndex_++, data, length);
                    applyWireFault(endpoint, number, data, before.data(), length);
                }
            } else if (out) {
                phaseOwner_->bulkOut(phaseIndex_++, data, length);
            } else {
                phaseOwner_->bulkIn(phaseIndex_++, data, length);
            }
            record(kind, data, length, false);
            return std::nullopt;
        }
    }
    return std::string(kIoErrorText);
}

}  // namespace sonoprog::sim
