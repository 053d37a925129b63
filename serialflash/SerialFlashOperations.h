#pragma once

#include <cstdint>
#include <string>

#include "core/AppPaths.h"
#include "core/Clock.h"
#include "core/OperationLog.h"
#include "core/OperationPane.h"
#include "core/Prompter.h"
#include "link/WriterLink.h"

namespace sonoprog::serialflash {

// The texts of the Series Flash tab's fields. The operations read them and
// write back what they change: deviceChange() memSize, loadFile() the last three.
struct SerialFlashFields {
    std::string device;    // CB_NOR_Device: names the device's section of Setup.ini
    std::string memSize;   // ED_NOR_MemSize: "Size" as decimal text, empty until picked
    std::string loadFile;  // ED_NOR_LoadFile: path of the loaded file
    std::string fileSize;  // ED_NOR_FileSize: its size in bytes, decimal
    std::string chkSum;    // ED_NOR_ChkSum: its image check sum, 8 hex digits
};

// Everything the operations report through and reach the Writer with.
struct NorServices {
    core::OperationLog& log;
    core::TabLock& lock;  // LockNORTab / UnlockNORTab
    core::YieldHook& yield;
    core::Prompter& prompter;
    core::FileChooser& files;
    const core::AppPaths& paths;  // where Setup.ini is
    link::WriterLink& link;
};

// The operations of the Series Flash tab, without any window: the tab and the
// command line both run these. Each returns whether it passed.
class SerialFlashOperations {
public:
    SerialFlashOperations(SerialFlashFields& fields, const NorServices& services)
        : fields_(fields), s_(services) {}
    SerialFlashOperations(SerialFlashFields& fields, core::OperationLog& log, core::TabLock& lock,
                          core::YieldHook& yield, core::Prompter& prompter,
                          core::FileChooser& files, const core::AppPaths& paths,
                          link::WriterLink& link)
        : SerialFlashOperations(fields,
                                NorServices{log, lock, yield, prompter, files, paths, link}) {}

    // CB_NOR_DeviceChange: the picked device's "Size" into memSize; a size
    // of 0 shows "Failed to get device infomation!". Neither locks nor logs.
    bool deviceChange();
    // BT_NOR_LoadFileClick: picks a BIN file and records path, size and sum.
    bool loadFile();
    // BT_NOR_BlankClick
    bool blankCheck();
    // BT_NOR_WriteClick: erase, write and verify.
    bool write();
    // BT_NOR_VerifyClick
    bool verify();

private:
    SerialFlashFields& fields_;
    NorServices s_;
    core::SystemClock clock_;  // the frame wants one; this tab writes no time lines
};

}  // namespace sonoprog::serialflash
