#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "core/Clock.h"
#include "core/OperationFrame.h"
#include "core/OperationLog.h"
#include "core/OperationPane.h"
#include "core/Prompter.h"
#include "kiva/KivaCommands.h"
#include "link/WriterLink.h"

namespace sonoprog::kiva {

// The Kiva300 tab's two lasting fields, as text.
struct KivaFields {
    std::string loadFile;  // ED_Kiva_LoadFile: path of the loaded DAT file
    std::string checkSum;  // ED_Kiva_ChkSum: the image's check word, 4 hex digits
};

// Opens a local document with the desktop's default handler. Whether it
// exists or opens is not reported.
class DocumentOpener {
public:
    virtual ~DocumentOpener() = default;
    virtual void openDocument(const std::string& path) = 0;
};

// The path with the extension of its file name (from the name's last dot)
// replaced by `extension`; a name without a dot gets `extension` appended.
std::string KivaReplaceExtension(std::string_view path, std::string_view extension);

// An ExtName that keeps the document in the DAT file's folder: no path
// separator, no "..".
bool KivaSafeExtName(std::string_view extension);

// The log line for a converter result other than 0.
std::string_view KivaConversionMessage(int result);

// Load File, Application Note, Blank Check, Write and Verify of the Kiva300
// tab, without any window: the tab and the command line both drive these.
class KivaOperations {
public:
    KivaOperations(KivaFields& fields, core::OperationLog& log, core::TabLock& lock,
                   core::YieldHook& yield, core::Prompter& prompter, core::FileChooser& files,
                   core::Clock& clock, link::WriterLink& link, DocumentOpener& opener);

    // True when a file converted and the fields were replaced.
    bool loadFile();
    // True when a document was handed to the opener. Never locks, never logs.
    bool appNote();
    bool blankCheck();
    bool write();
    bool verify();

private:
    // Gauge while a pass runs: position x 100 / divisor + offset.
    struct GaugeFormula {
        std::uint32_t divisor;
        int offset;
    };

    void convertStep(core::OperationFrame& frame, std::uint8_t* image);
    void detectStep(core::OperationFrame& frame, std::uint8_t detectCode);
    void disableStep(core::OperationFrame& frame, std::uint8_t endCode);
    // Reads the chip block by block and compares; expected == nullptr: 0xFF.
    void comparePass(core::OperationFrame& frame, const std::uint8_t* expected,
                     std::string_view mismatch, GaugeFormula gauge);
    void programPass(core::OperationFrame& frame, const std::uint8_t* image);
    // Detect for reading, the compare pass, "Passed!" at 100, end reading, "  -> Done!".
    void readingPass(core::OperationFrame& frame, std::string_view stepText,
                     const std::uint8_t* expected, std::string_view mismatch, GaugeFormula gauge);

    KivaFields& fields_;
    core::OperationLog& log_;
    core::TabLock& lock_;
    core::YieldHook& yield_;
    core::Prompter& prompter_;
    core::FileChooser& files_;
    core::Clock& clock_;
    KivaCommands commands_;
    DocumentOpener& opener_;
};

}  // namespace sonoprog::kiva
