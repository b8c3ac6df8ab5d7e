#include "ui/controlid.h"

#include <QVariant>
#include <QWidget>

namespace ridelog {

namespace {

constexpr char kControlIdProperty[] = "controlId";

} // namespace

void setControlId(QWidget* control, int id)
{
    control->setProperty(kControlIdProperty, id);
    control->setObjectName(controlObjectName(id));
}

int controlIdOf(const QWidget* control)
{
    const QVariant id = control->property(kControlIdProperty);
    return id.isValid() ? id.toInt() : 0;
}

QString controlObjectName(int id)
{
    return QStringLiteral("control") + QString::number(id);
}

QWidget* findControl(const QWidget* root, int id)
{
    return root->findChild<QWidget*>(controlObjectName(id));
}

} // namespace ridelog
