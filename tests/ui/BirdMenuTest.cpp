#include <QSignalSpy>
#include <QTest>

#include "ui/BirdCommands.h"
#include "ui/BirdMenu.h"

namespace perchlight {
namespace {

// The menu's entries, top level, as object names of items and submenus, "-" for a separator.
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

QSet<int> everyCommand() {
    QSet<int> commands;
    for (const int menu : {BirdMenu::kMenuEnabled, BirdMenu::kMenuDisabled}) {
        for (const BirdMenuItem& item : BirdMenu::items(menu)) {
            commands.insert(item.command);
            for (const BirdMenuItem& inner : item.items) {
                commands.insert(inner.command);
            }
        }
    }
    return commands;
}

}  // namespace

class BirdMenuTest : public QObject {
    Q_OBJECT

  private slots:
    void enabledMenu_holdsTheBirdCommands() {
        BirdMenuState state;
        state.webPage = true;
        state.onTitleBar = false;
        BirdMenu menu(state, BirdMenu::birdCommands());
        QCOMPARE(menu.objectName(), QString("menu245"));
        QCOMPARE(layoutOf(menu), (QStringList{"item32806", "item32808", "-", "item32780"}));
        QCOMPARE(menu.commandAction(kCommandMoveBird)->text(), QString("Move Bird"));
        QCOMPARE(menu.commandAction(kCommandReturnToTitleBar)->text(),
                 QString("Return Bird to Title Bar"));
        QCOMPARE(menu.commandAction(kCommandDisable)->text(), QString("&Disable Perchlight"));
        QVERIFY(menu.commandAction(kCommandEnable) == nullptr);
    }

    void disabledMenu_offersEnableAndGreysNothing() {
        BirdMenuState state;
        state.enabled = false;
        state.busy = true;
        state.onTitleBar = true;
        BirdMenu menu(state, BirdMenu::birdCommands());
        QCOMPARE(menu.objectName(), QString("menu215"));
        QCOMPARE(layoutOf(menu), (QStringList{"item32806", "item32808", "-", "item32791"}));
        QCOMPARE(menu.commandAction(kCommandEnable)->text(), QString("&Enable Perchlight"));
        for (const QAction* action : menu.actions()) {
            QVERIFY(action->isEnabled());
        }
    }

    // Docking again is greyed only on a checked web page while the bird is docked.
    void returnToTitleBar_enabling_data() {
        QTest::addColumn<bool>("busy");
        QTest::addColumn<bool>("webPage");
        QTest::addColumn<bool>("onTitleBar");
        QTest::addColumn<bool>("offered");
        QTest::newRow("web page, docked") << false << true << true << false;
        QTest::newRow("web page, floating") << false << true << false << true;
        QTest::newRow("ftp page, docked") << false << false << true << true;
        QTest::newRow("checking, docked") << true << true << true << true;
    }

    void returnToTitleBar_enabling() {
        QFETCH(bool, busy);
        QFETCH(bool, webPage);
        QFETCH(bool, onTitleBar);
        QFETCH(bool, offered);
        BirdMenuState state;
        state.busy = busy;
        state.webPage = webPage;
        state.onTitleBar = onTitleBar;
        BirdMenu menu(state, BirdMenu::birdCommands());
        QCOMPARE(menu.commandAction(kCommandReturnToTitleBar)->isEnabled(), offered);
        QVERIFY(menu.commandAction(kCommandMoveBird)->isEnabled());
    }

    void fullMenu_followsTheTable() {
        BirdMenuState state;
        state.webPage = true;
        BirdMenu menu(state, everyCommand());
        QCOMPARE(layoutOf(menu), (QStringList{"siteMenu", "preferencesMenu", "item32801", "-",
                                              "item32794", "item32795", "item32796", "-",
                                              "item32806", "item32808", "-", "item32780"}));
        const auto* site = menu.findChild<QMenu*>("siteMenu");
        QCOMPARE(site->title(), QString("About This &Site"));
        QCOMPARE(layoutOf(*site), (QStringList{"item32787", "item32788", "item32790", "item32798",
                                               "-", "item32797"}));
        QCOMPARE(menu.commandAction(32797)->text(), QString("&View P3P Source..."));
    }

    void fullMenu_siteItemsFollowThePolicy() {
        BirdMenuState state;
        state.webPage = true;
        state.hasDiscussion = true;
        BirdMenu menu(state, everyCommand());
        QVERIFY(menu.findChild<QMenu*>("siteMenu")->menuAction()->isEnabled());
        QVERIFY(menu.commandAction(32788)->isEnabled());   // Full Policy
        QVERIFY(!menu.commandAction(32790)->isEnabled());  // Opt-in/Opt-out Info
        QVERIFY(!menu.commandAction(32787)->isEnabled());  // Policy Summary
        QVERIFY(!menu.commandAction(32797)->isEnabled());  // View P3P Source
    }

    void fullMenu_siteGreyedWhileChecking() {
        BirdMenuState state;
        state.webPage = true;
        state.busy = true;
        BirdMenu menu(state, everyCommand());
        QVERIFY(!menu.findChild<QMenu*>("siteMenu")->menuAction()->isEnabled());
    }

    void choosingAnItem_reportsItsCommand() {
        BirdMenu menu(BirdMenuState{}, BirdMenu::birdCommands());
        QSignalSpy chosen(&menu, &BirdMenu::commandChosen);
        menu.commandAction(kCommandMoveBird)->trigger();
        QCOMPARE(chosen.count(), 1);
        QCOMPARE(chosen.at(0).at(0).toInt(), kCommandMoveBird);
    }
};

}  // namespace perchlight

QTEST_MAIN(perchlight::BirdMenuTest)
#include "BirdMenuTest.moc"
