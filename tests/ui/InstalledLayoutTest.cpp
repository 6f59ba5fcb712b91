// The settings dialogs over the installed layout: the shipped files read-only under a prefix, the
// user's files in XDG folders that do not exist yet.
#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QListWidget>
#include <QPushButton>
#include <QRadioButton>
#include <QTemporaryDir>
#include <QTest>
#include <memory>

#include "DialogDriver.h"
#include "DialogTestSupport.h"
#include "browser/AgentServices.h"
#include "prefs/BirdSettings.h"
#include "prefs/CustomRuleSet.h"
#include "ui/NoPromptSitesDialog.h"
#include "ui/PrivacySettingsDialog.h"
#include "util/DataLocations.h"

namespace perchlight {
namespace {

QAbstractButton* button(const QDialog& dialog, int id) {
    auto* found = dialog.findChild<QAbstractButton*>(QString("button%1").arg(id));
    if (found == nullptr) {
        qFatal("no button%d", id);
    }
    return found;
}

// Every file under a folder with its size and time, to tell that nothing was written there.
QStringList listing(const QString& folder) {
    QStringList entries;
    QDirIterator it(folder, QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden,
                    QDirIterator::Subdirectories);
    while (it.hasNext()) {
        it.next();
        entries << it.filePath() + " " + QString::number(it.fileInfo().size()) + " " +
                       QString::number(it.fileInfo().lastModified().toMSecsSinceEpoch());
    }
    entries.sort();
    return entries;
}

}  // namespace

class InstalledLayoutTest : public QObject {
    Q_OBJECT

  private slots:
    void init() {
        BirdSettings::reset();
        m_root = std::make_unique<QTemporaryDir>();
        m_shipped = m_root->filePath("usr/share/perchlight");
        QDir().mkpath(m_shipped);
        for (const char* name :
             {"appel-low.xml", "appel-medium.xml", "appel-high.xml", "BaseDataschema-std.xml"}) {
            QFile::copy(QString(PERCHLIGHT_DATA_DIR) + "/" + name, m_shipped + "/" + name);
        }
        QFile(m_shipped).setPermissions(QFile::ReadOwner | QFile::ExeOwner | QFile::ReadOther |
                                        QFile::ExeOther);
        qunsetenv("PERCHLIGHT_HOME");
        qputenv("XDG_DATA_HOME", m_root->filePath("home/data").toUtf8());
        qputenv("XDG_CACHE_HOME", m_root->filePath("home/cache").toUtf8());
        qputenv("XDG_CONFIG_HOME", m_root->filePath("home/config").toUtf8());
        QDir().mkpath(m_root->filePath("home/config/Halvard"));
        test::DialogEnvironment::write(m_root->filePath("home/config/Halvard/Perchlight.conf"),
                                       "Privacy Level=2\n");
        m_before = listing(m_shipped);
        m_services =
            std::make_unique<AgentServices>(DataLocations::installed(m_shipped.toStdString()));
        m_services->preferences().loadPreferences();
        m_user = m_root->filePath("home/data/perchlight");
    }
    void cleanup() {
        QCOMPARE(listing(m_shipped), m_before);  // nothing is ever written among shipped files
        m_services.reset();
        QFile(m_shipped).setPermissions(QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
        m_root.reset();
        for (const char* name : {"XDG_DATA_HOME", "XDG_CACHE_HOME", "XDG_CONFIG_HOME"}) {
            qunsetenv(name);
        }
        BirdSettings::reset();
    }

    void services_createTheUsersFoldersAndReadTheShippedRuleSets() {
        QVERIFY(QFileInfo(m_user).isDir());
        QCOMPARE(QFile(m_user).permissions() & 0x0077, QFile::Permissions());
        QVERIFY(QFileInfo(m_root->filePath("home/cache/perchlight")).isDir());
        QCOMPARE(QString::fromStdString(m_services->preferences().activeRuleSetPath(false)),
                 m_shipped + "/appel-medium.xml");
        std::string ruleSet;
        QVERIFY(m_services->preferences().readActiveRuleSet(ruleSet));
    }

    void privacyDialog_savesTheCustomRuleSetInTheUsersFolder() {
        test::RecordingBroadcast broadcast;
        test::ScriptedChooser chooser;
        PrivacySettingsDialog dialog(m_services->preferences(), &broadcast, nullptr, &chooser);
        dialog.show();
        button(dialog, 325)->click();  // noAccess: the custom level
        const CustomSettings shown = dialog.shownSettings();
        button(dialog, 1)->click();
        QCOMPARE(dialog.result(), int(QDialog::Accepted));
        QCOMPARE(CustomRuleSet::read((m_user + "/p3ppreferences.xml").toStdString()), shown);
        QCOMPARE(QString::fromStdString(m_services->preferences().activeRuleSetPath(false)),
                 m_user + "/p3ppreferences.xml");
        QVERIFY(!QFile::exists(m_shipped + "/p3ppreferences.xml"));
    }

    void privacyDialog_importsIntoTheUsersFolder() {
        test::DialogEnvironment::write(m_root->filePath("rules.xml"),
                                       test::DialogEnvironment::read(m_shipped + "/appel-low.xml"));
        test::RecordingBroadcast broadcast;
        test::ScriptedChooser chooser;
        chooser.openAnswer = m_root->filePath("rules.xml");
        PrivacySettingsDialog dialog(m_services->preferences(), &broadcast, nullptr, &chooser);
        dialog.show();
        button(dialog, PrivacySettingsDialog::kImportButton)->click();
        QVERIFY(QFileInfo(dialog.stagedPath()).absolutePath() == m_user);
        button(dialog, 1)->click();
        QCOMPARE(dialog.result(), int(QDialog::Accepted));
        QVERIFY(QFile::exists(m_user + "/appel-imported.xml"));
        QCOMPARE(QString::fromStdString(m_services->preferences().activeRuleSetPath(false)),
                 m_user + "/appel-imported.xml");
    }

    void noPromptDialog_savesTheSitesInTheUsersFolder() {
        P3PPreferences& preferences = m_services->preferences();
        preferences.setNoPromptList({Url("http://a.example/"), Url("http://b.example/")});
        QVERIFY(QFile::exists(m_user + "/NoPromptSites.p3p"));
        const QString a = QString::fromStdString(Url("http://a.example/").str());
        test::DialogDriver driver("dialog242", [&](QWidget* dialog) {
            auto* list = dialog->findChild<QListWidget*>("list353");
            list->findItems(a, Qt::MatchExactly).first()->setSelected(true);
            dialog->findChild<QPushButton*>("button354")->click();
            static_cast<QDialog*>(dialog)->accept();
        });
        NoPromptSitesDialog::run(preferences, nullptr, nullptr);
        QVERIFY(driver.answered());
        const QByteArray saved = test::DialogEnvironment::read(m_user + "/NoPromptSites.p3p");
        QVERIFY(!saved.contains("a.example"));
        QVERIFY(saved.contains("b.example"));
    }

  private:
    std::unique_ptr<QTemporaryDir> m_root;
    std::unique_ptr<AgentServices> m_services;
    QString m_shipped;
    QString m_user;
    QStringList m_before;
};

}  // namespace perchlight

QTEST_MAIN(perchlight::InstalledLayoutTest)
#include "InstalledLayoutTest.moc"
