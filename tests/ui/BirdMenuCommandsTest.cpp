#include <QTest>
class BirdMenuCommandsTest : public QObject { Q_OBJECT };
QTEST_MAIN(BirdMenuCommandsTest)
#include "BirdMenuCommandsTest.moc"
