#include <QTest>

#include "DialogDriver.h"
#include "ui/BirdCommands.h"
#include "ui/BirdMenu.h"

namespace perchlight {
namespace {

QStringList layoutOf(const QMenu& menu) {
    QStringList names;
    for (const QAction* action : menu.actions()) {
        if (action->isSeparator()) {
            names << "-";
        } else if (action->menu() != nullptr) {
            names << action->menu()->objectName();
        } else {
            names << action->objectName();
        }
    }
    return names;
}

// Every command of every menu, the cookie dialogs included.
QSet<int> everyCommand() {
    QSet<int> commands;
    for (const int menu :
         {BirdMenu::kMenuEnabled, BirdMenu::kMenuDisabled, BirdMenu::kMenuWithCookies}) {
        for (const BirdMenuItem& item : BirdMenu::items(menu)) {
            commands.insert(item.command);
            for (const BirdMenuItem& inner : item.items) {
                commands.insert(inner.command);
            }
        }
    }
    return commands;
}

BirdMenuState checkedWebPage() {
    BirdMenuState state;
    state.webPage = true;
    state.policyEvaluated = true;
    state.hasDiscussion = true;
    state.hasOptOut = true;
    state.onTitleBar = false;
    return state;
}

bool siteMenuEnabled(const BirdMenu& menu) {
    return menu.findChild<QMenu*>("siteMenu")->menuAction()->isEnabled();
}

}  // namespace

class BirdMenuCommandsTest : public QObject {
    Q_OBJECT

  private slots:
    void agentMenu_holdsEveryCommandOfThisWindow() {
        BirdMenu menu(checkedWebPage(), BirdMenu::agentCommands());
        QCOMPARE(layoutOf(menu), (QStringList{"siteMenu", "preferencesMenu", "item32801", "-",
                                              "item32794", "item32795", "item32796", "-",
                                              "item32806", "item32808", "-", "item32780"}));
        QCOMPARE(layoutOf(*menu.findChild<QMenu*>("preferencesMenu")),
                 (QStringList{"item32783", "item32799", "item32785"}));
        for (const int command : {32787, 32788, 32790, 32798, 32797, 32799, 32785, 32801, 32794,
                                  32795, 32796, 32806, 32808, 32780}) {
            QVERIFY2(menu.commandAction(command)->isEnabled(),
                     qPrintable(QString::number(command)));
        }
        // The privacy settings dialog is not there yet.
        QVERIFY(!menu.commandAction(kCommandPrivacy)->isEnabled());
        menu.popup(QPoint(10, 10));
        test::screenshot(menu, "menu245");
    }

    void cookieMenu214_followsItsTable() {
        BirdMenuState state = checkedWebPage();
        state.cookieCommands = true;
        BirdMenu menu(state, everyCommand());
        QCOMPARE(menu.objectName(), QString("menu214"));
        QCOMPARE(layoutOf(menu),
                 (QStringList{"siteMenu", "preferencesMenu", "item32782", "item32801", "-",
                              "item32794", "item32795", "item32796", "-", "item32780"}));
        QCOMPARE(layoutOf(*menu.findChild<QMenu*>("siteMenu")),
                 (QStringList{"item32787", "item32788", "item32790", "item32798", "-", "item32797",
                              "-", "item32800", "item32789"}));
        QCOMPARE(layoutOf(*menu.findChild<QMenu*>("preferencesMenu")),
                 (QStringList{"item32783", "item32784", "item32799", "item32785", "item374"}));
        QCOMPARE(menu.commandAction(kCommandOther)->text(), QString("Ot&her..."));
        QCOMPARE(menu.commandAction(kCommandCookieReport)->text(), QString("Cookie &Report..."));
    }

    // The agent carries out all five cookie commands: menu 214 holds each of them.
    void cookieMenu214_withTheAgentsCommands_holdsEveryCookieDialog() {
        BirdMenuState state = checkedWebPage();
        state.cookieCommands = true;
        BirdMenu menu(state, BirdMenu::agentCommands());
        for (const int command : {kCommandCookieReport, kCommandOverrideCookies, kCommandCookies,
                                  kCommandCookieOverrideSites, kCommandCookieHistory}) {
            QVERIFY2(menu.commandAction(command) != nullptr, qPrintable(QString::number(command)));
        }
    }

    void disabledChecking_offersHelpTutorialAboutAndEnable() {
        BirdMenuState state = checkedWebPage();
        state.enabled = false;
        state.cookieCommands = true;
        BirdMenu menu(state, BirdMenu::agentCommands());
        QCOMPARE(menu.objectName(), QString("menu215"));
        QCOMPARE(layoutOf(menu), (QStringList{"item32794", "item32795", "item32796", "-",
                                              "item32806", "item32808", "-", "item32791"}));
        QCOMPARE(menu.commandAction(kCommandTour)->text(), QString("&Tutorial"));
    }

    void enabling_data() {
        QTest::addColumn<QString>("case_");
        QTest::addColumn<bool>("site");
        QTest::addColumn<bool>("summary");
        QTest::addColumn<bool>("fullPolicy");
        QTest::addColumn<bool>("optOut");
        QTest::addColumn<bool>("returnToTitleBar");
        QTest::newRow("running check") << "busy" << false << true << true << true << true;
        QTest::newRow("file page") << "file" << false << true << true << true << true;
        QTest::newRow("no DISCURI") << "nodiscuri" << true << true << false << true << true;
        QTest::newRow("not evaluated") << "unevaluated" << true << false << true << true << true;
        QTest::newRow("docked bird") << "docked" << true << true << true << true << false;
    }

    void enabling() {
        QFETCH(QString, case_);
        QFETCH(bool, site);
        QFETCH(bool, summary);
        QFETCH(bool, fullPolicy);
        QFETCH(bool, optOut);
        QFETCH(bool, returnToTitleBar);
        BirdMenuState state = checkedWebPage();
        state.onTitleBar = case_ == "file" || case_ == "busy" || case_ == "docked";
        state.busy = case_ == "busy";
        state.webPage = case_ != "file";
        state.hasDiscussion = case_ != "nodiscuri";
        state.policyEvaluated = case_ != "unevaluated";
        BirdMenu menu(state, BirdMenu::agentCommands());
        QCOMPARE(siteMenuEnabled(menu), site);
        if (site) {
            QCOMPARE(menu.commandAction(kCommandPolicySummary)->isEnabled(), summary);
            QCOMPARE(menu.commandAction(kCommandViewSource)->isEnabled(), summary);
            QCOMPARE(menu.commandAction(kCommandFullPolicy)->isEnabled(), fullPolicy);
            QCOMPARE(menu.commandAction(kCommandOptOutInfo)->isEnabled(), optOut);
        }
        QCOMPARE(menu.commandAction(kCommandReturnToTitleBar)->isEnabled(), returnToTitleBar);
        QVERIFY(menu.commandAction(kCommandMoveBird)->isEnabled());
        QVERIFY(menu.commandAction(kCommandOther)->isEnabled());
    }
};

}  // namespace perchlight

QTEST_MAIN(perchlight::BirdMenuCommandsTest)
#include "BirdMenuCommandsTest.moc"
