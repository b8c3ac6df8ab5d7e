// Every command of the main window by its id: the actions of the menus, the context menu and
// the hidden start button. Each action carries its id as the property "commandId" and the
// object name "command<id>", so the tests and the other dialogs name a command by its number.
#pragma once

#include <QList>
#include <QString>
#include <functional>
#include <map>

class QAction;
class QMenu;
class QObject;

namespace ridelog {

class CommandMap
{
public:
    explicit CommandMap(QObject* owner);

    // A new action under menu (none: not in a menu) that runs handler (none: nothing). Every
    // id has exactly one action.
    QAction* add(QMenu* menu, int commandId, const QString& text,
                 std::function<void()> handler = {});
    // The same, checkable.
    QAction* addToggle(QMenu* menu, int commandId, const QString& text,
                       std::function<void()> handler);
    // Removes the id's action from the map; the action itself stays with its menu.
    void forget(int commandId);

    // Null for an unknown id.
    QAction* action(int commandId) const;
    QList<int> ids() const;
    // False for an unknown or disabled command.
    bool trigger(int commandId);

private:
    QObject* owner_;
    std::map<int, QAction*> actions_;
};

} // namespace ridelog
