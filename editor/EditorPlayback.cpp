#include "editor/EditorPage.h"

#include <QAudioFormat>
#include <QAudioSink>
#include <QBuffer>
#include <QFile>
#include <QMediaDevices>
#include <QPushButton>

#include "editor/EditorOperations.h"
#include "editor/WaveFile.h"

namespace sonoprog::editor {

// Play / Stop of the page: the selected section's sound through the system's
// default audio output.

void EditorPage::setAudioOutputAvailable(bool available) {
    audioOutput_ = available;
    if (!available) stopPlaying();
    BT_Edit_Play->setToolTip(QString::fromLatin1(available ? kPlayHint : kNoAudioHint));
    updatePlayButton();
}

void EditorPage::updatePlayButton() {
    // Locked with the page (Add / Replace's state says whether it is) and
    // only for a used row; while playing it stays on, to stop.
    const bool can =
        audioOutput_ && BT_Edit_SecAdd->isEnabledTo(this) && table_.isUsed(table_.currentRow());
    BT_Edit_Play->setEnabled(can || isPlaying());
    BT_Edit_Play->setText(isPlaying() ? QStringLiteral("Stop") : QStringLiteral("Play"));
}

void EditorPage::stopPlaying() {
    if (sink_) {
        QAudioSink* sink = sink_;
        sink_ = nullptr;
        sink->disconnect(this);
        sink->stop();
        sink->deleteLater();
    }
    if (playing_) {
        playing_->deleteLater();
        playing_ = nullptr;
    }
    if (BT_Edit_Play) updatePlayButton();
}

void EditorPage::BT_Edit_PlayClick() {
    if (isPlaying()) {
        stopPlaying();
        return;
    }
    if (!audioOutput_) {
        setHint(kNoAudioHint);
        return;
    }
    const int row = table_.currentRow();
    if (!table_.isUsed(row) || !BT_Edit_SecAdd->isEnabledTo(this)) return;
    const std::string file = table_.cell(row, kColFile);
    const WaveHeaderCheck check = CheckWaveHeader(file);
    if (check.code != kWaveOk) {
        setHint(buildStatusText(check.code));
        return;
    }
    QFile in(gui::fromLocal(file));
    if (!in.open(QIODevice::ReadOnly) || !in.seek(static_cast<qint64>(kWaveHeaderSize))) {
        setHint(buildStatusText(kWaveOpenFailed));
        return;
    }
    // The data chunk alone: what follows it in the file is not sound.
    playing_ = new QBuffer(this);
    playing_->setData(in.read(static_cast<qint64>(check.size)));
    playing_->open(QIODevice::ReadOnly);
    QAudioFormat format;
    format.setSampleRate(static_cast<int>(check.rate));
    format.setChannelCount(1);
    format.setSampleFormat(QAudioFormat::UInt8);
    sink_ = new QAudioSink(QMediaDevices::defaultAudioOutput(), format, this);
    connect(sink_, &QAudioSink::stateChanged, this, [this](QAudio::State state) {
        if (state == QAudio::IdleState || state == QAudio::StoppedState) stopPlaying();
    });
    sink_->start(playing_);
    updatePlayButton();
}

}  // namespace sonoprog::editor
