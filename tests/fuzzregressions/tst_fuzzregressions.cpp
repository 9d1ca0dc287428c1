// Every input that ever made a fuzz target crash, hang or leak, replayed through the very
// entry that target runs (tests/common/FuzzEntries): one folder per target next to this
// file, named as scripts/fuzz.sh names the targets.
#include "FuzzEntries.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QtTest>

class FuzzRegressionsTest : public QObject {
    Q_OBJECT

    // Given by the build: __FILE__ may be relative to the build folder (compiler caches
    // rewrite paths), and the test runs elsewhere.
    static QString folder() { return QStringLiteral(QUILLORY_FUZZ_REGRESSIONS_DIR); }

private slots:
    void everyFolderIsATarget()
    {
        // A folder named after no target would never be replayed.
        const QStringList folders = QDir(folder()).entryList(QDir::Dirs | QDir::NoDotAndDotDot);
        QVERIFY(!folders.isEmpty());
        for (const QString &name : folders)
            QVERIFY2(FuzzEntries::targetNames().contains(name), qPrintable(name));
    }

    void inputsRunToTheEnd_data()
    {
        QTest::addColumn<QString>("target");
        QTest::addColumn<QString>("path");
        for (const QString &target : FuzzEntries::targetNames()) {
            const QDir dir(folder() + "/" + target);
            for (const QString &name : dir.entryList(QDir::Files, QDir::Name))
                QTest::newRow(qPrintable(target + "/" + name)) << target << dir.filePath(name);
        }
    }

    // Under the sanitizer build a crash, a leak or undefined behaviour fails here; in
    // every build a hang runs into the test's time limit.
    void inputsRunToTheEnd()
    {
        QFETCH(QString, target);
        QFETCH(QString, path);
        QFile f(path);
        QVERIFY(f.open(QIODevice::ReadOnly));
        const QByteArray bytes = f.readAll();
        QVERIFY(FuzzEntries::run(target, reinterpret_cast<const uint8_t *>(bytes.constData()), size_t(bytes.size())));
    }
};

int main(int argc, char **argv)
{
    QTemporaryDir config;
    qputenv("XDG_CONFIG_HOME", QFile::encodeName(config.path()));
    QStandardPaths::setTestModeEnabled(true);
    QCoreApplication app(argc, argv);
    FuzzRegressionsTest test;
    return QTest::qExec(&test, argc, argv);
}

#include "tst_fuzzregressions.moc"
