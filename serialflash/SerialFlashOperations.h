#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "core/FileChooser.h"
#include "core/ImageCompare.h"
#include "core/OperationServices.h"

namespace sonoprog::serialflash {

// The texts of the Series Flash tab's fields. The operations read them and
// write back what they change: deviceChange() memSize, loadImage() the last three.
struct SerialFlashFields {
    std::string device;    // CB_NOR_Device: names the device's section of Setup.ini
    std::string memSize;   // ED_NOR_MemSize: "Size" as decimal text, empty until picked
    std::string loadFile;  // ED_NOR_LoadFile: path of the loaded file
    std::string fileSize;  // ED_NOR_FileSize: its size in bytes, decimal
    std::string chkSum;    // ED_NOR_ChkSum: its image check sum, 8 hex digits
};

// The operations of the Series Flash tab, without any window: the tab and the
// command line both run these. Each returns whether it passed.
class SerialFlashOperations {
public:
    // The dialog a front end shows to choose the image.
    static const core::FileDialogRequest kImageDialog;

    // Blank check, write and verify need services.link.
    SerialFlashOperations(SerialFlashFields& fields, const core::OperationServices& services)
        : fields_(fields), s_(services) {}

    // CB_NOR_DeviceChange: the picked device's "Size" into memSize; a size
    // of 0 shows "Failed to get device infomation!". Neither locks nor logs.
    bool deviceChange();
    // The same lookup without the box: what start-up does for the device it
    // shows, before there is a window to show a box over.
    bool showDevice();
    // BT_NOR_LoadFileClick: loads the BIN file at `path`, or at the path
    // `choose` gives once the heading is out, and records path, size and sum.
    bool loadImage(const std::string& path);
    bool loadImage(const core::ImageChoice& choose);
    // BT_NOR_BlankClick
    bool blankCheck();
    // BT_NOR_WriteClick: erase, write and verify.
    bool write();
    // BT_NOR_VerifyClick
    bool verify();

    // The chip's first `length` bytes (its whole Size when 0) into the file
    // at `path`, which is replaced only once it is complete.
    bool read(const std::string& path, std::uint64_t length = 0);
    bool erase();
    // Reads the chip over the loaded file's length and compares byte for
    // byte; true when the whole length was read (same or not).
    bool compare(core::ImageComparer& diff);
    // Detect with every device of the list in turn; the names of those that
    // answered. True when at least one did.
    bool probe(std::vector<std::string>& answered);

    // The address of the first byte the last failed verify found wrong.
    std::optional<std::uint64_t> firstMismatch() const { return firstMismatch_; }

private:
    SerialFlashFields& fields_;
    core::OperationServices s_;
    std::optional<std::uint64_t> firstMismatch_;
};

}  // namespace sonoprog::serialflash
