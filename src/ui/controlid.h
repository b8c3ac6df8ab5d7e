// Controls of our dialogs carry the numeric ids of the original resource templates, so the
// program and its tests can name a control the way the dialog templates do.
#pragma once

#include <QString>

class QWidget;

namespace ridelog {

// Sets the property "controlId" and the object name "control<id>".
void setControlId(QWidget* control, int id);
int controlIdOf(const QWidget* control);
QString controlObjectName(int id);

// The descendant of root with the given id, or nullptr.
QWidget* findControl(const QWidget* root, int id);

template <typename T> T* findControlAs(const QWidget* root, int id)
{
    return qobject_cast<T*>(findControl(root, id));
}

} // namespace ridelog
