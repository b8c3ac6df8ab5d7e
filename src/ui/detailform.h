// Building blocks of the two detail dialogs: labels, read-only fields and framed parts whose
// frame is a sibling of the controls it surrounds (disabling the frame leaves them alone).
#pragma once

#include <QString>
#include <Qt>
#include <initializer_list>

class QDialog;
class QGridLayout;
class QHBoxLayout;
class QGroupBox;
class QLabel;
class QLineEdit;
class QWidget;

namespace ridelog::detailform {

// A label; id 0 leaves it without an id.
QLabel* label(const QString& text, int id = 0);
// A read-only field with a border.
QLineEdit* field(int id, Qt::Alignment alignment = Qt::AlignLeft | Qt::AlignVCenter);

// The default button "閉じる" (id 1) and the hidden "キャンセル" (id 2) of a detail dialog.
QHBoxLayout* closeButtons(QDialog* dialog);

// Text of a field or a label found by its id below root.
void setControlText(QWidget* root, int id, const QString& text);
void disableControls(QWidget* root, std::initializer_list<int> ids);
void hideControls(QWidget* root, std::initializer_list<int> ids);

// A part with a titled frame drawn behind a grid of controls. Rows start at 0.
class FramedPart
{
public:
    FramedPart(const QString& title, int frameId);

    QWidget* widget() const { return container_; }
    QGroupBox* frame() const { return frame_; }
    void addRow(int row, QWidget* labelWidget, QWidget* fieldWidget);
    // Call once every row is in: stretches the frame over all of them.
    void finish(int rows);

private:
    QWidget* container_;
    QGroupBox* frame_;
    QGridLayout* grid_;
};

} // namespace ridelog::detailform
