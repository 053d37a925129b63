#pragma once

#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "link/WriterDevice.h"
#include "sim/ChipModel.h"
#include "sim/Socket.h"

namespace sonoprog::sim {

// One entry of the transfer log, in wire order.
struct TransferRecord {
    enum class Kind { Command, Reply, BulkOut, BulkIn };
    Kind kind;
    std::vector<std::uint8_t> bytes;
    bool failed = false;  // the transfer was failed by an injected fault
};

// What the wire may do to a transfer that otherwise succeeds, for seeded
// random faults: the host is told the transfer went through.
enum class WireFault {
    None,
    FlipBit,  // one bit of the data turned over on its way
    Short,    // only the bytes before the position arrived
    Lost,     // nothing arrived
};
struct WireEvent {
    link::Endpoint endpoint;
    std::uint64_t number;  // the transfer's number (a reply carries its exchange's)
    std::size_t length;
};
// Returns the fault to apply; sets position to the bit (FlipBit) or the byte
// (Short) it starts at, below length * 8 or length.
using WireFaultHook = std::function<WireFault(const WireEvent& event, std::size_t& position)>;

// The virtual Writer: honours the device contract (64-byte frames, one reply
// per command, status in byte 1, bulk phases only as announced), dispatches by
// command code to its chip models, logs every transfer when asked, and injects
// faults: a failed transfer, a Writer pulled out, plug and unplug events.
class VirtualWriter final : public link::WriterDevice {
public:
    VirtualWriter();
    ~VirtualWriter() override;

    void addChip(std::shared_ptr<ChipModel> chip);

    // Models the socket (chips going in and out); without one a chip is
    // always there. The Writer answers detects for an empty socket itself.
    void setSocket(std::unique_ptr<SocketModel> socket) { socket_ = std::move(socket); }
    SocketModel* socket() { return socket_.get(); }

    // --- the cable ---
    bool plugged() const { return plugged_; }
    // Plug in / pull out the Writer; fires the device-change notification.
    void plug();
    void unplug();
    // Some other USB device arrived or left.
    void otherDeviceEvent();
    // Pulled out and plugged back in between two turns of the window: the open
    // handle dies, and the one notification comes after both.
    void replugQuickly();
    // The Writer is found but refuses to be opened (busy, no permission).
    void setOpenFails(bool fails) { openFails_ = fails; }
    // A claim taken at each open and given back at release, as a real Writer
    // is claimed by the one program that opens it: open() fails while the
    // claim cannot be had.
    void setClaim(std::function<bool()> take, std::function<void()> giveBack) {
        takeClaim_ = std::move(take);
        giveBackClaim_ = std::move(giveBack);
    }

    // --- faults; transfers are counted from 1, each exchange and each bulk block one ---
    void failTransfer(std::uint64_t number);  // that transfer fails once
    void failFrom(std::uint64_t number);      // that one and every later one fails
    // The command of exchange `number` reaches the chip, but its reply is lost.
    void failReplyOf(std::uint64_t number);
    void clearFaults();
    std::uint64_t transferCount() const { return transfers_; }
    // Called before each transfer with its number (tests pull the cable from here).
    void setTransferHook(std::function<void(std::uint64_t)> hook) { hook_ = std::move(hook); }
    // Seeded data faults on replies and bulk blocks (see WireFault).
    void setWireFaultHook(WireFaultHook hook) { wireHook_ = std::move(hook); }

    // --- the link's time ---
    // Each exchange (at its reply) and each bulk block takes this long, slept
    // rather than spun so that several virtual Writers share a processor as
    // real ones share nothing but the bus; 0 = at once.
    void setRoundTripUs(std::uint32_t us) { roundTripUs_ = us; }
    std::uint32_t roundTripUs() const { return roundTripUs_; }

    // --- observation ---
    void setLogging(bool on) { logging_ = on; }
    const std::vector<TransferRecord>& log() const { return log_; }
    void clearLog() { log_.clear(); }
    // Command codes sent, in order, read from the transfer log.
    std::vector<std::uint8_t> commandCodes() const;
    // Protocol errors seen by the frame and by the chips.
    std::vector<std::string> protocolErrors() const;
    bool isOpen() const override { return open_; }

    // --- WriterDevice ---
    bool discover() override { return plugged_; }
    bool open() override;
    void release() override;
    std::optional<std::string> transfer(link::Endpoint endpoint, std::uint8_t* data,
                                        std::size_t length) override;
    void setDeviceChangeHandler(std::function<void()> handler) override {
        deviceChange_ = std::move(handler);
    }

    static constexpr std::uint8_t kUnknownCommandStatus = 0xFF;

private:
    bool faultHits(std::uint64_t number) const;
    void record(TransferRecord::Kind kind, const std::uint8_t* data, std::size_t length,
                bool failed);
    void runCommand(const Packet& command);
    // Applies the wire fault, if any, to data that arrived over `previous`.
    // Returns false when the data were lost altogether.
    bool applyWireFault(link::Endpoint endpoint, std::uint64_t number, std::uint8_t* data,
                        const std::uint8_t* previous, std::size_t length);

    std::vector<std::shared_ptr<ChipModel>> chips_;
    std::unique_ptr<SocketModel> socket_;
    std::function<void()> deviceChange_;
    std::function<void(std::uint64_t)> hook_;
    WireFaultHook wireHook_;
    std::function<bool()> takeClaim_;
    std::function<void()> giveBackClaim_;
    bool plugged_ = true;
    bool openFails_ = false;
    bool open_ = false;
    bool logging_ = false;
    std::uint64_t transfers_ = 0;
    std::uint64_t failOnce_ = 0;
    std::uint64_t failFrom_ = 0;
    std::uint64_t failReply_ = 0;
    std::uint64_t lastExchange_ = 0;
    std::uint32_t roundTripUs_ = 0;

    std::optional<Packet> pendingReply_;
    ChipModel* phaseOwner_ = nullptr;
    std::deque<BulkPhase> phases_;
    std::size_t phaseIndex_ = 0;
    std::vector<TransferRecord> log_;
    std::vector<std::string> errors_;
};

}  // namespace sonoprog::sim
