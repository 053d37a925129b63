#pragma once

#include <QWidget>
#include <filesystem>
#include <vector>

#include "audio/WavePeaks.h"

namespace sonoprog::editor {

// The selected section's sound under the table: for each pixel column the
// lowest and highest sample of its slice, drawn as one vertical line, with
// the 0x80 level as the centre line.
class WaveformStrip final : public QWidget {
    Q_OBJECT
public:
    explicit WaveformStrip(QWidget* parent = nullptr);

    // A section's WAV file (8-bit mono PCM); an empty path or a file that
    // fails the header check shows the centre line alone.
    void showWave(const std::filesystem::path& file);
    const std::vector<audio::ColumnPeak>& peaks() const { return peaks_; }
    const std::filesystem::path& file() const { return file_; }

protected:
    void paintEvent(QPaintEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;

private:
    void reload();
    // The y of an 8-bit level: 0xFF at the top, 0x00 at the bottom.
    int levelY(int level) const;

    std::filesystem::path file_;
    std::vector<audio::ColumnPeak> peaks_;
};

}  // namespace sonoprog::editor
