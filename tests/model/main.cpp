#include <QCoreApplication>
#include <QStandardPaths>

int runLoopTest(int argc, char **argv);
int runSlicerTest(int argc, char **argv);
int runThreadsTest(int argc, char **argv);

int main(int argc, char **argv) {
    QCoreApplication app(argc, argv);
    QStandardPaths::setTestModeEnabled(true);
    int failures = 0;
    failures += runLoopTest(argc, argv);
    failures += runSlicerTest(argc, argv);
    failures += runThreadsTest(argc, argv);
    return failures;
}
