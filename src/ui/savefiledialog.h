// The save-file dialog of the program. Like MessageBox, tests can answer it without a human.
#pragma once

#include <QString>
#include <QStringList>
#include <optional>

class QFileDialog;
class QWidget;

namespace ridelog {

struct SaveFileRequest
{
    QString initialName;
    QStringList filters;  // shown texts, "description (pattern)"
    QStringList suffixes; // the extension each filter gives a name typed without one
    int selectedFilter = 0;
    QString title = QString();     // the dialog's title
    QString directory = QString(); // where the dialog opens; empty: the platform's choice
};

struct SaveFileAnswer
{
    QString path;
    int filterIndex = 0;
};

class SaveFileDialog
{
public:
    // Shows the dialog modally; nothing when the user cancels. Asks before overwriting.
    static std::optional<SaveFileAnswer> ask(QWidget* parent, const SaveFileRequest& request);

    // Sets up the dialog the way ask() shows it.
    static void configure(QFileDialog& dialog, const SaveFileRequest& request);

    // Test hook: while scripted, ask() records the request and returns the next answer set
    // (nothing, as a cancel, when none is set) instead of showing a dialog.
    static void setScripted(bool scripted);
    static void setNextAnswer(std::optional<SaveFileAnswer> answer);
    static std::optional<SaveFileRequest> lastRequest();
};

} // namespace ridelog
