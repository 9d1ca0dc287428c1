#include "OfflineRenderTest.h"

#include <QApplication>
#include <QtTest>

int main(int argc, char **argv)
{
    QApplication app(argc, argv);
    int status = 0;
    {
        OfflineRenderTest t;
        status |= QTest::qExec(&t, argc, argv);
    }
    return status;
}
