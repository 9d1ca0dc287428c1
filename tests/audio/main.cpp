// Runs the reader, cache, background reader and logging tests in one program. Function names
// given on the command line (optionally with ":tag") select the test classes that have
// them; options go to every class.
#include <QCoreApplication>
#include <QMetaMethod>
#include <QtTest>

#include <memory>

QObject *createReaderTest();
QObject *createAudioCacheTest();
QObject *createBackgroundReaderTest();
QObject *createLoggingTest();

namespace {

bool hasSlot(const QObject &test, const QString &name) {
    const QMetaObject *mo = test.metaObject();
    for (int i = mo->methodOffset(); i < mo->methodCount(); ++i)
        if (QString::fromLatin1(mo->method(i).name()) == name)
            return true;
    return false;
}

} // namespace

int main(int argc, char **argv) {
    QCoreApplication app(argc, argv);
    const QStringList optionsWithValue = {"-o",          "-maxwarnings", "-eventdelay", "-keydelay",
                                          "-mousedelay", "-seed",        "-repeat",     "-platform"};
    QStringList functions;
    for (int i = 1; i < argc; ++i) {
        const QString arg = QString::fromLocal8Bit(argv[i]);
        if (!arg.startsWith('-') && !optionsWithValue.contains(QString::fromLocal8Bit(argv[i - 1])))
            functions << arg.section(':', 0, 0);
    }

    int failures = 0;
    for (auto create : {createReaderTest, createAudioCacheTest, createBackgroundReaderTest, createLoggingTest}) {
        std::unique_ptr<QObject> test(create());
        const bool selected =
            functions.isEmpty() || std::any_of(functions.begin(), functions.end(),
                                               [&](const QString &f) { return hasSlot(*test, f); });
        if (selected)
            failures += QTest::qExec(test.get(), argc, argv);
    }
    return failures;
}
