#pragma once

// The Kiva300 chip in the tests: a DAT file with its fields and the checks of
// what the chip holds, which the USB backend tests and the reliability sweeps
// put on their own Writers, and the unit tests' rig around a virtual Writer.

#include <gtest/gtest.h>

#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "core/AppPaths.h"
#include "core/FileChooser.h"
#include "core/NumberText.h"
#include "core/OperationLog.h"
#include "ivr/Ivr2bin.h"
#include "ivr/IvrEncoder.h"
#include "kiva/KivaOperations.h"
#include "link/Link.h"
#include "sim/KivaChip.h"
#include "sim/VirtualWriter.h"
#include "tests/support/Fakes.h"
#include "tests/support/ImageBytes.h"
#include "tests/support/RigServices.h"
#include "tests/support/TempDir.h"

namespace sonoprog::test {

// A Kiva300 DAT file for the chip operations (part of it enciphered) and the
// image the converter makes of it, which is what the chip must end up holding.
struct KivaImage {
    // No key file beside the program: the converter's built-in keys.
    ivr::IvrKeys keys;
    explicit KivaImage(const TempDir& dir) : image(sweepImage(kiva::kKivaSize, 0x6B)) {
        const std::uint16_t word = ivr::ivrCheckWord(image.data(), image.size());
        image[14] = static_cast<std::uint8_t>(word);
        image[15] = static_cast<std::uint8_t>(word >> 8);
        const auto path = dir / "voice.dat";
        ivr::ImageToIvrFile(path, image.data(), image.size(), ivr::IvrLayout{32, 16, 2064}, keys);
        fields.loadFile = path.string();
        fields.chkSum = core::hex4(word);
    }
    KivaImage(const KivaImage&) = delete;
    KivaImage& operator=(const KivaImage&) = delete;

    bool onChip(sim::KivaChip& chip) const {
        std::vector<std::uint8_t> on(kiva::kKivaSize);
        chip.memory().read(0, on.data(), on.size());
        return on == image;
    }
    static bool blank(sim::KivaChip& chip) {
        for (std::size_t i = 0; i < kiva::kKivaSize; ++i)
            if (chip.memory().read(i) != 0xFF) return false;
        return true;
    }

    std::vector<std::uint8_t> image;
    kiva::KivaFields fields;
};

// The documents Application Note gave the front end to open, in order.
struct RecordingOpener {
    std::vector<std::string> opened;
};

// A virtual Writer with a Kiva300 chip, the recording fakes and the Kiva300
// operations over them, in a program folder without a key file.
struct KivaRig : ::testing::Test, RecordingServices {
    KivaRig() {
        writer.addChip(chip);
        writer.setLogging(true);
        link.Open();
    }

    std::string writeDat(const std::string& name, const std::vector<std::uint8_t>& img,
                         ivr::IvrLayout layout = {32, 16, 2064}) {
        const auto path = dir / name;
        EXPECT_TRUE(ivr::ImageToIvrFile(path, img.data(), img.size(), layout, keyTable));
        return path.string();
    }
    std::vector<std::uint8_t> blockCounts(std::uint8_t code) const {
        std::vector<std::uint8_t> n;
        for (const auto& r : writer.log())
            if (r.kind == sim::TransferRecord::Kind::Command && r.bytes[0] == code)
                n.push_back(r.bytes[2]);
        return n;
    }
    void programChip(const std::vector<std::uint8_t>& img) {
        chip->memory().write(0, img.data(), img.size());
    }

    TempDir dir, noKeys;
    sim::VirtualWriter writer;
    std::shared_ptr<sim::KivaChip> chip = std::make_shared<sim::KivaChip>();
    RecordingPrompter prompter;
    link::Link link{writer, prompter};
    RecordingOpener opener;
    kiva::KivaFields fields;
    core::AppPaths paths = core::AppPaths::forFolder(noKeys.path());
    core::OperationServices services = servicesOf(*this);
    ivr::IvrKeys keyTable = ivr::IvrKeys::fromFolder(noKeys.path());
    kiva::KivaOperations ops{fields, services, keyTable};

    // Load File and Application Note as the window runs them.
    bool loadFile() {
        return ops.loadImage(core::openDialogChoice(files, kiva::KivaOperations::kImageDialog));
    }
    bool appNote() {
        const auto document = ops.appNote();
        if (document) opener.opened.push_back(*document);
        return document.has_value();
    }
};

}  // namespace sonoprog::test
