#include "ui/openfiledialog.h"

#include <QFileDialog>

namespace ridelog {

namespace {

// Touched by the user-interface thread only.
struct Script
{
    bool scripted = false;
    QStringList nextAnswer;
    OpenFileRequest lastRequest;
};

Script& script()
{
    static Script instance;
    return instance;
}

} // namespace

QStringList OpenFileDialog::ask(QWidget* parent, const OpenFileRequest& request)
{
    if (script().scripted) {
        script().lastRequest = request;
        return std::exchange(script().nextAnswer, QStringList());
    }
    QFileDialog dialog(parent, request.title, request.folder);
    dialog.setAcceptMode(QFileDialog::AcceptOpen);
    dialog.setFileMode(request.manyFiles ? QFileDialog::ExistingFiles : QFileDialog::ExistingFile);
    dialog.setNameFilters(request.filters);
    if (dialog.exec() != QDialog::Accepted)
        return QStringList();
    return dialog.selectedFiles();
}

void OpenFileDialog::setScripted(bool scripted)
{
    script().scripted = scripted;
    script().nextAnswer.clear();
    script().lastRequest = OpenFileRequest();
}

void OpenFileDialog::setNextAnswer(const QStringList& files)
{
    script().nextAnswer = files;
}

OpenFileRequest OpenFileDialog::lastRequest()
{
    return script().lastRequest;
}

} // namespace ridelog
