#pragma once

#include <QDialog>

class QCheckBox;
class QComboBox;

namespace perchlight {

class BirdBroadcast;
class P3PPreferences;

// "Select Other Settings" (225): sounds, the bird's animation, pop-up blocking and the shortcut
// key, shown from the process's settings and stored only on OK. OK ends with 1, Cancel with 2.
// GUI thread.
class OtherSettingsDialog : public QDialog {
    Q_OBJECT

  public:
    static constexpr int kOk = 1;
    static constexpr int kCancel = 2;

    OtherSettingsDialog(P3PPreferences& preferences, BirdBroadcast* broadcast,
                        QWidget* parent = nullptr);

  signals:
    // "&Help" asks for this help page.
    void helpRequested(const QString& topic);

  public slots:
    void accept() override;
    void reject() override { done(kCancel); }

  private:
    void buildSounds(QLayout& layout);
    void buildShortcut(QLayout& layout);
    void showSettings();
    void allSoundsClicked();
    QCheckBox* checkBox(const QString& text, int id, QWidget* parent);

    P3PPreferences& m_preferences;
    BirdBroadcast* m_broadcast;
    QCheckBox* m_upgrade = nullptr;
    QCheckBox* m_allSounds = nullptr;
    QCheckBox* m_unknownSound = nullptr;
    QCheckBox* m_unmatchedSound = nullptr;
    QCheckBox* m_matchedSound = nullptr;
    QCheckBox* m_cachedSound = nullptr;
    QCheckBox* m_noAnimation = nullptr;
    QCheckBox* m_blockPopups = nullptr;
    QComboBox* m_modifier = nullptr;
    QComboBox* m_key = nullptr;
};

}  // namespace perchlight
