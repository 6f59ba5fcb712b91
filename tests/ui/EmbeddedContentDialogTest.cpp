#include <QHeaderView>
#include <QMenu>
#include <QMessageBox>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QSignalSpy>
#include <QTest>
#include <QTreeWidget>

#include "DialogDriver.h"
#include "PreferenceTestEnvironment.h"
#include "retrieval/P3PMatchInfo.h"
#include "retrieval/PolicyCache.h"
#include "retrieval/ReferenceStore.h"
#include "ui/DialogSupport.h"
#include "ui/EmbeddedContentDialog.h"
#include "ui/EmbeddedContentSnapshot.h"

namespace perchlight {
namespace {

using test::DialogDriver;

const char* const kPolicy =
    "<POLICIES xmlns=\"http://www.w3.org/2002/01/P3Pv1\"><POLICY name=\"ads\"/></POLICIES>";

EmbeddedContentRow row(const std::string& url, int state, const std::string& type,
                       const std::string& policy) {
    EmbeddedContentRow made{url, state, type, policy, std::nullopt};
    if (!policy.empty()) {
        MatchResult result;
        result.requestUri = Url(url);
        result.policyUrl = Url(policy);
        result.state = state;
        made.result = result;
    }
    return made;
}

// Items of three sites: a matching frame, an unmatched image and an image without a policy.
EmbeddedContentSnapshot threeSites() {
    return EmbeddedContentSnapshot(
        {row("http://frames.example/inner.html", kStateNoConflict, "Frame/IFrame",
             "http://frames.example/w3c/policy.xml#site"),
         row("http://ads.example/banner.gif", kStateConflict, "Image",
             "http://ads.example/w3c/policy.xml#ads"),
         row("http://cdn.example/logo.png", kStateNotEvaluated, "Image", "")});
}

QStringList column(const QTreeWidget& list, int index) {
    QStringList texts;
    for (int i = 0; i < list.topLevelItemCount(); ++i) {
        texts << list.topLevelItem(i)->text(index);
    }
    return texts;
}

void select(QTreeWidget& list, const QString& url) {
    list.clearSelection();
    for (int i = 0; i < list.topLevelItemCount(); ++i) {
        if (list.topLevelItem(i)->text(0) == url) {
            list.topLevelItem(i)->setSelected(true);
        }
    }
}

}  // namespace

class EmbeddedContentDialogTest : public QObject {
    Q_OBJECT

  private slots:
    void init() {
        dir_ = std::make_unique<test::TempDir>();
        cache_ = std::make_unique<PolicyCache>((dir_->path() / "cache").string());
    }
    void cleanup() {
        cache_.reset();
        dir_.reset();
    }

    void rows_showStateTypeAndPolicy() {
        EmbeddedContentDialog dialog(threeSites(), *cache_, {});
        QCOMPARE(dialog.objectName(), QString("dialog229"));
        QCOMPARE(dialog.windowTitle(), QString("Embedded Content"));
        QTreeWidget* list = dialog.list();
        QCOMPARE(list->objectName(), QString("list348"));
        QCOMPARE(list->headerItem()->text(0), QString("URL"));
        QCOMPARE(list->headerItem()->text(1), QString("Privacy Check"));
        QCOMPARE(list->headerItem()->text(2), QString("Type"));
        QCOMPARE(list->headerItem()->text(3), QString("Applicable Policy"));
        QCOMPARE(list->columnWidth(0), 350);
        QCOMPARE(column(*list, 1), (QStringList{"Matched", "UnMatched", "Unknown"}));
        QCOMPARE(column(*list, 2), (QStringList{"Frame/IFrame", "Image", "Image"}));
        QCOMPARE(column(*list, 3), (QStringList{"http://frames.example/w3c/policy.xml#site",
                                                "http://ads.example/w3c/policy.xml#ads", ""}));
        dialog.show();
        test::screenshot(dialog, "dialog229-embedded");
    }

    void f1_onlyBeeps() {
        int beeps = 0;
        const std::function<void()> beep = DialogSupport::beeper();
        DialogSupport::beeper() = [&beeps] { ++beeps; };
        EmbeddedContentDialog dialog(threeSites(), *cache_, {});
        int helps = 0;
        connect(&dialog, &EmbeddedContentDialog::helpRequested, [&helps] { ++helps; });
        dialog.show();
        dialog.activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(&dialog));
        QTest::keyClick(dialog.list(), Qt::Key_F1);
        DialogSupport::beeper() = beep;
        QCOMPARE(beeps, 1);
        QCOMPARE(helps, 0);
        QVERIFY(dialog.isVisible());
    }

    void buttons_followTheSelectedRow() {
        EmbeddedContentDialog dialog(threeSites(), *cache_, {});
        auto* summary = dialog.findChild<QPushButton*>("button32787");
        auto* source = dialog.findChild<QPushButton*>("button32797");
        QVERIFY(!summary->isEnabled() && !source->isEnabled());
        select(*dialog.list(), "http://ads.example/banner.gif");
        QVERIFY(summary->isEnabled() && source->isEnabled());
        select(*dialog.list(), "http://cdn.example/logo.png");
        QVERIFY(!summary->isEnabled() && !source->isEnabled());
    }

    void headerClicks_flipTheOrder() {
        EmbeddedContentDialog dialog(threeSites(), *cache_, {});
        QTreeWidget* list = dialog.list();
        QHeaderView* header = list->header();
        const QStringList ascending = {"http://ads.example/banner.gif",
                                       "http://cdn.example/logo.png",
                                       "http://frames.example/inner.html"};
        QStringList descending = ascending;
        std::reverse(descending.begin(), descending.end());
        emit header->sectionClicked(0);
        QCOMPARE(column(*list, 0), ascending);
        QCOMPARE(header->sortIndicatorOrder(), Qt::AscendingOrder);
        emit header->sectionClicked(0);
        QCOMPARE(column(*list, 0), descending);
        QCOMPARE(header->sortIndicatorOrder(), Qt::DescendingOrder);
        emit header->sectionClicked(0);
        QCOMPARE(column(*list, 0), ascending);
        // Each column keeps its own direction; the row data moves with the rows.
        emit header->sectionClicked(1);
        QCOMPARE(column(*list, 1), (QStringList{"Matched", "UnMatched", "Unknown"}));
        select(*list, "http://cdn.example/logo.png");
        QVERIFY(!dialog.findChild<QPushButton*>("button32787")->isEnabled());
    }

    void policySummary_opensTheSummaryOfTheRow() {
        test::PreferenceTestEnvironment env;
        EmbeddedContentDialog dialog(threeSites(), *cache_, {});
        select(*dialog.list(), "http://ads.example/banner.gif");
        QString title;
        DialogDriver driver("dialog219", [&](QWidget* summary) {
            title = summary->windowTitle();
            static_cast<QDialog*>(summary)->accept();
        });
        dialog.findChild<QPushButton*>("button32787")->click();
        QVERIFY(driver.answered());
        QCOMPARE(title, QString("Policy Summary"));
    }

    void doubleClick_onUnknownRow_opensNothing() {
        EmbeddedContentDialog dialog(threeSites(), *cache_, {});
        QTreeWidget* list = dialog.list();
        select(*list, "http://cdn.example/logo.png");
        DialogDriver driver("dialog219", [](QWidget* summary) { summary->close(); });
        emit list->itemDoubleClicked(list->selectedItems().first(), 0);
        QTest::qWait(100);
        QVERIFY(!driver.answered());
    }

    void viewSource_showsTheCachedPolicyAsPlainText() {
        QVERIFY(
            cache_->storeDocument("http://ads.example/w3c/policy.xml", std::string(kPolicy), 0));
        EmbeddedContentDialog dialog(threeSites(), *cache_, {});
        select(*dialog.list(), "http://ads.example/banner.gif");
        QString shown;
        QString title;
        DialogDriver driver("dialog220", [&](QWidget* source) {
            shown = source->findChild<QPlainTextEdit*>("sourceView")->toPlainText();
            title = source->windowTitle();
            test::screenshot(*source, "dialog220-source");
            static_cast<QDialog*>(source)->reject();
        });
        dialog.findChild<QPushButton*>("button32797")->click();
        QVERIFY(driver.answered());
        QCOMPARE(shown, QString(kPolicy));
        QCOMPARE(title, QString("http://ads.example/w3c/policy.xml#ads"));
    }

    void viewSource_ofAPolicyNotCached_saysSo() {
        EmbeddedContentDialog dialog(threeSites(), *cache_, {});
        select(*dialog.list(), "http://frames.example/inner.html");
        QString caption;
        DialogDriver driver("downloadProblemBox", [&](QWidget* box) {
            caption = box->windowTitle();
            static_cast<QMessageBox*>(box)->accept();
        });
        dialog.findChild<QPushButton*>("button32797")->click();
        QVERIFY(driver.answered());
        QCOMPARE(caption,
                 QString("File Download problemhttp://frames.example/w3c/policy.xml#site"));
    }

    void rightClick_offersMenu230_onlyForRowsWithAPolicy() {
        EmbeddedContentDialog dialog(threeSites(), *cache_, {});
        QTreeWidget* list = dialog.list();
        QStringList items;
        DialogDriver driver("menu230", [&](QWidget* menu) {
            for (QAction* action : menu->actions()) {
                items << action->text();
            }
            menu->close();
        });
        select(*list, "http://ads.example/banner.gif");
        emit list->customContextMenuRequested(QPoint(5, 5));
        QVERIFY(driver.answered());
        QCOMPARE(items, (QStringList{"Policy &Summary...", "&View P3P Source..."}));
    }

    void snapshot_ofACheck_listsItsItems() {
        ReferenceStore store;
        P3PMatchInfo info(store, *cache_);
        info.addEmbedded(Url("http://a.example/x.png"), "Image");
        const EmbeddedContentSnapshot snapshot = EmbeddedContentSnapshot::take(info);
        QCOMPARE(snapshot.rows().size(), std::size_t(1));
        QCOMPARE(QString::fromStdString(snapshot.rows()[0].contentType), QString("Image"));
        QCOMPARE(snapshot.rows()[0].state, kStateNotEvaluated);
        QVERIFY(!snapshot.rows()[0].result);
    }

  private:
    std::unique_ptr<test::TempDir> dir_;
    std::unique_ptr<PolicyCache> cache_;
};

}  // namespace perchlight

QTEST_MAIN(perchlight::EmbeddedContentDialogTest)
#include "EmbeddedContentDialogTest.moc"
