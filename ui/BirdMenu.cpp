#include "ui/BirdMenu.h"

#include "ui/BirdCommands.h"

namespace perchlight {
namespace {

constexpr int kPolicySummary = 32787;
constexpr int kFullPolicy = 32788;
constexpr int kOptOutInfo = 32790;
constexpr int kEmbeddedContent = 32798;
constexpr int kViewSource = 32797;
constexpr int kPrivacy = 32783;
constexpr int kNoPromptSites = 32799;
constexpr int kOther = 32785;
constexpr int kClearCache = 32801;
constexpr int kHelp = 32794;
constexpr int kTour = 32795;
constexpr int kAbout = 32796;

const char* const kSiteMenu = "siteMenu";
const char* const kPreferencesMenu = "preferencesMenu";

BirdMenuItem item(int command, const char* text) {
    return {command, text, nullptr, {}};
}
BirdMenuItem submenu(const char* text, const char* name, std::vector<BirdMenuItem> items) {
    return {0, text, name, std::move(items)};
}
const BirdMenuItem kSeparator{0, nullptr, nullptr, {}};

QString itemName(int command) {
    return QStringLiteral("item%1").arg(command);
}

}  // namespace

QSet<int> BirdMenu::birdCommands() {
    return {kCommandMoveBird, kCommandReturnToTitleBar, kCommandDisable, kCommandEnable};
}

const std::vector<BirdMenuItem>& BirdMenu::items(int menu) {
    static const std::vector<BirdMenuItem> enabledMenu = {
        submenu("About This &Site", kSiteMenu,
                {item(kPolicySummary, "Policy &Summary..."), item(kFullPolicy, "Full &Policy..."),
                 item(kOptOutInfo, "&Opt-in/Opt-out Info..."),
                 item(kEmbeddedContent, "&Embedded Content..."), kSeparator,
                 item(kViewSource, "&View P3P Source...")}),
        submenu("My &Preferences", kPreferencesMenu,
                {item(kPrivacy, "&Privacy..."), item(kNoPromptSites, "&No-prompt Sites..."),
                 item(kOther, "&Other...")}),
        item(kClearCache, "C&lear Cache"),
        kSeparator,
        item(kHelp, "&Help"),
        item(kTour, "&Tour"),
        item(kAbout, "&About Perchlight"),
        kSeparator,
        item(kCommandMoveBird, "Move Bird"),
        item(kCommandReturnToTitleBar, "Return Bird to Title Bar"),
        kSeparator,
        item(kCommandDisable, "&Disable Perchlight"),
    };
    static const std::vector<BirdMenuItem> disabledMenu = {
        item(kHelp, "&Help"),
        item(kTour, "&Tutorial"),
        item(kAbout, "&About Perchlight"),
        kSeparator,
        item(kCommandMoveBird, "Move Bird"),
        item(kCommandReturnToTitleBar, "Return Bird to Title Bar"),
        kSeparator,
        item(kCommandEnable, "&Enable Perchlight"),
    };
    return menu == kMenuDisabled ? disabledMenu : enabledMenu;
}

BirdMenu::BirdMenu(const BirdMenuState& state, const QSet<int>& available, QWidget* parent)
    : QMenu(parent) {
    const int menu = state.enabled ? kMenuEnabled : kMenuDisabled;
    setObjectName(QStringLiteral("menu%1").arg(menu));
    addItems(*this, items(menu), available);
    if (state.enabled) {
        applyState(state);
    }
}

// Items whose command is not available are left out, and with them any submenu left empty and
// any separator that would stand first, last or next to another.
void BirdMenu::addItems(QMenu& menu, const std::vector<BirdMenuItem>& items,
                        const QSet<int>& available) {
    bool separatorPending = false;
    for (const BirdMenuItem& item : items) {
        if (item.text == nullptr) {
            separatorPending = !menu.actions().isEmpty();
            continue;
        }
        QAction* action = nullptr;
        if (item.command == 0) {
            auto* submenu = new QMenu(QString::fromUtf8(item.text), &menu);
            submenu->setObjectName(QString::fromUtf8(item.name));
            addItems(*submenu, item.items, available);
            if (submenu->actions().isEmpty()) {
                delete submenu;
                continue;
            }
            action = submenu->menuAction();
        } else if (available.contains(item.command)) {
            action = new QAction(QString::fromUtf8(item.text), &menu);
            action->setObjectName(itemName(item.command));
            const int command = item.command;
            connect(action, &QAction::triggered, this,
                    [this, command] { emit commandChosen(command); });
        } else {
            continue;
        }
        if (separatorPending) {
            menu.addSeparator();
            separatorPending = false;
        }
        menu.addAction(action);
    }
}

void BirdMenu::applyState(const BirdMenuState& state) {
    QMenu* site = findChild<QMenu*>(QString::fromUtf8(kSiteMenu));
    if (state.busy || !state.webPage) {
        if (site != nullptr) {
            site->menuAction()->setEnabled(false);
        }
        return;
    }
    setCommandEnabled(kFullPolicy, state.hasDiscussion);
    setCommandEnabled(kOptOutInfo, state.hasOptOut);
    setCommandEnabled(kPolicySummary, state.policyEvaluated);
    setCommandEnabled(kViewSource, state.policyEvaluated);
    // Only on a checked web page; elsewhere docking again stays on offer even when docked.
    setCommandEnabled(kCommandReturnToTitleBar, !state.onTitleBar);
}

void BirdMenu::setCommandEnabled(int command, bool enabled) {
    if (QAction* action = commandAction(command)) {
        action->setEnabled(enabled);
    }
}

QAction* BirdMenu::commandAction(int command) const {
    return findChild<QAction*>(itemName(command));
}

}  // namespace perchlight
