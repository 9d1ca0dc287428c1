#include "AudioFile.h"
#include "AudioLogging.h"
#include "Invariant.h"
#include "RealtimeEvents.h"

#include <QLoggingCategory>
#include <QTemporaryDir>
#include <QtTest>

namespace {

// What reached the message handler, one "category.level: text" line each.
QStringList g_lines;

void capture(QtMsgType type, const QMessageLogContext &context, const QString &message) {
    const char *level = type == QtDebugMsg      ? "debug"
                        : type == QtInfoMsg     ? "info"
                        : type == QtWarningMsg  ? "warning"
                        : type == QtCriticalMsg ? "critical"
                                                : "fatal";
    g_lines
        << QStringLiteral("%1.%2: %3").arg(QLatin1String(context.category), QLatin1String(level), message);
}

// Collects what is logged while it lives; gives the test its handler and rules back after.
class LogCapture {
public:
    LogCapture() : m_previous(qInstallMessageHandler(capture)) { g_lines.clear(); }
    ~LogCapture() {
        qInstallMessageHandler(m_previous);
        QLoggingCategory::setFilterRules(QString());
    }
    QStringList take() { return std::exchange(g_lines, {}); }

private:
    QtMessageHandler m_previous;
};

} // namespace

class LoggingTest : public QObject {
    Q_OBJECT
    QTemporaryDir m_dir;

private slots:
    void subsystemSwitchedOffByItsRule() {
        const QString missing = m_dir.filePath(QStringLiteral("missing.wav"));
        RealtimeEvents::report(); // counts from earlier tests would add lines
        LogCapture log;
        AudioFile::createForPath(missing);
        QVERIFY(log.take().contains(
            QStringLiteral("quillory.audio.debug: Error opening file \"%1\"").arg(missing)));

        // The rules QT_LOGGING_RULES takes: the audio layer goes quiet, the others do not.
        QLoggingCategory::setFilterRules(QStringLiteral("quillory.audio.debug=false"));
        AudioFile::createForPath(missing);
        RealtimeEvents::note(RealtimeEvents::MidiSysexFinished);
        RealtimeEvents::report();
        QCOMPARE(log.take(),
                 QStringList{QStringLiteral(
                     "quillory.realtime.debug: MIDI system-exclusive message finished (1 time)")});
    }

    void brokenInvariantIsLoggedEvenWithProgressLinesOff() {
#ifndef QT_NO_DEBUG
        QSKIP("a debug build stops at a broken invariant");
#endif
        LogCapture log;
        QLoggingCategory::setFilterRules(QStringLiteral("quillory.audio.debug=false"));
        const int frames = 3;
        QVERIFY(INVARIANT_HOLDS(lcAudio, frames > 0));
        QVERIFY(log.take().isEmpty());
        QVERIFY(!INVARIANT_HOLDS(lcAudio, frames % 2 == 0));
        const QStringList lines = log.take();
        QCOMPARE(lines.size(), 1);
        QVERIFY2(lines.first().startsWith(
                     QStringLiteral("quillory.audio.critical: Invariant broken: frames % 2 == 0 (")),
                 qPrintable(lines.first()));
        QVERIFY2(lines.first().contains(QLatin1String("tst_logging.cpp:")), qPrintable(lines.first()));
    }
};

QObject *createLoggingTest() {
    return new LoggingTest;
}

#include "tst_logging.moc"
