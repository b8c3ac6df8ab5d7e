#include "ui/savefiledialog.h"

#include <QFileDialog>
#include <QFileInfo>

namespace ridelog {

namespace {

// Touched by the user-interface thread only.
struct Script
{
    bool scripted = false;
    std::optional<SaveFileAnswer> nextAnswer;
    std::optional<SaveFileRequest> lastRequest;
};

Script& script()
{
    static Script instance;
    return instance;
}

QString suffixOfFilter(const SaveFileRequest& request, const QString& filter)
{
    const qsizetype index = request.filters.indexOf(filter);
    return index >= 0 && index < request.suffixes.size() ? request.suffixes[index] : QString();
}

} // namespace

void SaveFileDialog::configure(QFileDialog& dialog, const SaveFileRequest& request)
{
    dialog.setAcceptMode(QFileDialog::AcceptSave);
    if (!request.title.isEmpty())
        dialog.setWindowTitle(request.title);
    if (!request.directory.isEmpty() && QFileInfo(request.directory).isDir())
        dialog.setDirectory(request.directory);
    dialog.setFileMode(QFileDialog::AnyFile);
    dialog.setOption(QFileDialog::DontConfirmOverwrite, false);
    dialog.setNameFilters(request.filters);
    if (request.selectedFilter >= 0 && request.selectedFilter < request.filters.size())
        dialog.selectNameFilter(request.filters[request.selectedFilter]);
    dialog.selectFile(request.initialName);
    // A name typed without an extension gets the one of the filter selected at that moment,
    // before the dialog asks about overwriting.
    dialog.setDefaultSuffix(suffixOfFilter(request, dialog.selectedNameFilter()));
    QObject::connect(&dialog, &QFileDialog::filterSelected, &dialog,
                     [&dialog, request](const QString& filter) {
                         dialog.setDefaultSuffix(suffixOfFilter(request, filter));
                     });
}

std::optional<SaveFileAnswer> SaveFileDialog::ask(QWidget* parent, const SaveFileRequest& request)
{
    if (script().scripted) {
        script().lastRequest = request;
        return std::exchange(script().nextAnswer, std::nullopt);
    }
    QFileDialog dialog(parent);
    configure(dialog, request);
    if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty())
        return std::nullopt;
    const qsizetype filterIndex = request.filters.indexOf(dialog.selectedNameFilter());
    return SaveFileAnswer{dialog.selectedFiles().constFirst(),
                          int(qMax<qsizetype>(0, filterIndex))};
}

void SaveFileDialog::setScripted(bool scripted)
{
    script().scripted = scripted;
    script().nextAnswer.reset();
    script().lastRequest.reset();
}

void SaveFileDialog::setNextAnswer(std::optional<SaveFileAnswer> answer)
{
    script().nextAnswer = std::move(answer);
}

std::optional<SaveFileRequest> SaveFileDialog::lastRequest()
{
    return script().lastRequest;
}

} // namespace ridelog
