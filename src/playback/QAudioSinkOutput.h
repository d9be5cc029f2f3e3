// The output on the machine's default sound device: a Qt Multimedia audio sink in pull mode on a
// thread of its own, converting with libswresample where the device refuses the file's format,
// and following the default device when it changes or goes away.
#pragma once

#include <QAudioDevice>
#include <QObject>
#include <QThread>

#include <memory>

#include "playback/AudioOutput.h"
#include "playback/SampleConverter.h"

class QMediaDevices;

namespace korvanta {

class SinkWorker;

// The default output: a device output, or NoAudioOutput when KORVANTA_AUDIO_OUTPUT is "none".
std::unique_ptr<AudioOutput> makeDefaultAudioOutput();

// The device format a sink is opened with for audio of `format`: the file's own format when the
// device takes it as floats or 16-bit integers, else the device's preferred format.
DeviceFormat chooseDeviceFormat(const QAudioDevice& device, const AudioFormat& format);

class QAudioSinkOutput final : public QObject, public AudioOutput {
    Q_OBJECT
public:
    QAudioSinkOutput();
    ~QAudioSinkOutput() override;

    // Chooses the default device and its format and opens the sink on the audio thread, without
    // waiting for it (a sound server can take a second or two to start a stream). Returns false
    // when there is no device; a sink that fails to open later is reported as a lost device. A
    // running output asked for the same format on the same device stays as it is.
    bool start(const AudioFormat& format) override;
    bool isRunning() const override { return running_; }
    void stopEngine() override;

private:
    void devicesChanged();
    void sinkFailed();

    QThread thread_;
    SinkWorker* worker_ = nullptr;  // lives on thread_
    QMediaDevices* devices_ = nullptr;
    QAudioDevice device_;
    AudioFormat format_;
    DeviceFormat deviceFormat_;
    bool running_ = false;
};

}  // namespace korvanta
