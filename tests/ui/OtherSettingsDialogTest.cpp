#include <QTest>
class OtherSettingsDialogTest : public QObject { Q_OBJECT };
QTEST_MAIN(OtherSettingsDialogTest)
#include "OtherSettingsDialogTest.moc"
