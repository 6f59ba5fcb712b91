#include "ui/BirdMenu.h"

#include "ui/BirdCommands.h"

namespace perchlight {
namespace {

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

QSet<int> BirdMenu::agentCommands() {
    QSet<int> commands = birdCommands();
    commands.unite({kCommandPolicySummary, kCommandFullPolicy, kCommandOptOutInfo,
                    kCommandEmbeddedContent, kCommandViewSource, kCommandPrivacy,
                    kCommandNoPromptSites, kCommandOther, kCommandClearCache, kCommandHelp,
                    kCommandTour, kCommandAbout, kCommandCookieReport, kCommandCookies,
                    kCommandOverrideCookies, kCommandCookieOverrideSites, kCommandCookieHistory});
    return commands;
}

int BirdMenu::menuFor(const BirdMenuState& state) {
    if (!state.enabled) {
        return kMenuDisabled;
    }
    return state.cookieCommands ? kMenuWithCookies : kMenuEnabled;
}

const std::vector<BirdMenuItem>& BirdMenu::items(int menu) {
    static const std::vector<BirdMenuItem> enabledMenu = {
        submenu("About This &Site", kSiteMenu,
                {item(kCommandPolicySummary, "Policy &Summary..."),
                 item(kCommandFullPolicy, "Full &Policy..."),
                 item(kCommandOptOutInfo, "&Opt-in/Opt-out Info..."),
                 item(kCommandEmbeddedContent, "&Embedded Content..."), kSeparator,
                 item(kCommandViewSource, "&View P3P Source...")}),
        submenu(
            "My &Preferences", kPreferencesMenu,
            {item(kCommandPrivacy, "&Privacy..."),
             item(kCommandNoPromptSites, "&No-prompt Sites..."), item(kCommandOther, "&Other...")}),
        item(kCommandClearCache, "C&lear Cache"),
        kSeparator,
        item(kCommandHelp, "&Help"),
        item(kCommandTour, "&Tour"),
        item(kCommandAbout, "&About Perchlight"),
        kSeparator,
        item(kCommandMoveBird, "Move Bird"),
        item(kCommandReturnToTitleBar, "Return Bird to Title Bar"),
        kSeparator,
        item(kCommandDisable, "&Disable Perchlight"),
    };
    static const std::vector<BirdMenuItem> disabledMenu = {
        item(kCommandHelp, "&Help"),
        item(kCommandTour, "&Tutorial"),
        item(kCommandAbout, "&About Perchlight"),
        kSeparator,
        item(kCommandMoveBird, "Move Bird"),
        item(kCommandReturnToTitleBar, "Return Bird to Title Bar"),
        kSeparator,
        item(kCommandEnable, "&Enable Perchlight"),
    };
    static const std::vector<BirdMenuItem> cookieMenu = {
        submenu("About This &Site", kSiteMenu,
                {item(kCommandPolicySummary, "Policy &Summary..."),
                 item(kCommandFullPolicy, "Full &Policy..."),
                 item(kCommandOptOutInfo, "&Opt-in/Opt-out Info..."),
                 item(kCommandEmbeddedContent, "&Embedded Content..."), kSeparator,
                 item(kCommandViewSource, "&View P3P Source..."), kSeparator,
                 item(kCommandCookieReport, "Cookie &Report..."),
                 item(kCommandOverrideCookies, "Override &Cookie Settings...")}),
        submenu(
            "My &Preferences", kPreferencesMenu,
            {item(kCommandPrivacy, "&Privacy..."), item(kCommandCookies, "&Cookies..."),
             item(kCommandNoPromptSites, "&No-prompt Sites..."), item(kCommandOther, "Ot&her..."),
             item(kCommandCookieOverrideSites, "Cookie &Override Sites...")}),
        item(kCommandCookieHistory, "&Cookie History..."),
        item(kCommandClearCache, "C&lear Cache"),
        kSeparator,
        item(kCommandHelp, "&Help"),
        item(kCommandTour, "&Tour"),
        item(kCommandAbout, "&About Perchlight"),
        kSeparator,
        item(kCommandDisable, "&Disable Perchlight"),
    };
    if (menu == kMenuDisabled) {
        return disabledMenu;
    }
    return menu == kMenuWithCookies ? cookieMenu : enabledMenu;
}

BirdMenu::BirdMenu(const BirdMenuState& state, const QSet<int>& available, QWidget* parent)
    : QMenu(parent) {
    const int menu = menuFor(state);
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
    // The privacy settings dialog comes with its own work; until then the item stays on show.
    setCommandEnabled(kCommandPrivacy, state.privacyDialog);
    QMenu* site = findChild<QMenu*>(QString::fromUtf8(kSiteMenu));
    if (state.busy || !state.webPage) {
        if (site != nullptr) {
            site->menuAction()->setEnabled(false);
        }
        return;
    }
    setCommandEnabled(kCommandFullPolicy, state.hasDiscussion);
    setCommandEnabled(kCommandOptOutInfo, state.hasOptOut);
    setCommandEnabled(kCommandPolicySummary, state.policyEvaluated);
    setCommandEnabled(kCommandViewSource, state.policyEvaluated);
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
