#include <QTest>
class AboutDialogTest : public QObject { Q_OBJECT };
QTEST_MAIN(AboutDialogTest)
#include "AboutDialogTest.moc"
