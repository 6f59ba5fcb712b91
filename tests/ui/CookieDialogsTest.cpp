#include <QLabel>
#include <QPushButton>
#include <QRadioButton>
#include <QTest>
#include <QTreeWidget>

#include "DialogTestSupport.h"
#include "ui/CookieHistoryDialog.h"
#include "ui/CookieOverrideListDialog.h"
#include "ui/CookieSettingsDialog.h"
#include "ui/CustomCookieSettingsDialog.h"
#include "ui/SiteCookieDialog.h"

namespace perchlight {
namespace {

using test::DialogEnvironment;
using test::MessageBoxAnswerer;
using test::RecordingBroadcast;
using Overrides = std::map<std::string, std::int32_t>;

const std::vector<std::pair<int, bool>> kToldTheOthers = {
    {kBroadcastReloadCookiePreferences, false}};

QAbstractButton* button(const QWidget& dialog, const QString& name) {
    auto* found = dialog.findChild<QAbstractButton*>(name);
    if (found == nullptr) {
        qFatal("no %s", qPrintable(name));
    }
    return found;
}

QAbstractButton* button(const QWidget& dialog, int id) {
    return button(dialog, QString("button%1").arg(id));
}

QStringList rowsOf(const QTreeWidget& list, int column = 0) {
    QStringList rows;
    for (int i = 0; i < list.topLevelItemCount(); ++i) {
        rows << list.topLevelItem(i)->text(column);
    }
    return rows;
}

void setOverrides(P3PPreferences& preferences, const Overrides& overrides) {
    CookiePreferences cookies = preferences.cookiePreferences();
    cookies.siteOverrides = overrides;
    preferences.setCookiePreferences(cookies);
}

QString cookieFile(const DialogEnvironment& environment) {
    return environment.file("p3pcookiepreferences.xml");
}

void saveScreenshot(QDialog& dialog, const QString& name) {
    const QString folder = qEnvironmentVariable("PERCHLIGHT_SCREENSHOT_DIR");
    if (!folder.isEmpty()) {
        dialog.show();
        dialog.adjustSize();
        dialog.grab().save(folder + "/" + name + ".png");
    }
}

}  // namespace

class CookieDialogsTest : public QObject {
    Q_OBJECT

  private slots:
    void settings_selectIsEnabledOnlyForTheCustomSetting() {
        DialogEnvironment environment;
        CookieSettingsDialog dialog(*environment.preferences, nullptr);
        QCOMPARE(dialog.windowTitle(), QString("Cookie Settings"));
        QVERIFY(static_cast<QRadioButton*>(button(dialog, 330))->isChecked());
        QVERIFY(!button(dialog, 334)->isEnabled());
        button(dialog, 333)->click();
        QVERIFY(button(dialog, 334)->isEnabled());
        button(dialog, 332)->click();
        QVERIFY(!button(dialog, 334)->isEnabled());
    }

    void settings_ok_writesAndTellsTheOthersOnlyForAChange() {
        DialogEnvironment environment;
        RecordingBroadcast broadcast;
        {
            CookieSettingsDialog dialog(*environment.preferences, &broadcast);
            button(dialog, 1)->click();
            QCOMPARE(dialog.result(), int(QDialog::Accepted));
            QVERIFY(!QFile::exists(cookieFile(environment)));
            QVERIFY(broadcast.sent.empty());
        }
        CookieSettingsDialog dialog(*environment.preferences, &broadcast);
        button(dialog, 332)->click();
        button(dialog, 1)->click();
        QCOMPARE(environment.preferences->cookiePreferences().setting, int(kCookiesNever));
        CookiePreferences written;
        QVERIFY(written.read(cookieFile(environment).toStdString()));
        QCOMPARE(written.setting, int(kCookiesNever));
        QVERIFY(broadcast.sent == kToldTheOthers);
    }

    void settings_ok_whenTheFileCannotBeWritten_showsErrorAndKeepsTheStore() {
        DialogEnvironment environment;
        QVERIFY(QDir(environment.home()).mkpath("p3pcookiepreferences.xml/occupied"));
        RecordingBroadcast broadcast;
        CookieSettingsDialog dialog(*environment.preferences, &broadcast);
        dialog.show();
        button(dialog, 331)->click();
        MessageBoxAnswerer answerer;
        button(dialog, 1)->click();
        QCOMPARE(answerer.seen.size(), 1);
        QVERIFY(answerer.seen.first().startsWith("Error: "));
        QVERIFY(dialog.isVisible());
        QCOMPARE(environment.preferences->cookiePreferences().setting, int(kCookiesMatching));
        QVERIFY(broadcast.sent.empty());
    }

    void custom_opensOnTheStoredValuesAndOkWritesThem() {
        DialogEnvironment environment;
        CookiePreferences cookies;
        cookies.setting = kCookiesCustom;
        cookies.customAccept = kCookieRuleNone;
        cookies.customHeaders = kCookieRuleAll;
        cookies.customCrossSite = kCookieRuleMatching;
        environment.preferences->setCookiePreferences(cookies);
        RecordingBroadcast broadcast;
        CustomCookieSettingsDialog dialog(*environment.preferences, &broadcast);
        QCOMPARE(dialog.windowTitle(), QString("Select Custom Cookie Settings"));
        QVERIFY(static_cast<QRadioButton*>(button(dialog, 338))->isChecked());
        QVERIFY(static_cast<QRadioButton*>(button(dialog, 343))->isChecked());
        button(dialog, 336)->click();
        button(dialog, 344)->click();
        button(dialog, 1)->click();
        const CookiePreferences stored = environment.preferences->cookiePreferences();
        QCOMPARE(stored.customAccept, int(kCookieRuleAll));
        QCOMPARE(stored.customCrossSite, int(kCookieRuleNone));
        QCOMPARE(stored.customHeaders, int(kCookieRuleAll));  // kept as it was
        QVERIFY(QFile::exists(cookieFile(environment)));
        QVERIFY(broadcast.sent == kToldTheOthers);
    }

    void history_listsTheSitesAndFollowsTheSelection() {
        DialogEnvironment environment;
        environment.preferences->recordCookieSite("b.example", "ads.example");
        environment.preferences->recordCookieSite("b.example", "<b>bold</b>.example");
        environment.preferences->recordCookieSite("a.example", "a.example");
        CookieHistoryDialog dialog(*environment.preferences);
        QCOMPARE(dialog.windowTitle(), QString("Cookie History"));
        auto* sites = dialog.findChild<QTreeWidget*>("list372");
        auto* others = dialog.findChild<QTreeWidget*>("list371");
        QCOMPARE(sites->headerItem()->text(0), QString("Sitename"));
        QCOMPARE(others->headerItem()->text(0), QString("Sitename"));
        QCOMPARE(rowsOf(*sites), (QStringList{"a.example", "b.example"}));
        QCOMPARE(sites->currentItem(), sites->topLevelItem(0));
        QCOMPARE(rowsOf(*others), QStringList());
        sites->setCurrentItem(sites->topLevelItem(1));
        QCOMPARE(rowsOf(*others), (QStringList{"<b>bold</b>.example", "ads.example"}));
        saveScreenshot(dialog, "cookie-history");
        sites->setCurrentItem(sites->topLevelItem(0));
        QCOMPARE(rowsOf(*others), QStringList());
    }

    void history_empty_showsNoRows() {
        DialogEnvironment environment;
        CookieHistoryDialog dialog(*environment.preferences);
        QCOMPARE(dialog.findChild<QTreeWidget*>("list372")->topLevelItemCount(), 0);
        QCOMPARE(dialog.findChild<QTreeWidget*>("list371")->topLevelItemCount(), 0);
    }

    void site_opensOnTheCurrentOverride() {
        DialogEnvironment environment;
        setOverrides(*environment.preferences, {{"s.example", kOverrideNeverAllow}});
        SiteCookieDialog dialog(*environment.preferences, nullptr, "s.example");
        QCOMPARE(dialog.windowTitle(), QString("Cookie Settings for : s.example"));
        QVERIFY(static_cast<QRadioButton*>(button(dialog, 310))->isChecked());
        SiteCookieDialog other(*environment.preferences, nullptr, "t.example");
        QVERIFY(static_cast<QRadioButton*>(button(other, 308))->isChecked());
    }

    // Which choices write the file, judged against the store at OK.
    void site_ok_writesOnlyAChange_data() {
        QTest::addColumn<int>("before");  // -1: no override
        QTest::addColumn<int>("choice");  // control
        QTest::addColumn<int>("after");
        QTest::addColumn<bool>("written");
        QTest::newRow("default, none before") << -1 << 308 << -1 << false;
        QTest::newRow("same override again") << 0 << 309 << 0 << false;
        QTest::newRow("default removes") << 2 << 308 << -1 << true;
        QTest::newRow("new override") << -1 << 311 << 1 << true;
        QTest::newRow("changed override") << 0 << 310 << 2 << true;
    }
    void site_ok_writesOnlyAChange() {
        QFETCH(int, before);
        QFETCH(int, choice);
        QFETCH(int, after);
        QFETCH(bool, written);
        DialogEnvironment environment;
        if (before >= 0) {
            setOverrides(*environment.preferences, {{"s.example", before}});
        }
        RecordingBroadcast broadcast;
        SiteCookieDialog dialog(*environment.preferences, &broadcast, "s.example");
        button(dialog, choice)->click();
        button(dialog, 1)->click();
        QCOMPARE(dialog.result(), int(QDialog::Accepted));
        const Overrides overrides = environment.preferences->cookiePreferences().siteOverrides;
        QCOMPARE(overrides.contains("s.example") ? overrides.at("s.example") : -1, after);
        QCOMPARE(QFile::exists(cookieFile(environment)), written);
        QCOMPARE(broadcast.sent == kToldTheOthers, written);
    }

    // Another window or process changed the override while the dialog was open.
    void site_ok_comparesWithTheStoreAtOk() {
        DialogEnvironment environment;
        RecordingBroadcast broadcast;
        SiteCookieDialog dialog(*environment.preferences, &broadcast, "s.example");
        setOverrides(*environment.preferences, {{"s.example", kOverrideNeverAllow}});
        button(dialog, 310)->click();
        button(dialog, 1)->click();
        QVERIFY(!QFile::exists(cookieFile(environment)));

        setOverrides(*environment.preferences, {{"t.example", kOverrideAlwaysAllow}});
        SiteCookieDialog opened(*environment.preferences, &broadcast, "t.example");
        setOverrides(*environment.preferences,
                     {{"t.example", kOverrideNeverAllow}, {"u.example", kOverrideAlwaysAllow}});
        button(opened, 309)->click();
        button(opened, 1)->click();
        QCOMPARE(
            environment.preferences->cookiePreferences().siteOverrides,
            (Overrides{{"t.example", kOverrideAlwaysAllow}, {"u.example", kOverrideAlwaysAllow}}));
        QVERIFY(QFile::exists(cookieFile(environment)));
    }

    void site_overrideList_deletingThisSite_isNotUndoneByOk() {
        DialogEnvironment environment;
        setOverrides(*environment.preferences, {{"s.example", kOverrideNeverAllow}});
        SiteCookieDialog dialog(*environment.preferences, nullptr, "s.example");
        QTimer::singleShot(0, &dialog, [] {
            auto* list = QApplication::activeModalWidget();
            auto* rows = list->findChild<QTreeWidget*>("list374");
            rows->setCurrentItem(rows->topLevelItem(0));
            button(*list, 354)->click();
            button(*list, 1)->click();
        });
        button(dialog, "buttonOverrideSiteList")->click();
        QVERIFY(static_cast<QRadioButton*>(button(dialog, 308))->isChecked());
        button(dialog, 1)->click();
        QVERIFY(environment.preferences->cookiePreferences().siteOverrides.empty());
    }

    void overrideList_showsTheOverridesWithDeleteGreyed() {
        DialogEnvironment environment;
        setOverrides(*environment.preferences, {{"a.example", kOverrideAlwaysAllow},
                                                {"b.example", kOverrideThisSession},
                                                {"c.example", kOverrideNeverAllow}});
        CookieOverrideListDialog dialog(*environment.preferences, nullptr);
        QCOMPARE(dialog.windowTitle(), QString("Cookie Override Site List"));
        auto* list = dialog.findChild<QTreeWidget*>("list374");
        QCOMPARE(list->headerItem()->text(0), QString("Web Site"));
        QCOMPARE(list->headerItem()->text(1), QString("Cookie Preference"));
        QCOMPARE(list->columnWidth(0), 300);
        QCOMPARE(list->columnWidth(1), 200);
        QCOMPARE(rowsOf(*list), (QStringList{"a.example", "b.example", "c.example"}));
        QCOMPARE(rowsOf(*list, 1),
                 (QStringList{"Always allow", "Allow for this session only", "Never Allow"}));
        QVERIFY(!button(dialog, 354)->isEnabled());
        list->setCurrentItem(list->topLevelItem(1));
        QVERIFY(button(dialog, 354)->isEnabled());
        list->clearSelection();
        QVERIFY(!button(dialog, 354)->isEnabled());
        list->setCurrentItem(list->topLevelItem(0));
        saveScreenshot(dialog, "cookie-override-list");
    }

    void overrideList_okWithoutDeleting_writesAndPostsNothing() {
        DialogEnvironment environment;
        setOverrides(*environment.preferences, {{"a.example", kOverrideAlwaysAllow}});
        RecordingBroadcast broadcast;
        CookieOverrideListDialog dialog(*environment.preferences, &broadcast);
        button(dialog, 1)->click();
        QVERIFY(!QFile::exists(cookieFile(environment)));
        QVERIFY(broadcast.sent.empty());
    }

    void overrideList_delete_takesEffectAtOkOnly() {
        DialogEnvironment environment;
        setOverrides(*environment.preferences,
                     {{"a.example", kOverrideAlwaysAllow}, {"b.example", kOverrideNeverAllow}});
        RecordingBroadcast broadcast;
        CookieOverrideListDialog dialog(*environment.preferences, &broadcast);
        auto* list = dialog.findChild<QTreeWidget*>("list374");
        list->setCurrentItem(list->topLevelItem(0));
        button(dialog, 354)->click();
        QCOMPARE(rowsOf(*list), QStringList{"b.example"});
        QCOMPARE(environment.preferences->cookiePreferences().siteOverrides.size(), 2u);
        // A site another dialog adds meanwhile is not lost to the rows shown at opening.
        setOverrides(*environment.preferences, {{"a.example", kOverrideAlwaysAllow},
                                                {"b.example", kOverrideNeverAllow},
                                                {"n.example", kOverrideThisSession}});
        button(dialog, 1)->click();
        QCOMPARE(
            environment.preferences->cookiePreferences().siteOverrides,
            (Overrides{{"b.example", kOverrideNeverAllow}, {"n.example", kOverrideThisSession}}));
        QVERIFY(QFile::exists(cookieFile(environment)));
        QVERIFY(broadcast.sent == kToldTheOthers);
    }

    void overrideList_cancel_changesNothing() {
        DialogEnvironment environment;
        setOverrides(*environment.preferences, {{"a.example", kOverrideAlwaysAllow}});
        CookieOverrideListDialog dialog(*environment.preferences, nullptr);
        auto* list = dialog.findChild<QTreeWidget*>("list374");
        list->setCurrentItem(list->topLevelItem(0));
        button(dialog, 354)->click();
        button(dialog, 2)->click();
        QCOMPARE(environment.preferences->cookiePreferences().siteOverrides.size(), 1u);
        QVERIFY(!QFile::exists(cookieFile(environment)));
    }

    // One process keeps a session-only override; another changes the cookie settings and tells
    // it (32803); its reload takes the new file and keeps the session-only choice.
    void reloadFromTheBroadcast_keepsSessionOnlyOverrides() {
        DialogEnvironment environment;
        P3PPreferences& here = *environment.preferences;
        {
            SiteCookieDialog dialog(here, nullptr, "session.example");
            button(dialog, 311)->click();
            button(dialog, 1)->click();
        }
        P3PPreferences elsewhere(environment.home().toStdString());
        elsewhere.loadPreferences();
        QVERIFY(!elsewhere.cookiePreferences().siteOverrides.contains("session.example"));
        RecordingBroadcast broadcast;
        {
            SiteCookieDialog dialog(elsewhere, &broadcast, "never.example");
            button(dialog, 310)->click();
            button(dialog, 1)->click();
        }
        QVERIFY(broadcast.sent == kToldTheOthers);
        here.readCookiePreferences(cookieFile(environment).toStdString());  // on 32803
        QCOMPARE(here.cookiePreferences().siteOverrides,
                 (Overrides{{"never.example", kOverrideNeverAllow},
                            {"session.example", kOverrideThisSession}}));
    }

    void help_opensTheCookieTopics() {
        DialogEnvironment environment;
        QStringList opened;
        const auto record = [&opened](const QString& path) { opened << path; };
        CookieSettingsDialog settings(*environment.preferences, nullptr);
        settings.setHelpOpener(record);
        button(settings, "buttonHelp")->click();
        SiteCookieDialog site(*environment.preferences, nullptr, "s.example");
        site.setHelpOpener(record);
        button(site, "buttonHelp")->click();
        QCOMPARE(opened, (QStringList{environment.home() + "/help/cookies.html#settings",
                                      environment.home() + "/help/cookies.html#site"}));
    }

    void screenshots() {
        if (qEnvironmentVariableIsEmpty("PERCHLIGHT_SCREENSHOT_DIR")) {
            QSKIP("PERCHLIGHT_SCREENSHOT_DIR names no folder for pictures");
        }
        DialogEnvironment environment;
        CookieSettingsDialog settings(*environment.preferences, nullptr);
        saveScreenshot(settings, "cookie-settings");
        CustomCookieSettingsDialog custom(*environment.preferences, nullptr);
        saveScreenshot(custom, "custom-cookie-settings");
        SiteCookieDialog site(*environment.preferences, nullptr, "www.example.com");
        saveScreenshot(site, "site-cookie-settings");
    }
};

}  // namespace perchlight

QTEST_MAIN(perchlight::CookieDialogsTest)
#include "CookieDialogsTest.moc"
