#include <QTest>
class NoPromptSitesDialogTest : public QObject { Q_OBJECT };
QTEST_MAIN(NoPromptSitesDialogTest)
#include "NoPromptSitesDialogTest.moc"
