#pragma once

#include <QDialog>
#include <optional>

#include "core/MatchResult.h"
#include "ui/WebHostPage.h"

class QCheckBox;
class QLabel;

namespace perchlight {

// The question before a form goes to a site whose policy is missing or does not match (241,
// "Warning"): "&Yes" ends with 1, "&No" (the default) with 2. "&More Info" shows the summary of
// the policy's result and is there only when a result is given. GUI thread.
class FormWarningDialog : public QDialog {
    Q_OBJECT

  public:
    static constexpr int kYes = 1;
    static constexpr int kNo = 2;

    // result: the target's policy result, or none when no usable policy was found; anySite: the
    // current "Dont warn on forms" setting, which check box 352 starts from.
    FormWarningDialog(std::optional<MatchResult> result, bool anySite, AddressOpener opener,
                      QWidget* parent = nullptr);

    // Check box 351 at the answer: never warn about this site again.
    bool thisSite() const;
    // Check box 352 at the answer: never warn about any site.
    bool anySite() const;
    // The message of control 377.
    QString message() const;

  public slots:
    void showMoreInfo();
    // Escape and the window's close answer "&No".
    void reject() override { done(kNo); }

  private:
    std::optional<MatchResult> m_result;
    AddressOpener m_opener;
    QLabel* m_message = nullptr;
    QCheckBox* m_thisSite = nullptr;
    QCheckBox* m_anySite = nullptr;
};

}  // namespace perchlight
