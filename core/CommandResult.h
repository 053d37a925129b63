#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <utility>

namespace sonoprog::core {

// What one command of a chip's command set came to. Every command of every
// chip returns this, so a caller asks the same three questions of each.
//
// A failure is one of two kinds that callers must keep apart: the transfer
// failed (the Writer went away; the link has already shown its box), or the
// chip answered with a failing status or read back wrong data. Taking a dead
// link for a bad page sends a write through every spare page, each with its
// own box; taking it for an empty socket keeps a production line waiting on a
// Writer that is gone.
//
// The message is the line the command leaves to log: the failure's text, or
// for the few commands that name something on success (a detect) that text.
// The status is the reply's status byte where the chip sent one (a Kiva300
// detect is judged by it), 0 otherwise.
class [[nodiscard]] CommandResult {
public:
    enum class Outcome : std::uint8_t { Done, TransferFailed, ChipFailed };

    static CommandResult success(std::string_view message = {}, std::uint8_t status = 0) {
        return CommandResult(Outcome::Done, message, status);
    }
    static CommandResult transferFailure(std::string_view message) {
        return CommandResult(Outcome::TransferFailed, message, 0);
    }
    static CommandResult chipFailure(std::string_view message, std::uint8_t status = 0) {
        return CommandResult(Outcome::ChipFailed, message, status);
    }

    bool ok() const { return outcome_ == Outcome::Done; }
    explicit operator bool() const { return ok(); }
    bool transferFailed() const { return outcome_ == Outcome::TransferFailed; }
    bool chipFailed() const { return outcome_ == Outcome::ChipFailed; }
    Outcome outcome() const { return outcome_; }
    const std::string& message() const { return message_; }
    std::uint8_t status() const { return status_; }

private:
    CommandResult(Outcome outcome, std::string_view message, std::uint8_t status)
        : message_(message), outcome_(outcome), status_(status) {}

    // Owned: a message built from a table today may be built from a
    // formatted text tomorrow, and a result outlives the command set's buffers.
    std::string message_;
    Outcome outcome_;
    std::uint8_t status_;
};

}  // namespace sonoprog::core
