// A helper module for the shell's tests: records every event its helpers get, one line each, and
// refuses navigations whose address contains the "vetoPattern" property. With "--record=FILE" it
// also appends the lines to FILE (for runs of the real program); with "--busy-ms=N" each helper
// stays busy for N ms after every top-level completion. A navigation whose address contains the
// "holdPattern" property waits in a nested event loop, as a modal question would, until
// release() is called. The "blockPopups" property makes its helpers refuse pop-ups.

#include <QElapsedTimer>
#include <QEventLoop>
#include <QFile>
#include <QHBoxLayout>
#include <QLabel>
#include <QObject>
#include <QStringList>

#include "shell/BrowserHelper.h"

namespace perchlight::test {

class RecordingModule : public QObject, public HelperModule {
    Q_OBJECT
    Q_PLUGIN_METADATA(IID PerchlightHelperModule_iid)
    Q_INTERFACES(perchlight::HelperModule)
    Q_PROPERTY(QStringList events READ events)
    Q_PROPERTY(QString vetoPattern MEMBER m_vetoPattern)
    Q_PROPERTY(QString holdPattern MEMBER m_holdPattern)
    Q_PROPERTY(bool blockPopups MEMBER m_blockPopups)

  public:
    void initialize(const QStringList& arguments) override;
    std::unique_ptr<BrowserHelper> createHelper(BrowserWindowSite& site) override;

    QStringList events() const { return m_events; }
    Q_INVOKABLE void clear() { m_events.clear(); }
    Q_INVOKABLE void release() { emit released(); }

    void record(const QString& event);
    bool allows(const QUrl& url) const {
        return m_vetoPattern.isEmpty() || !url.toString().contains(m_vetoPattern);
    }
    qint64 busyMs() const { return m_busyMs; }
    bool blocksPopups() const { return m_blockPopups; }
    bool holds(const QUrl& url) const {
        return !m_holdPattern.isEmpty() && url.toString().contains(m_holdPattern);
    }

  signals:
    void released();

  private:
    QStringList m_events;
    QString m_vetoPattern;
    QString m_holdPattern;
    QString m_recordFile;
    qint64 m_busyMs = 0;
    bool m_blockPopups = false;
};

namespace {

QString kindName(Navigation::Kind kind) {
    switch (kind) {
        case Navigation::Kind::Link:
            return QStringLiteral("Link");
        case Navigation::Kind::Typed:
            return QStringLiteral("Typed");
        case Navigation::Kind::Form:
            return QStringLiteral("Form");
        case Navigation::Kind::BackForward:
            return QStringLiteral("BackForward");
        case Navigation::Kind::Reload:
            return QStringLiteral("Reload");
        case Navigation::Kind::Redirect:
            return QStringLiteral("Redirect");
        case Navigation::Kind::Other:
            break;
    }
    return QStringLiteral("Other");
}

class RecordingHelper : public BrowserHelper {
  public:
    RecordingHelper(RecordingModule& module, BrowserWindowSite& site) : m_module(module) {
        auto* indicator = new QLabel(QStringLiteral("helper"), site.indicatorSlot());
        indicator->setObjectName(QStringLiteral("recordingIndicator"));
        site.indicatorSlot()->layout()->addWidget(indicator);
        m_module.record(QStringLiteral("created"));
    }

    bool beforeNavigate(const Navigation& navigation) override {
        if (m_module.holds(navigation.url)) {
            m_module.record(QStringLiteral("holding ") + navigation.url.toString());
            QEventLoop loop;
            QObject::connect(&m_module, &RecordingModule::released, &loop, &QEventLoop::quit);
            loop.exec();
        }
        const bool allowed = m_module.allows(navigation.url);
        m_module.record(
            QStringLiteral("beforeNavigate %1 %2 %3 %4%5")
                .arg(kindName(navigation.kind),
                     navigation.topLevel ? QStringLiteral("top") : QStringLiteral("frame"),
                     navigation.post ? QStringLiteral("post") : QStringLiteral("get"),
                     navigation.url.toString(), allowed ? QString() : QStringLiteral(" refused")));
        return allowed;
    }
    void documentComplete(const QUrl& url, bool topLevel) override {
        m_module.record(
            QStringLiteral("documentComplete %1 %2")
                .arg(topLevel ? QStringLiteral("top") : QStringLiteral("frame"), url.toString()));
        if (topLevel && m_module.busyMs() > 0) {
            m_busySince.start();
        }
    }
    void reloaded() override { m_module.record(QStringLiteral("reloaded")); }
    bool allowsPopups() const override { return !m_module.blocksPopups(); }
    void windowClosing() override { m_module.record(QStringLiteral("windowClosing")); }
    bool busy() const override {
        if (!m_busySince.isValid()) {
            return false;
        }
        if (m_busySince.elapsed() < m_module.busyMs()) {
            return true;
        }
        m_busySince.invalidate();
        m_module.record(QStringLiteral("busy over"));
        return false;
    }

  private:
    RecordingModule& m_module;
    mutable QElapsedTimer m_busySince;
};

}  // namespace

void RecordingModule::initialize(const QStringList& arguments) {
    for (const QString& argument : arguments) {
        if (argument.startsWith(QLatin1String("--record="))) {
            m_recordFile = argument.mid(9);
        } else if (argument.startsWith(QLatin1String("--busy-ms="))) {
            m_busyMs = argument.mid(10).toLongLong();
        }
    }
    record(QStringLiteral("initialize ") + arguments.join(QLatin1Char(' ')));
}

std::unique_ptr<BrowserHelper> RecordingModule::createHelper(BrowserWindowSite& site) {
    return std::make_unique<RecordingHelper>(*this, site);
}

void RecordingModule::record(const QString& event) {
    m_events.append(event);
    if (!m_recordFile.isEmpty()) {
        QFile file(m_recordFile);
        if (file.open(QIODevice::Append | QIODevice::Text)) {
            file.write(event.toUtf8() + '\n');
        }
    }
}

}  // namespace perchlight::test

#include "RecordingModule.moc"
