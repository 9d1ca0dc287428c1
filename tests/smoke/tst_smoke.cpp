#include "TestAudio.h"
#include <QtTest>
#include <sndfile.h>

class SmokeTest : public QObject {
    Q_OBJECT
private slots:
    void fixtureRoundTrip()
    {
        QTemporaryDir dir;
        const QString path = dir.filePath("s.wav");
        QVERIFY(TestAudio::writeWav(path, 2, 44100, 1000, [](long long f, int c) { return c ? -0.25f : float(f) / 1000.0f; }));
        SF_INFO info{};
        SNDFILE *f = sf_open(QFile::encodeName(path).constData(), SFM_READ, &info);
        QVERIFY(f);
        QCOMPARE(int(info.frames), 1000);
        float fr[4];
        sf_readf_float(f, fr, 2);
        QCOMPARE(fr[2], 0.001f);
        QCOMPARE(fr[3], -0.25f);
        sf_close(f);
    }
};

QTEST_GUILESS_MAIN(SmokeTest)
#include "tst_smoke.moc"
