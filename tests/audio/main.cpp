#include <QCoreApplication>

int runReaderTest(int argc, char **argv);
int runAudioCacheTest(int argc, char **argv);
int runBackgroundReaderTest(int argc, char **argv);

int main(int argc, char **argv) {
    QCoreApplication app(argc, argv);
    int failures = 0;
    failures += runReaderTest(argc, argv);
    failures += runAudioCacheTest(argc, argv);
    failures += runBackgroundReaderTest(argc, argv);
    return failures;
}
