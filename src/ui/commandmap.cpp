#include "ui/commandmap.h"

#include <QAction>
#include <QMenu>

namespace ridelog {

CommandMap::CommandMap(QObject* owner)
    : owner_(owner)
{}

QAction* CommandMap::add(QMenu* menu, int commandId, const QString& text,
                         std::function<void()> handler)
{
    auto* action = new QAction(text, owner_);
    action->setObjectName(QStringLiteral("command%1").arg(commandId));
    action->setProperty("commandId", commandId);
    if (menu != nullptr)
        menu->addAction(action);
    if (handler)
        QObject::connect(action, &QAction::triggered, owner_, std::move(handler));
    Q_ASSERT(!actions_.contains(commandId));
    actions_[commandId] = action;
    return action;
}

QAction* CommandMap::addToggle(QMenu* menu, int commandId, const QString& text,
                               std::function<void()> handler)
{
    QAction* action = add(menu, commandId, text, std::move(handler));
    action->setCheckable(true);
    return action;
}

void CommandMap::forget(int commandId)
{
    actions_.erase(commandId);
}

QAction* CommandMap::action(int commandId) const
{
    const auto it = actions_.find(commandId);
    return it == actions_.end() ? nullptr : it->second;
}

QList<int> CommandMap::ids() const
{
    QList<int> result;
    for (const auto& [id, action] : actions_)
        result.append(id);
    return result;
}

bool CommandMap::trigger(int commandId)
{
    QAction* found = action(commandId);
    if (found == nullptr || !found->isEnabled())
        return false;
    found->trigger();
    return true;
}

} // namespace ridelog
