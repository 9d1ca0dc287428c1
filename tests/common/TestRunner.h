#pragma once
// Runs several Qt Test classes in one program, each with the same command line and each
// destroyed before the next is built, and fails when any of them fails.

#include <QtTest>

namespace TestRunner {

template <class Test> int runOne(int argc, char **argv)
{
    Test test;
    return QTest::qExec(&test, argc, argv);
}

template <class... Tests> int runAll(int argc, char **argv)
{
    int status = 0;
    ((status |= runOne<Tests>(argc, argv)), ...);
    return status;
}

} // namespace TestRunner
