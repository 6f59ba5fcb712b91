#pragma once

#include <QMenu>
#include <QSet>
#include <vector>

namespace perchlight {

// One entry of a bird menu: a command, a submenu (command 0, with items) or a separator (command
// 0, no text).
struct BirdMenuItem {
    int command = 0;
    const char* text = nullptr;
    const char* name = nullptr;  // object name of a submenu
    std::vector<BirdMenuItem> items;
};

// What the enabling rules of the menu look at, taken when the menu opens.
struct BirdMenuState {
    bool enabled = true;           // checking is switched on
    bool busy = false;             // a check is running
    bool webPage = false;          // the page's address is http or https
    bool onTitleBar = true;        // the bird is docked
    bool policyEvaluated = false;  // the page's policy was evaluated
    bool hasDiscussion = false;    // the policy names a page that discusses it
    bool hasOptOut = false;        // the policy names an opt-out page
    bool cookieCommands = false;   // the fuller menu with the cookie commands (214) is asked for
    bool privacyDialog = false;    // the privacy settings dialog can be opened
};

// The bird's menu: the menu for switched-on checking (245, or 214 with the cookie commands) or
// the one for switched-off checking (215), holding only the commands that the caller can carry out,
// greyed by the state. The chosen command comes as commandChosen. GUI thread.
class BirdMenu : public QMenu {
    Q_OBJECT

  public:
    static constexpr int kMenuEnabled = 245;
    static constexpr int kMenuDisabled = 215;
    static constexpr int kMenuWithCookies = 214;

    // The commands that the bird carries out itself.
    static QSet<int> birdCommands();
    // The commands of the bird and of the dialogs around a page, which the agent carries out.
    static QSet<int> agentCommands();
    // The menu that a state shows.
    static int menuFor(const BirdMenuState& state);
    // The full item list of a menu (245, 215 or 214).
    static const std::vector<BirdMenuItem>& items(int menu);

    BirdMenu(const BirdMenuState& state, const QSet<int>& available, QWidget* parent = nullptr);

    // The action of a command, or null when the menu does not hold it.
    QAction* commandAction(int command) const;

  signals:
    void commandChosen(int command);

  private:
    void addItems(QMenu& menu, const std::vector<BirdMenuItem>& items, const QSet<int>& available);
    void applyState(const BirdMenuState& state);
    void setCommandEnabled(int command, bool enabled);
};

}  // namespace perchlight
