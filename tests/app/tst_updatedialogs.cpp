#include <QtTest>
class Placeholder : public QObject { Q_OBJECT private slots: void pending() {} };
QTEST_MAIN(Placeholder)
#include "tst_updatedialogs.moc"
