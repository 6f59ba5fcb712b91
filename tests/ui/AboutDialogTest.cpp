#include <QLabel>
#include <QPushButton>
#include <QTest>

#include "DialogDriver.h"
#include "ui/AboutDialog.h"

namespace perchlight {

class AboutDialogTest : public QObject {
    Q_OBJECT

  private slots:
    void escape_leavesItOpen_enterCloses() {
        AboutDialog about;
        QCOMPARE(about.objectName(), QString("dialog217"));
        bool openAfterEscape = false;
        test::DialogDriver driver("dialog217", [&](QWidget* dialog) {
            test::screenshot(*dialog, "dialog217-about");
            QTest::keyClick(dialog, Qt::Key_Escape);
            dialog->close();
            openAfterEscape = dialog->isVisible();
            QTest::keyClick(dialog->findChild<QPushButton*>("button1"), Qt::Key_Return);
        });
        QCOMPARE(about.exec(), 1);
        QVERIFY(openAfterEscape);
        QVERIFY(!about.findChild<QLabel*>("credits")->text().isEmpty());
    }

    // The box has a caption of its own ("About Perchlight"), though no close button.
    void window_hasTitleBarWithoutCloseButton() {
        AboutDialog about;
        QVERIFY(about.windowFlags().testFlag(Qt::WindowTitleHint));
        QVERIFY(!about.windowFlags().testFlag(Qt::WindowCloseButtonHint));
        QCOMPARE(about.windowTitle(), QString("About Perchlight"));
    }

    void ok_closesWithOne() {
        AboutDialog about;
        test::DialogDriver driver("dialog217", [](QWidget* dialog) {
            dialog->findChild<QPushButton*>("button1")->click();
        });
        QCOMPARE(about.exec(), 1);
    }
};

}  // namespace perchlight

QTEST_MAIN(perchlight::AboutDialogTest)
#include "AboutDialogTest.moc"
