#pragma once

#include <QDialog>
#include <QUrl>
#include <memory>

#include "ui/WebHostPage.h"

class QTextBrowser;
class QWebEngineView;

namespace perchlight {

struct MatchResult;
class SummaryFile;

// The dialogs that show a page in a browser view inset by 2 pixels: "Policy Summary" (219) with
// the summary page of a match result, "Policy" (220) with a site's address under a given title,
// and the built-in test page. Our own pages get window.external, whose OnClick(body, colour)
// paints the body; a site's page runs no script and gets no window.external. The summary file
// is removed as soon as the dialog has closed. GUI thread.
class WebHost : public QDialog {
    Q_OBJECT

  public:
    static constexpr int kSummaryDialog = 219;
    static constexpr int kPolicyDialog = 220;

    // How the dialog draws its page. Text serves where the browser cannot load a page meanwhile
    // (the question before a form is posted holds the browser's request until it is answered):
    // the summary as rich text, without scripts, its links going to the opener.
    enum class Renderer { Browser, Text };

    // An empty dialog 219 or 220; the opener takes the links of our own pages (may be empty).
    WebHost(int dialog, AddressOpener opener, QWidget* parent = nullptr,
            Renderer renderer = Renderer::Browser);
    ~WebHost() override;

    // Writes the summary page of the result and shows it; false when it could not be written
    // (the dialog stays empty).
    bool showSummary(const MatchResult& result);
    // Shows an http or https address with script off under the title; false for anything else.
    bool showAddress(const QString& title, const QUrl& address);
    // Shows the built-in page whose three buttons paint it red, green or blue.
    void showTestPage();

    // The browser view; null with the text renderer.
    QWebEngineView* view() const { return m_view; }
    // The summary file being shown; empty when none.
    QString summaryPath() const;

    void done(int result) override;

  private:
    void showOwnPage(const QUrl& address);
    void installExternal(QWebEnginePage& page);

    AddressOpener m_opener;
    QWebEngineView* m_view = nullptr;
    QTextBrowser* m_text = nullptr;
    std::unique_ptr<SummaryFile> m_summaryFile;
};

}  // namespace perchlight
