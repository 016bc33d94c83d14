#include <QtTest>
class Placeholder : public QObject { Q_OBJECT private slots: void pending() {} };
QTEST_GUILESS_MAIN(Placeholder)
#include "tst_updates.moc"
