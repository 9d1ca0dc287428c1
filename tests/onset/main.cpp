#include "OnsetDetectorTest.h"
#include "TestRunner.h"

#include <QCoreApplication>

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    return TestRunner::runAll<OnsetDetectorTest>(argc, argv);
}
