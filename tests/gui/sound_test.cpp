// Beeps through a real sound server: a private PulseAudio with a null sink,
// whose monitor is recorded while the tone plays. Skipped where the server
// program is not installed.
#include <pulse/error.h>
#include <pulse/simple.h>

#include <QDir>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>
#include <QThread>

#include <atomic>
#include <cmath>
#include <cstdint>
#include <thread>
#include <vector>

#include "app/beeper.h"

namespace {

constexpr unsigned kRate = 44100;

struct Burst {
    double seconds = 0;  // how long the signal was above the noise
    double hz = 0;       // from its zero crossings
};

// The loud stretch of a recording: its length and its frequency.
Burst Analyse(const std::vector<std::int16_t>& samples) {
    std::size_t first = samples.size(), last = 0;
    for (std::size_t i = 0; i < samples.size(); ++i) {
        if (std::abs(samples[i]) > 2000) {
            first = std::min(first, i);
            last = i;
        }
    }
    Burst burst;
    if (first >= last) return burst;
    int crossings = 0;
    for (std::size_t i = first + 1; i <= last; ++i)
        crossings += (samples[i - 1] < 0) != (samples[i] < 0);
    burst.seconds = static_cast<double>(last - first) / kRate;
    burst.hz = crossings / 2.0 / burst.seconds;
    return burst;
}

}  // namespace

class SoundTest : public QObject {
    Q_OBJECT
private slots:
    void aBeepIsARealToneAndReturnsWhenItHasSounded() {
        const QString server = QStandardPaths::findExecutable(QStringLiteral("pulseaudio"));
        if (server.isEmpty()) QSKIP("no PulseAudio server program installed");
        QTemporaryDir dir;
        const QString socket = dir.filePath(QStringLiteral("native"));
        QProcess pulse;
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(QStringLiteral("HOME"), dir.path());
        env.insert(QStringLiteral("XDG_RUNTIME_DIR"), dir.path());
        env.insert(QStringLiteral("XDG_CONFIG_HOME"), dir.path());
        pulse.setProcessEnvironment(env);
        pulse.setProcessChannelMode(QProcess::MergedChannels);
        pulse.start(server, {QStringLiteral("-n"), QStringLiteral("--daemonize=no"), QStringLiteral("--exit-idle-time=-1"),
                             QStringLiteral("--disable-shm"), QStringLiteral("-L"),
                             QStringLiteral("module-null-sink sink_name=kelvo_test rate=44100"), QStringLiteral("-L"),
                             QStringLiteral("module-native-protocol-unix auth-anonymous=1 socket=") + socket});
        QVERIFY(pulse.waitForStarted());
        QTRY_VERIFY_WITH_TIMEOUT(QFileInfo::exists(socket), 10000);
        const QByteArray address = "unix:" + socket.toLocal8Bit();
        qputenv("PULSE_SERVER", address);

        // Record the sink's monitor while the tone plays.
        pa_sample_spec sampleFormat{};
        sampleFormat.format = PA_SAMPLE_S16LE;
        sampleFormat.rate = kRate;
        sampleFormat.channels = 1;
        int error = 0;
        pa_simple* recorder = nullptr;
        QElapsedTimer waited;
        waited.start();
        while (recorder == nullptr && waited.elapsed() < 10000) {
            recorder = pa_simple_new(address.constData(), "kelvo-test", PA_STREAM_RECORD, "kelvo_test.monitor",
                                     "monitor", &sampleFormat, nullptr, nullptr, &error);
            if (recorder == nullptr) QThread::msleep(50);
        }
        QVERIFY2(recorder != nullptr, pa_strerror(error));
        std::vector<std::int16_t> recorded;
        std::atomic<bool> stop{false};
        std::thread reader([&] {
            std::vector<std::int16_t> chunk(kRate / 50);
            while (!stop) {
                if (pa_simple_read(recorder, chunk.data(), chunk.size() * sizeof(std::int16_t), nullptr) < 0) break;
                recorded.insert(recorded.end(), chunk.begin(), chunk.end());
            }
        });

        QElapsedTimer clock;
        clock.start();
        kelvo::app::Beeper beeper;
        beeper.PlayTone(831, 157);
        const qint64 took = clock.elapsed();
        QThread::msleep(300);  // the recorder's own latency, not the tone's
        stop = true;
        reader.join();
        pa_simple_free(recorder);
        beeper.Close();
        pulse.terminate();
        pulse.waitForFinished(5000);

        QVERIFY2(took >= 140, qPrintable(QStringLiteral("returned after %1 ms").arg(took)));
        const Burst burst = Analyse(recorded);
        QVERIFY2(std::abs(burst.hz - 831) < 25, qPrintable(QString::number(burst.hz)));
        QVERIFY2(std::abs(burst.seconds - 0.157) < 0.03, qPrintable(QString::number(burst.seconds)));
    }
};

QTEST_GUILESS_MAIN(SoundTest)
#include "sound_test.moc"
