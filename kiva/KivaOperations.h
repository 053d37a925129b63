#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "core/FileChooser.h"
#include "core/ImageCompare.h"
#include "core/OperationFrame.h"
#include "core/OperationServices.h"
#include "ivr/IvrKeys.h"
#include "kiva/KivaCommands.h"

namespace sonoprog::kiva {

// The Kiva300 tab's two lasting fields, as text.
struct KivaFields {
    std::string loadFile;  // ED_Kiva_LoadFile: path of the loaded DAT file
    std::string chkSum;    // ED_Kiva_ChkSum: the image's check word, 4 hex digits
};

// The path with the extension of its file name (from the name's last dot)
// replaced by `extension`; a name without a dot gets `extension` appended.
std::string replaceExtension(std::string_view path, std::string_view extension);

// An ExtName that keeps the document in the DAT file's folder: no path
// separator, no "..".
bool safeExtName(std::string_view extension);

// The log line for a converter result other than 0.
std::string_view conversionMessage(int result);

// Load File, Application Note, Blank Check, Write and Verify of the Kiva300
// tab, without any window: the tab and the command line both drive these.
class KivaOperations {
public:
    // The dialog a front end shows to choose the DAT file.
    static const core::FileDialogRequest kImageDialog;

    // Blank check, write and verify need services.link.
    // DAT files are read with `keys`, the table the front end loaded at start-up.
    KivaOperations(KivaFields& fields, const core::OperationServices& services,
                   const ivr::IvrKeys& keys);

    // Load File of the DAT file at `path`, or of the path `choose` gives once
    // the heading is out (nullopt: the operator cancelled). True when a file
    // converted and the fields were replaced.
    bool loadImage(const std::string& path);
    bool loadImage(const core::ImageChoice& choose);
    // The document of the loaded DAT file, for the front end to open; nullopt
    // after the box that says why there is none. Never locks, never logs.
    std::optional<std::string> appNote();
    bool blankCheck();
    bool write();
    bool verify();
    // Reads the chip and compares it with the converted image byte for byte;
    // true when the whole chip was read (same or not).
    bool compare(core::ImageComparer& diff);

    // The position of the first byte the last failed verify found wrong.
    std::optional<std::uint32_t> firstMismatch() const { return firstMismatch_; }

private:
    KivaFields& fields_;
    core::OperationServices s_;
    ivr::IvrKeys keys_;
    std::optional<KivaCommands> commands_;  // over services.link, when there is one
    std::optional<std::uint32_t> firstMismatch_;
};

}  // namespace sonoprog::kiva
