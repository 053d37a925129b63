#include "production/ToneSounds.h"

#include <QApplication>
#include <QAudioFormat>
#include <QAudioSink>
#include <QBuffer>
#include <QMediaDevices>
#include <algorithm>
#include <cmath>
#include <utility>
#include <vector>

namespace sonoprog::production {

namespace {

// 16-bit mono samples of a tone with soft edges (no click).
QByteArray toneSamples(const std::vector<std::pair<double, int>>& notes, int rate) {
    QByteArray bytes;
    for (const auto& [frequency, ms] : notes) {
        const int n = rate * ms / 1000;
        for (int i = 0; i < n; ++i) {
            const double edge = std::min({1.0, i / (rate * 0.005), (n - i) / (rate * 0.005)});
            const double v = frequency > 0 ? std::sin(2 * M_PI * frequency * i / rate) : 0.0;
            const auto sample = static_cast<qint16>(v * edge * 12000);
            bytes.append(reinterpret_cast<const char*>(&sample), sizeof sample);
        }
    }
    return bytes;
}

}  // namespace

struct ToneSounds::Impl {
    QAudioFormat format;
    std::unique_ptr<QAudioSink> sink;
    QBuffer buffer;
    QByteArray passTone;
    QByteArray failTone;

    void play(const QByteArray& tone) {
        const QAudioDevice device = QMediaDevices::defaultAudioOutput();
        if (device.isNull() || !device.isFormatSupported(format)) {
            QApplication::beep();
            return;
        }
        if (sink) sink->stop();
        buffer.close();
        buffer.setData(tone);
        buffer.open(QIODevice::ReadOnly);
        sink = std::make_unique<QAudioSink>(device, format);
        sink->start(&buffer);
    }
};

ToneSounds::ToneSounds() : impl_(std::make_unique<Impl>()) {
    impl_->format.setSampleRate(22050);
    impl_->format.setChannelCount(1);
    impl_->format.setSampleFormat(QAudioFormat::Int16);
    impl_->passTone = toneSamples({{1760, 150}}, 22050);
    impl_->failTone = toneSamples({{330, 180}, {0, 60}, {330, 180}}, 22050);
}
ToneSounds::~ToneSounds() = default;
void ToneSounds::passed() {
    impl_->play(impl_->passTone);
}
void ToneSounds::failed() {
    impl_->play(impl_->failTone);
}

}  // namespace sonoprog::production
