// 用途を入力...: the purpose and the claim mark of one or several journeys at once.
#pragma once

#include "store/notestore.h"

#include <QDialog>
#include <vector>

class QCheckBox;
class QLabel;
class QLineEdit;

namespace ridelog {

class CNoteDlg : public QDialog
{
    Q_OBJECT

public:
    // notes: the current notes of the rows to edit (none for a row without a note). When they
    // differ, the field starts empty and the mark undecided; what the user leaves so stays.
    CNoteDlg(const std::vector<JourneyNote>& notes, QWidget* parent = nullptr);

    // What to change after OK: a field the user left undecided is absent.
    NoteChange change() const;

    QLineEdit* purposeField() const { return purpose_; }
    QCheckBox* claimBox() const { return claim_; }

private:
    QLineEdit* purpose_ = nullptr;
    QCheckBox* claim_ = nullptr;
    bool mixedPurposes_ = false;
    QString startPurpose_;
};

} // namespace ridelog
