#include <QTest>
class WebHostTest : public QObject { Q_OBJECT };
QTEST_MAIN(WebHostTest)
#include "WebHostTest.moc"
