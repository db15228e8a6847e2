// Beeps through a real sound server: a private PulseAudio with a null sink,
// whose monitor is recorded while the tone plays (skipped where the server
// program is not installed); and without a server, a player that neither
// waits nor fails.
#include <QElapsedTimer>
#include <QFileInfo>
#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>
#include <QtEndian>

#include <cmath>
#include <cstdint>
#include <vector>

#include "app/beeper.h"

namespace {

constexpr unsigned kRate = 44100;

// The loud stretch of a recording: its length in seconds and its frequency from
// its zero crossings.
std::pair<double, double> Burst(const QByteArray& recorded) {
    std::vector<std::int16_t> samples;
    for (qsizetype i = 0; i + 1 < recorded.size(); i += 2)
        samples.push_back(qFromLittleEndian<std::int16_t>(recorded.constData() + i));
    std::size_t first = samples.size(), last = 0;
    for (std::size_t i = 0; i < samples.size(); ++i)
        if (std::abs(samples[i]) > 2000) first = std::min(first, i), last = i;
    if (first >= last) return {0, 0};
    int crossings = 0;
    for (std::size_t i = first + 1; i <= last; ++i) crossings += (samples[i - 1] < 0) != (samples[i] < 0);
    const double seconds = static_cast<double>(last - first) / kRate;
    return {seconds, crossings / 2.0 / seconds};
}

}  // namespace

class SoundTest : public QObject {
    Q_OBJECT
private slots:
    void withoutASoundServerATwoSecondToneReturnsAtOnce() {
        // A server address where nothing listens: the connection fails at once.
        qputenv("PULSE_SERVER", "unix:/nonexistent/kelvo-test/native");
        QElapsedTimer clock;
        clock.start();
        kelvo::app::Beeper beeper;
        beeper.PlayTone(831, 2000);
        beeper.PlayTone(1661, 2000);  // the failure is remembered, not retried
        QVERIFY2(clock.elapsed() < 1000, qPrintable(QString::number(clock.elapsed())));
    }

    void aBeepIsARealToneAndReturnsWhenItHasSounded() {
        const QString server = QStandardPaths::findExecutable(QStringLiteral("pulseaudio"));
        const QString recorder = QStandardPaths::findExecutable(QStringLiteral("parec"));
        if (server.isEmpty() || recorder.isEmpty()) QSKIP("no PulseAudio server or recorder installed");
        QTemporaryDir dir;
        const QString socket = dir.filePath(QStringLiteral("native"));
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        for (const char* name : {"HOME", "XDG_RUNTIME_DIR", "XDG_CONFIG_HOME"}) env.insert(QLatin1String(name), dir.path());
        env.insert(QStringLiteral("PULSE_SERVER"), QStringLiteral("unix:") + socket);
        qputenv("PULSE_SERVER", env.value(QStringLiteral("PULSE_SERVER")).toLocal8Bit());
        QProcess pulse, record;
        pulse.setProcessEnvironment(env);
        pulse.setProcessChannelMode(QProcess::MergedChannels);
        pulse.start(server, QStringList{"-n", "--daemonize=no", "--exit-idle-time=-1", "--disable-shm", "-L",
                                        "module-null-sink sink_name=kelvo_test rate=44100", "-L",
                                        "module-native-protocol-unix auth-anonymous=1 socket=" + socket});
        QTRY_VERIFY_WITH_TIMEOUT(QFileInfo::exists(socket), 10000);

        // The sink's monitor recorded (silence flows once it records), the tone played.
        record.setProcessEnvironment(env);
        record.start(recorder, QStringList{"--device=kelvo_test.monitor", "--raw", "--format=s16le", "--rate=44100",
                                           "--channels=1", "--latency-msec=20"});
        QTRY_VERIFY_WITH_TIMEOUT(record.bytesAvailable() > 0 || !record.readAll().isEmpty(), 10000);
        QElapsedTimer clock;
        clock.start();
        kelvo::app::Beeper beeper;
        beeper.PlayTone(831, 157);
        const qint64 took = clock.elapsed();
        QTest::qWait(300);  // the recorder's own latency, not the tone's
        const QByteArray recorded = record.readAll();
        beeper.Close();
        for (QProcess* p : {&record, &pulse}) p->terminate(), p->waitForFinished(5000);

        QVERIFY2(took >= 140, qPrintable(QStringLiteral("returned after %1 ms").arg(took)));
        const auto [seconds, hz] = Burst(recorded);
        QVERIFY2(std::abs(hz - 831) < 25, qPrintable(QString::number(hz)));
        QVERIFY2(std::abs(seconds - 0.157) < 0.03, qPrintable(QString::number(seconds)));
    }
};

QTEST_GUILESS_MAIN(SoundTest)
#include "sound_test.moc"
