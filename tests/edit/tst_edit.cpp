#include <QtTest>
class TestEdit : public QObject { Q_OBJECT private slots: void placeholder() { QVERIFY(true); } };
QTEST_GUILESS_MAIN(TestEdit)
#include "tst_edit.moc"
