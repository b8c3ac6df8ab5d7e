// Reading and driving our dialogs by their control ids: the text a control shows, whether it
// is enabled, and a look at the modal dialog that opens next.
#pragma once

#include "ui/controlid.h"

#include <QAbstractButton>
#include <QApplication>
#include <QCheckBox>
#include <QDialog>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTimer>
#include <functional>
#include <utility>

namespace ridelog::test {

// Control texts a test expects, by control id.
using ControlTexts = QList<std::pair<int, QString>>;

inline QString controlText(const QWidget* root, int id)
{
    QWidget* control = findControl(root, id);
    if (auto* edit = qobject_cast<QLineEdit*>(control))
        return edit->text();
    if (auto* label = qobject_cast<QLabel*>(control))
        return label->text();
    if (auto* button = qobject_cast<QAbstractButton*>(control))
        return button->text();
    if (auto* group = qobject_cast<QGroupBox*>(control))
        return group->title();
    return QStringLiteral("<no text control %1>").arg(id);
}

inline bool controlEnabled(const QWidget* root, int id)
{
    return findControl(root, id)->isEnabled();
}

inline bool boxChecked(const QWidget* root, int id)
{
    return findControlAs<QCheckBox>(root, id)->isChecked();
}

// Runs inspect on the modal dialog that opens next (nullptr when none is open by the time the
// event loop comes round), then closes it with the button of closeButtonId, or rejects it when
// that is 0. The dialog is looked at from inside its own event loop.
inline void onNextModal(std::function<void(QWidget*)> inspect, int closeButtonId = 0)
{
    QTimer::singleShot(0, qApp, [inspect = std::move(inspect), closeButtonId] {
        QWidget* modal = QApplication::activeModalWidget();
        inspect(modal);
        if (!modal)
            return;
        if (auto* button = findControlAs<QPushButton>(modal, closeButtonId);
            button && closeButtonId)
            button->click();
        else if (auto* dialog = qobject_cast<QDialog*>(modal))
            dialog->reject();
    });
}

} // namespace ridelog::test
