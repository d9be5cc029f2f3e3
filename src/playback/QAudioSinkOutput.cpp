#include "playback/QAudioSinkOutput.h"

#include <QAudioFormat>
#include <QAudioSink>
#include <QIODevice>
#include <QMediaDevices>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <vector>

namespace korvanta {

namespace {

constexpr uint32_t kPullFrames = 1024;   // input frames converted per step
constexpr double kSinkBufferSeconds = 0.1;

QAudioFormat toQt(const DeviceFormat& f) {
    QAudioFormat q;
    q.setSampleRate(f.sampleRate);
    q.setChannelCount(f.channelCount);
    switch (f.sampleType) {
        case DeviceSampleType::uint8: q.setSampleFormat(QAudioFormat::UInt8); break;
        case DeviceSampleType::int16: q.setSampleFormat(QAudioFormat::Int16); break;
        case DeviceSampleType::int32: q.setSampleFormat(QAudioFormat::Int32); break;
        case DeviceSampleType::float32: q.setSampleFormat(QAudioFormat::Float); break;
    }
    return q;
}

DeviceSampleType fromQt(QAudioFormat::SampleFormat f) {
    switch (f) {
        case QAudioFormat::UInt8: return DeviceSampleType::uint8;
        case QAudioFormat::Int16: return DeviceSampleType::int16;
        case QAudioFormat::Int32: return DeviceSampleType::int32;
        default: break;
    }
    return DeviceSampleType::float32;
}

}  // namespace

DeviceFormat chooseDeviceFormat(const QAudioDevice& device, const AudioFormat& format) {
    const int rate = static_cast<int>(format.sampleRate);
    for (auto type : {DeviceSampleType::float32, DeviceSampleType::int16}) {
        DeviceFormat wanted{rate, format.channelCount, type};
        if (rate > 0 && format.channelCount > 0 && device.isFormatSupported(toQt(wanted))) return wanted;
    }
    const QAudioFormat preferred = device.preferredFormat();
    DeviceFormat fallback{preferred.sampleRate() > 0 ? preferred.sampleRate() : 48000,
                          std::clamp(preferred.channelCount(), 1, 2), fromQt(preferred.sampleFormat())};
    if (preferred.sampleFormat() == QAudioFormat::Unknown) fallback.sampleType = DeviceSampleType::int16;
    return fallback;
}

// What the sink pulls from: converts the queue's audio into the device's bytes. Audio thread.
class PullDevice final : public QIODevice {
public:
    PullDevice(OutputQueue& queue, std::unique_ptr<SampleConverter> converter)
        : queue_(queue), converter_(std::move(converter)) {
        const int channels = converter_->inputFormat().channelCount;
        storage_.assign(size_t(channels) * kPullFrames, 0.0f);
        for (int c = 0; c < channels; ++c) pointers_.push_back(storage_.data() + size_t(c) * kPullFrames);
        stopCount_ = queue_.stopCount();
    }
    bool isSequential() const override { return true; }
    qint64 bytesAvailable() const override { return 1 << 20; }

protected:
    qint64 writeData(const char*, qint64) override { return -1; }
    qint64 readData(char* data, qint64 maxSize) override {
        const int frameBytes = converter_->outputFormat().bytesPerFrame();
        const qint64 wanted = maxSize - maxSize % frameBytes;
        if (const uint64_t stops = queue_.stopCount(); stops != stopCount_) {
            // What the resampler and the byte store hold belongs to a discarded run.
            stopCount_ = stops;
            pending_.clear();
            converter_->reset();
        }
        while (qint64(pending_.size()) < wanted) {
            const uint32_t got = queue_.pull(pointers_.data(), int(pointers_.size()), kPullFrames);
            if (got == 0) break;
            converter_->convert(pointers_.data(), got, pending_);
        }
        const qint64 taken = std::min<qint64>(wanted, qint64(pending_.size()));
        std::memcpy(data, pending_.data(), size_t(taken));
        pending_.erase(pending_.begin(), pending_.begin() + taken);
        const char silence = converter_->outputFormat().sampleType == DeviceSampleType::uint8 ? char(0x80) : 0;
        std::memset(data + taken, silence, size_t(wanted - taken));
        return wanted;
    }

private:
    OutputQueue& queue_;
    std::unique_ptr<SampleConverter> converter_;
    std::vector<float> storage_;
    std::vector<float*> pointers_;
    std::vector<uint8_t> pending_;
    uint64_t stopCount_ = 0;
};

// Owns the sink on the audio thread.
class SinkWorker final : public QObject {
    Q_OBJECT
public:
    explicit SinkWorker(OutputQueue& queue) : queue_(queue) {}
    ~SinkWorker() override { close(); }

    void open(const QAudioDevice& device, const AudioFormat& input, const DeviceFormat& output) {
        close();
        auto converter = SampleConverter::create(input, output);
        if (!converter) {
            emit failed();
            return;
        }
        pullDevice_ = std::make_unique<PullDevice>(queue_, std::move(converter));
        pullDevice_->open(QIODevice::ReadOnly);
        sink_ = std::make_unique<QAudioSink>(device, toQt(output));
        sink_->setBufferSize(qsizetype(output.sampleRate * kSinkBufferSeconds) * output.bytesPerFrame());
        connect(sink_.get(), &QAudioSink::stateChanged, this, [this](QAudio::State) {
            if (sink_ && (sink_->error() == QAudio::OpenError || sink_->error() == QAudio::FatalError)) {
                emit failed();
            }
        });
        sink_->start(pullDevice_.get());
        if (sink_->error() == QAudio::OpenError || sink_->error() == QAudio::FatalError) emit failed();
    }
    void close() {
        if (sink_) {
            sink_->disconnect(this);
            sink_->stop();
        }
        sink_.reset();
        pullDevice_.reset();
    }

signals:
    void failed();

private:
    OutputQueue& queue_;
    std::unique_ptr<PullDevice> pullDevice_;
    std::unique_ptr<QAudioSink> sink_;
};

std::unique_ptr<AudioOutput> makeDefaultAudioOutput() {
    const char* choice = std::getenv("KORVANTA_AUDIO_OUTPUT");
    if (choice && std::strcmp(choice, "none") == 0) return std::make_unique<NoAudioOutput>();
    return std::make_unique<QAudioSinkOutput>();
}

QAudioSinkOutput::QAudioSinkOutput() {
    thread_.setObjectName(QStringLiteral("audio output"));
    worker_ = new SinkWorker(queue());
    worker_->moveToThread(&thread_);
    connect(&thread_, &QThread::finished, worker_, &QObject::deleteLater);
    connect(worker_, &SinkWorker::failed, this, &QAudioSinkOutput::sinkFailed, Qt::QueuedConnection);
    thread_.start(QThread::TimeCriticalPriority);
    devices_ = new QMediaDevices(this);
    connect(devices_, &QMediaDevices::audioOutputsChanged, this, &QAudioSinkOutput::devicesChanged);
}

QAudioSinkOutput::~QAudioSinkOutput() {
    stop();
    QMetaObject::invokeMethod(worker_, [w = worker_] { w->close(); }, Qt::BlockingQueuedConnection);
    thread_.quit();
    thread_.wait();
}

bool QAudioSinkOutput::start(const AudioFormat& format) {
    const QAudioDevice device = QMediaDevices::defaultAudioOutput();
    if (device.isNull()) {
        stopEngine();
        return false;
    }
    const DeviceFormat deviceFormat = chooseDeviceFormat(device, format);
    if (running_ && device.id() == device_.id() && format == format_ && deviceFormat == deviceFormat_) return true;
    device_ = device;
    format_ = format;
    deviceFormat_ = deviceFormat;
    running_ = true;
    QMetaObject::invokeMethod(worker_, [w = worker_, device, format, deviceFormat] {
        w->open(device, format, deviceFormat);
    }, Qt::QueuedConnection);
    return true;
}

void QAudioSinkOutput::stopEngine() {
    if (!running_) return;
    running_ = false;
    QMetaObject::invokeMethod(worker_, [w = worker_] { w->close(); }, Qt::QueuedConnection);
}

void QAudioSinkOutput::sinkFailed() {
    if (!running_) return;
    stopEngine();
    reportDeviceLost();
}

void QAudioSinkOutput::devicesChanged() {
    if (!running_) return;
    const QAudioDevice fallback = QMediaDevices::defaultAudioOutput();
    if (fallback.isNull()) {
        stopEngine();
        reportDeviceLost();
        return;
    }
    if (fallback.id() == device_.id()) return;
    // The default moved (headphones in or out): what is scheduled goes on from the new device.
    running_ = false;
    if (!start(format_)) reportDeviceLost();
}

}  // namespace korvanta

#include "QAudioSinkOutput.moc"
