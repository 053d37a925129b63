#include "link/Link.h"

namespace sonoprog::link {

bool Link::Exchange(const core::Packet& command, core::Packet& reply) {
    core::Packet out = command;
    auto error = device_.transfer(Endpoint::CommandOut, out.data(), out.size());
    // The reply is read only after the command went out.
    if (!error) error = device_.transfer(Endpoint::ReplyIn, reply.data(), reply.size());
    if (error) {
        prompter_.showMessage("ERROR", *error, core::BoxIcon::Error);
        return false;
    }
    return true;
}

bool Link::BulkWrite(const std::uint8_t* data, std::size_t length) {
    // The device API takes a mutable buffer; an outgoing transfer never writes to it.
    if (device_.transfer(Endpoint::DataOut, const_cast<std::uint8_t*>(data), length)) {
        prompter_.showMessage("ERROR", "[USB] Failed to transmit data!", core::BoxIcon::Error);
        return false;
    }
    return true;
}

bool Link::BulkRead(std::uint8_t* buffer, std::size_t length) {
    if (device_.transfer(Endpoint::DataIn, buffer, length)) {
        prompter_.showMessage("ERROR", "[USB] Failed to receive data!", core::BoxIcon::Error);
        return false;
    }
    return true;
}

}  // namespace sonoprog::link
