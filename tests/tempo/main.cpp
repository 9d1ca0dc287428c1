#include "BpmDetectorTest.h"
#include "TempoAlternativesTest.h"
#include "TempoEstimatorTest.h"

#include <QCoreApplication>
#include <QtTest>

int main(int argc, char **argv) {
    QCoreApplication app(argc, argv);
    int failures = 0;
    {
        TempoEstimatorTest t;
        failures += QTest::qExec(&t, argc, argv);
    }
    {
        TempoAlternativesTest t;
        failures += QTest::qExec(&t, argc, argv);
    }
    {
        BpmDetectorTest t;
        failures += QTest::qExec(&t, argc, argv);
    }
    return failures;
}
