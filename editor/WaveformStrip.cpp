#include "editor/WaveformStrip.h"

#include <QPainter>

#include "editor/WaveFile.h"

namespace sonoprog::editor {

WaveformStrip::WaveformStrip(QWidget* parent) : QWidget(parent) {
    setAttribute(Qt::WA_OpaquePaintEvent);
}

void WaveformStrip::showWave(const std::filesystem::path& file) {
    file_ = file;
    reload();
}

void WaveformStrip::reload() {
    peaks_.clear();
    if (!file_.empty()) {
        const WaveHeaderCheck check = CheckWaveHeader(file_);
        if (check.code == kWaveOk)
            peaks_ = audio::wavePeaks(file_, check.size, width(), kWaveHeaderSize);
    }
    update();
}

int WaveformStrip::levelY(int level) const {
    const int h = height() - 1;
    return h - level * h / 255;
}

void WaveformStrip::paintEvent(QPaintEvent*) {
    QPainter p(this);
    p.fillRect(rect(), Qt::white);
    p.setPen(QColor(160, 160, 160));
    p.drawRect(rect().adjusted(0, 0, -1, -1));
    p.setPen(QColor(0, 0, 160));
    for (int x = 0; x < static_cast<int>(peaks_.size()); ++x)
        p.drawLine(x, levelY(peaks_[x].high), x, levelY(peaks_[x].low));
    p.setPen(QColor(255, 0, 0));
    const int centre = levelY(kPadSample);
    p.drawLine(0, centre, width() - 1, centre);
}

void WaveformStrip::resizeEvent(QResizeEvent*) {
    reload();
}

}  // namespace sonoprog::editor
