// The device output against a real sound server: a PulseAudio null sink started for this test in
// a folder of its own and stopped after it. Skipped, saying why, where PulseAudio is absent.
#include <QProcess>
#include <QStandardPaths>

#include <gtest/gtest.h>

#include <filesystem>

#include "playback/QAudioSinkOutput.h"
#include "support/QtTestSupport.h"
#include "support/TestAudio.h"

namespace korvanta::test {
namespace {

std::shared_ptr<PcmBuffer> tone(double rate, int channels, double seconds) {
    const auto frames = uint32_t(rate * seconds);
    std::shared_ptr<PcmBuffer> b = PcmBuffer::allocate({rate, channels}, frames);
    for (int c = 0; c < channels; ++c)
        for (uint32_t i = 0; i < frames; ++i) b->channel(c)[i] = 0.2f * float(std::sin(6.283185307 * 440.0 * i / rate));
    b->setFrameLength(frames);
    return b;
}

TEST(SoundServerSmokeTest, BuffersOfSeveralFormatsPlayToTheEndOnANullSink) {
    const QString server = QStandardPaths::findExecutable(QStringLiteral("pulseaudio"));
    if (server.isEmpty()) GTEST_SKIP() << "pulseaudio is not installed: no sound server to play to";
    ScratchFolder folder;
    const QString runtime = QString::fromStdString(folder.path().string());
    QProcess pulse;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("PULSE_RUNTIME_PATH"), runtime);
    env.insert(QStringLiteral("HOME"), runtime);
    pulse.setProcessEnvironment(env);
    pulse.start(server, {QStringLiteral("-n"), QStringLiteral("--daemonize=no"), QStringLiteral("--exit-idle-time=-1"),
                         QStringLiteral("--disable-shm"), QStringLiteral("-L"), QStringLiteral("module-null-sink"),
                         QStringLiteral("-L"), QStringLiteral("module-native-protocol-unix socket=") + runtime + "/native"});
    if (!pulse.waitForStarted(10000)) GTEST_SKIP() << "pulseaudio did not start";
    const auto socket = folder.path() / "native";
    if (!waitUntil([&] { return std::filesystem::exists(socket) || pulse.state() == QProcess::NotRunning; },
                   std::chrono::seconds(20)) ||
        pulse.state() == QProcess::NotRunning) {
        GTEST_SKIP() << "pulseaudio did not come up: " << pulse.readAllStandardError().toStdString();
    }
    qputenv("PULSE_SERVER", QByteArray("unix:") + socket.string().c_str());

    {
        QAudioSinkOutput output;
        for (const auto& [rate, channels] : {std::pair{44100.0, 2}, {96000.0, 2}, {48000.0, 6}, {22050.0, 1}}) {
            SCOPED_TRACE(std::to_string(int(rate)) + " Hz, " + std::to_string(channels) + " channels");
            ASSERT_TRUE(output.start({rate, channels})) << "the null sink is the default device";
            bool done = false;
            const uint64_t before = output.queue().framesPulled();
            auto buffer = tone(rate, channels, 0.3);
            output.scheduleBuffer(buffer, [&done] { done = true; });
            output.play();
            // The null sink takes a second or two to start a stream.
            EXPECT_TRUE(waitUntil([&] { return done; }, std::chrono::seconds(20))) << "played to its end";
            EXPECT_EQ(output.queue().framesPulled() - before, buffer->frameLength());
            output.pause();
        }
        output.stop();
    }
    pulse.terminate();
    if (!pulse.waitForFinished(5000)) pulse.kill();
}

}  // namespace
}  // namespace korvanta::test
