#include <QTest>
class EmbeddedContentDialogTest : public QObject { Q_OBJECT };
QTEST_MAIN(EmbeddedContentDialogTest)
#include "EmbeddedContentDialogTest.moc"
