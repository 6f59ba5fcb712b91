#include <QMessageBox>
#include <QTest>

#include "DialogDriver.h"
#include "core/MatchResult.h"
#include "ui/BirdMenu.h"
#include "ui/CookieReport.h"
#include "ui/PolicyAddresses.h"

namespace perchlight {
namespace {

MatchResult resultWith(const std::string& discussion, const std::string& optOut) {
    MatchResult result;
    result.policyUrl = Url("http://shop.example/w3c/p3p.xml#retail");
    result.state = kStateConflict;
    result.disclosureUri = discussion;
    result.optOutUri = optOut;
    return result;
}

}  // namespace

class PolicyAddressesTest : public QObject {
    Q_OBJECT

  private slots:
    void relativeDiscussion_resolvesAgainstThePolicy() {
        const MatchResult result = resultWith("privacy.html", "https://shop.example/optout");
        QCOMPARE(PolicyAddresses::fullPolicy(result), QUrl("http://shop.example/w3c/privacy.html"));
        QCOMPARE(PolicyAddresses::optOut(result), QUrl("https://shop.example/optout"));
        QCOMPARE(PolicyAddresses::policy(result), QUrl("http://shop.example/w3c/p3p.xml"));
    }

    void otherSchemes_giveNoAddress_data() {
        QTest::addColumn<QString>("reference");
        QTest::newRow("script") << "javascript:alert(1)";
        QTest::newRow("file") << "file:///etc/passwd";
        QTest::newRow("data") << "data:text/html,<b>x</b>";
        QTest::newRow("mail") << "mailto:privacy@shop.example";
        QTest::newRow("empty") << "";
    }

    void otherSchemes_giveNoAddress() {
        QFETCH(QString, reference);
        const MatchResult result = resultWith(reference.toStdString(), reference.toStdString());
        QVERIFY(PolicyAddresses::fullPolicy(result).isEmpty());
        QVERIFY(PolicyAddresses::optOut(result).isEmpty());
        BirdMenuState state;
        PolicyAddresses::applyTo(state, result);
        QVERIFY(!state.hasDiscussion && !state.hasOptOut);
        QVERIFY(state.policyEvaluated);
    }

    void unevaluatedPolicy_greysSummaryAndSource() {
        MatchResult result = resultWith("privacy.html", "");
        result.state = kStateNotEvaluated;
        BirdMenuState state;
        state.webPage = true;
        PolicyAddresses::applyTo(state, result);
        BirdMenu menu(state, BirdMenu::agentCommands());
        QVERIFY(!menu.commandAction(32787)->isEnabled());
        QVERIFY(!menu.commandAction(32797)->isEnabled());
        QVERIFY(menu.commandAction(32788)->isEnabled());
    }

    void cookieReport_ofAPageWithoutCookies_saysFourZeros() {
        QString text;
        QString caption;
        test::DialogDriver driver("cookieReport", [&](QWidget* box) {
            text = static_cast<QMessageBox*>(box)->text();
            caption = box->windowTitle();
            static_cast<QDialog*>(box)->accept();
        });
        CookieReport::show(nullptr, "http://shop.example/", CookieCounts{});
        QCOMPARE(caption, QString("Cookie Report"));
        QCOMPARE(text, QString("Cookies from \"http://shop.example/\" detected: 0   \n"
                               "Cookies from \"http://shop.example/\" blocked: 0    \n"
                               "Cookies from other sites detected: 0   \n"
                               "Cookies from other sites blocked: 0    "));
    }

    // The address goes into the text as it stands, even where it looks like a placeholder.
    void cookieReport_ofAnAddressHoldingPercentDigits_keepsTheAddress() {
        const QString text =
            CookieReport::text("http://shop.example/a%2Fb%3", CookieCounts{1, 2, 3, 4});
        QCOMPARE(text, QString("Cookies from \"http://shop.example/a%2Fb%3\" detected: 1   \n"
                               "Cookies from \"http://shop.example/a%2Fb%3\" blocked: 2    \n"
                               "Cookies from other sites detected: 3   \n"
                               "Cookies from other sites blocked: 4    "));
    }
};

}  // namespace perchlight

QTEST_MAIN(perchlight::PolicyAddressesTest)
#include "PolicyAddressesTest.moc"
