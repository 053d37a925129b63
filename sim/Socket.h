#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <optional>
#include <set>

namespace sonoprog::sim {

// What [Socket] of writer.ini scripts: `units` fresh blank chips inserted one
// after the other; those numbered in `bad` (from 1) fail their unit. `swap` is
// the operator's hand: the next chip goes in that long after a poll found the
// socket empty (0: at once).
struct SocketScript {
    std::uint32_t units = 0;
    std::set<std::uint32_t> bad;
    std::chrono::milliseconds swap{0};
    friend bool operator==(const SocketScript&, const SocketScript&) = default;
};

// The socket of the virtual Writer as an operator at a production bench
// works it: a chip goes in, is checked by the insertion poll (a detect
// followed straight away by its closing command), gets programmed, and comes
// out once the poll after its unit has seen it; the next chip goes in once a
// poll has found the socket empty, so every unit sees the socket empty
// before the next chip. Without a socket model a chip is always there.
//
// A bad chip answers the insertion poll and fails every later detect (as a
// chip that fails under programming voltage would), so its unit ends at the
// detect with the target's own fail line.
class SocketModel {
public:
    explicit SocketModel(SocketScript script);

    // Called with every command before the chips see it: a status to answer
    // instead of the chip (nullopt: the chip answers).
    std::optional<std::uint8_t> beforeCommand(std::uint8_t code);
    // Called with every command's reply status once the chip (or the socket) answered.
    void afterCommand(std::uint8_t code, std::uint8_t status);

    // Runs when a fresh chip goes in (the Writer blanks its chips).
    void setInsertHandler(std::function<void()> handler) { onInsert_ = std::move(handler); }

    using Clock = std::chrono::steady_clock;
    // The time the swap is counted in (tests step their own).
    void setClock(std::function<Clock::time_point()> now) { now_ = std::move(now); }
    // The swap of the chips still to come.
    void setSwap(std::chrono::milliseconds swap) { script_.swap = swap; }
    // When the chip in the socket went in: the moment its swap ended, which
    // may be before the poll that found it. Unset before the second chip
    // (the first is in the socket from the start).
    std::optional<Clock::time_point> insertedAt() const { return insertedAt_; }

    bool chipPresent() const { return present_; }
    // The number (from 1) of the chip in the socket or last taken out; 0 before the first.
    std::uint32_t chipNumber() const { return current_; }
    std::uint32_t chipsLeft() const { return script_.units - current_ + (present_ ? 1 : 0); }

    // Detect status of an empty socket and of a bad chip, per detect code.
    static std::uint8_t emptyStatus(std::uint8_t detectCode);
    static std::uint8_t badStatus(std::uint8_t detectCode);
    static bool isDetect(std::uint8_t code);
    static bool isClosing(std::uint8_t code);

private:
    void insertNext();

    SocketScript script_;
    std::function<void()> onInsert_;
    std::function<Clock::time_point()> now_ = [] { return Clock::now(); };
    std::optional<Clock::time_point> due_;  // the next chip goes in then
    std::optional<Clock::time_point> insertedAt_;
    std::uint32_t current_ = 0;
    bool present_ = false;
    bool probed_ = false;    // the chip has answered a detect
    bool unitSeen_ = false;  // its unit has run (data moved, or a detect failed)
    // The pass from a detect to its closing command.
    bool inPass_ = false;
    bool passFoundEmpty_ = false;
    bool passAfterUnit_ = false;
    bool passMovedData_ = false;
};

}  // namespace sonoprog::sim
