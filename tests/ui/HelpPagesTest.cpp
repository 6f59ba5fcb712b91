#include <QFile>
#include <QTest>

#include "ui/HelpPages.h"

namespace perchlight {
namespace {

QString helpFile(const QString& topic) {
    return QStringLiteral(PERCHLIGHT_DATA_DIR) + "/help/" + topic;
}

QString read(const QString& path) {
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? QString::fromUtf8(file.readAll()) : QString();
}

// Written by others alongside the privacy and cookie dialogs.
const QStringList kTopicsOfOthers = {"privacy.html", "cookies.html"};

}  // namespace

class HelpPagesTest : public QObject {
    Q_OBJECT

  private slots:
    void contents_linksToEveryTopic() {
        const QString index = read(helpFile(HelpPages::kIndex));
        for (const QString& topic : HelpPages::topics()) {
            if (topic != HelpPages::kIndex) {
                QVERIFY2(index.contains("href=\"" + topic + "\""), qPrintable(topic));
            }
        }
    }

    void ourPages_arePlainHtml_andLeadBackToTheContents() {
        for (const QString& topic : HelpPages::topics()) {
            if (kTopicsOfOthers.contains(topic)) {
                continue;
            }
            const QString page = read(helpFile(topic));
            QVERIFY2(!page.isEmpty(), qPrintable(topic));
            QVERIFY2(!page.contains("<script", Qt::CaseInsensitive), qPrintable(topic));
            QVERIFY2(!page.contains("javascript:", Qt::CaseInsensitive), qPrintable(topic));
            QVERIFY2(page.contains("href=\"index.html\""), qPrintable(topic));
        }
    }

    // The browser adds its own name to a page's title: a title says "Perchlight Help" once.
    void titles_nameTheHelpOnce() {
        for (const QString& topic : HelpPages::topics()) {
            const QString page = read(helpFile(topic));
            const qsizetype start = page.indexOf("<title>");
            const qsizetype end = page.indexOf("</title>");
            QVERIFY2(start >= 0 && end > start, qPrintable(topic));
            const QString title = page.mid(start + 7, end - start - 7);
            QVERIFY2(title.count("Perchlight Help", Qt::CaseInsensitive) <= 1, qPrintable(title));
        }
    }

    void topicUrl_staysInTheHelpFolder() {
        QCOMPARE(HelpPages::topicUrl("/opt/perchlight", "forms.html"),
                 QUrl::fromLocalFile("/opt/perchlight/help/forms.html"));
        QVERIFY(HelpPages::topicUrl("/opt/perchlight", "../secrets.html").isEmpty());
    }
};

}  // namespace perchlight

QTEST_MAIN(perchlight::HelpPagesTest)
#include "HelpPagesTest.moc"
