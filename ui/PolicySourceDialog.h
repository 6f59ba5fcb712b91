#pragma once

#include <QDialog>
#include <string>

class QPlainTextEdit;

namespace perchlight {

class PolicyCache;

// The source of a policy document as plain text under the policy's address: nothing in it is
// run or followed. Stands in for the "Policy" dialog (220) wherever a policy's source is asked
// for. GUI thread.
class PolicySourceDialog : public QDialog {
    Q_OBJECT

  public:
    PolicySourceDialog(const QString& address, const QString& source, QWidget* parent = nullptr);

    // Shows the cached copy of the policy modally, or the "File Download problem" box when the
    // cache has none. An empty address does nothing.
    static void showCached(PolicyCache& cache, const std::string& policyUrl, QWidget* parent);

    QPlainTextEdit* sourceView() const { return m_source; }

  private:
    QPlainTextEdit* m_source = nullptr;
};

}  // namespace perchlight
