// Without a sound server the real player neither waits nor fails.
#include <QElapsedTimer>
#include <QTest>

#include "app/beeper.h"

using namespace kelvo;

class BeepTest : public QObject {
    Q_OBJECT
private slots:
    void withoutASoundServerATwoSecondToneReturnsAtOnce() {
        // A server address where nothing listens: the connection fails at once.
        qputenv("PULSE_SERVER", "unix:/nonexistent/kelvo-test/native");
        QElapsedTimer clock;
        clock.start();
        app::Beeper beeper;
        beeper.PlayTone(831, 2000);
        beeper.PlayTone(1661, 2000);  // the failure is remembered, not retried
        QVERIFY2(clock.elapsed() < 1000, qPrintable(QString::number(clock.elapsed())));
    }
};

QTEST_MAIN(BeepTest)
#include "beep_test.moc"
