#pragma once

#include <QAbstractButton>
#include <QApplication>
#include <QDir>
#include <QFile>
#include <QMessageBox>
#include <QTemporaryDir>
#include <QTimer>
#include <memory>
#include <utility>
#include <vector>

#include "prefs/BirdBroadcast.h"
#include "prefs/BirdSettings.h"
#include "prefs/P3PPreferences.h"
#include "prefs/RegistryKey.h"
#include "ui/FileChooser.h"

namespace perchlight::test {

// Keeps every broadcast instead of sending it.
class RecordingBroadcast : public BirdBroadcast {
  public:
    void broadcast(int command, bool allProcesses) override {
        sent.emplace_back(command, allProcesses);
    }
    std::vector<std::pair<int, bool>> sent;
};

// Answers the file choosers with prepared paths and keeps what they were asked.
class ScriptedChooser : public FileChooser {
  public:
    QString openFile(QWidget*, const QString& title, const QString& filter,
                     const QString& defaultSuffix) override {
        asked << title << filter << defaultSuffix;
        return openAnswer;
    }
    QString saveFile(QWidget*, const QString& title, const QString& proposedName,
                     const QString& filter, const QString& defaultSuffix) override {
        asked << title << proposedName << filter << defaultSuffix;
        return saveAnswer;
    }
    QString openAnswer;
    QString saveAnswer;
    QStringList asked;
};

// Armed before the action that may open message boxes: presses OK on each one and keeps its
// caption and text. Owned by the test, so it never outlives it.
class MessageBoxAnswerer {
  public:
    MessageBoxAnswerer() {
        m_timer.setInterval(5);
        QObject::connect(&m_timer, &QTimer::timeout, [this] { answer(); });
        m_timer.start();
    }
    QStringList seen;  // "caption: text"

  private:
    void answer() {
        auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
        if (box == nullptr) {
            return;
        }
        seen << box->windowTitle() + ": " + box->text();
        box->button(QMessageBox::Ok)->click();
    }
    QTimer m_timer;
};

// A module directory with the installed rule sets and a settings key of its own.
class DialogEnvironment {
  public:
    explicit DialogEnvironment(const QByteArray& settings = "Privacy Level=2\n") {
        BirdSettings::reset();
        qputenv("XDG_CONFIG_HOME", m_config.path().toUtf8());
        QDir(m_config.path()).mkpath("Halvard");
        write(m_config.filePath("Halvard/Perchlight.conf"), settings);
        for (const char* level : {"low", "medium", "high"}) {
            const QString name = QString("appel-%1.xml").arg(level);
            QFile::copy(QString(PERCHLIGHT_DATA_DIR) + "/" + name, m_home.filePath(name));
        }
        preferences = std::make_unique<P3PPreferences>(m_home.path().toStdString());
        preferences->loadPreferences();
    }
    ~DialogEnvironment() {
        qunsetenv("XDG_CONFIG_HOME");
        BirdSettings::reset();
    }

    QString file(const QString& name) const { return m_home.filePath(name); }
    QString home() const { return m_home.path(); }
    // The level as the settings key holds it.
    std::uint32_t savedLevel() const {
        return RegistryKey::open(RegistryKey::kPerchlightKey)->value("Privacy Level").value_or(0);
    }
    static void write(const QString& path, const QByteArray& bytes) {
        QFile out(path);
        out.open(QIODevice::WriteOnly | QIODevice::Truncate);
        out.write(bytes);
    }
    static QByteArray read(const QString& path) {
        QFile in(path);
        return in.open(QIODevice::ReadOnly) ? in.readAll() : QByteArray();
    }

    std::unique_ptr<P3PPreferences> preferences;

  private:
    QTemporaryDir m_home;
    QTemporaryDir m_config;
};

}  // namespace perchlight::test
