#pragma once

#include "core/Prompter.h"
#include "core/WriterLink.h"
#include "link/WriterDevice.h"

namespace sonoprog::link {

// The Writer link: the transfers with their failure boxes, and the link state
// (connected flag) that only the connection monitor changes.
class Link final : public core::WriterLink {
public:
    Link(WriterDevice& device, core::Prompter& prompter) : device_(device), prompter_(prompter) {}

    bool Exchange(const core::Packet& command, core::Packet& reply) override;
    bool BulkWrite(const std::uint8_t* data, std::size_t length) override;
    bool BulkRead(std::uint8_t* buffer, std::size_t length) override;

    bool Discover() { return device_.discover(); }
    bool Open() { return device_.open(); }
    void Release() { device_.release(); }
    bool isOpen() const { return device_.isOpen(); }

    bool connected() const { return connected_; }
    void setConnected(bool connected) { connected_ = connected; }

    WriterDevice& device() { return device_; }

private:
    WriterDevice& device_;
    core::Prompter& prompter_;
    bool connected_ = false;
};

}  // namespace sonoprog::link
