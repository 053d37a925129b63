#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>

namespace sonoprog::link {

enum class Endpoint : std::uint8_t {
    CommandOut = 0x01,
    ReplyIn = 0x82,
    DataOut = 0x03,
    DataIn = 0x84,
};

inline constexpr std::uint16_t kWriterVendorId = 0x04D8;
inline constexpr std::uint16_t kWriterProductId = 0x0052;

// Text shown when a transfer is tried while no Writer is open or after it
// went away (the same wording libusb uses for a vanished device).
inline constexpr const char* kNoDeviceText = "No such device (it may have been disconnected)";

// What stands where the Writer is: the libusb backend or the virtual Writer.
class WriterDevice {
public:
    virtual ~WriterDevice() = default;
    // Looks for the Writer; true when it is present (refreshes the stored path).
    virtual bool discover() = 0;
    virtual bool open() = 0;
    virtual void release() = 0;
    // Whether the link holds a usable handle. A Writer pulled out and plugged
    // back in before the window saw either event leaves a handle to a device
    // that is gone; discovery closes such a handle.
    virtual bool isOpen() const = 0;
    // One synchronous transfer. nullopt on success; on failure the system's
    // text for the error, which the link shows to the user.
    virtual std::optional<std::string> transfer(Endpoint endpoint, std::uint8_t* data,
                                                std::size_t length) = 0;
    // Called on the window's thread whenever any USB device arrives or leaves.
    virtual void setDeviceChangeHandler(std::function<void()> handler) = 0;
};

}  // namespace sonoprog::link
