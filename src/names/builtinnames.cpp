#include "names/builtinnames.h"

#include "namedata/answer.h"
#include "namedata/namedatabase.h"
#include "namedata/request.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QStandardPaths>

namespace ridelog {

namespace {

const QString& namesFileName()
{
    static const QString name = QStringLiteral("names.sqlite");
    return name;
}

QString buildTreeFile()
{
    return QStringLiteral(RIDELOG_BUILD_NAMES_DIR "/") + namesFileName();
}

bool isInside(const QString& path, const QString& folder)
{
    const QString clean = QDir::cleanPath(folder);
    return path == clean || path.startsWith(clean + u'/');
}

} // namespace

QStringList builtinNamesCandidates()
{
    QStringList candidates;
    const QString programDir =
        QCoreApplication::instance() ? QCoreApplication::applicationDirPath() : QString();
    if (!programDir.isEmpty() && isInside(programDir, QStringLiteral(RIDELOG_BUILD_DIR)))
        candidates.append(buildTreeFile());
    if (!programDir.isEmpty())
        candidates.append(QDir::cleanPath(
            programDir + QStringLiteral("/" RIDELOG_BIN_TO_NAMES_DIR "/") + namesFileName()));
    candidates.append(QStringLiteral(RIDELOG_INSTALL_NAMES_DIR "/") + namesFileName());
    candidates.append(QStandardPaths::locateAll(QStandardPaths::GenericDataLocation,
                                                QStringLiteral("ridelog/") + namesFileName()));
    candidates.append(buildTreeFile());
    candidates.removeDuplicates();
    return candidates;
}

QString findBuiltinNamesFile()
{
    const QStringList candidates = builtinNamesCandidates();
    for (const QString& candidate : candidates)
        if (QFileInfo(candidate).isFile())
            return candidate;
    return candidates.constFirst();
}

BuiltinNames::BuiltinNames(QString path)
    : path_(std::move(path))
{}

BuiltinNames::~BuiltinNames() = default;

bool BuiltinNames::load()
{
    const std::lock_guard lock(mutex_);
    return loadLocked();
}

bool BuiltinNames::loadLocked()
{
    if (!tried_) {
        tried_ = true;
        QString error;
        std::optional<nameserver::NameDirectory> directory =
            nameserver::readNameDatabase(path_, &error);
        if (directory)
            directory_ = std::make_unique<const nameserver::NameDirectory>(std::move(*directory));
        else
            failure_ = error.isEmpty() ? path_ : error;
    }
    return directory_ != nullptr;
}

BuiltinAnswer BuiltinNames::answer(const QString& itemList)
{
    BuiltinAnswer result;
    const std::lock_guard lock(mutex_);
    if (!loadLocked()) {
        result.failure = failure_;
        return result;
    }
    const QByteArray escaped = itemList.toLatin1();
    const nameserver::ParsedRequest request =
        nameserver::parseItemList(std::string_view(escaped.constData(), escaped.size()));
    result.available = true;
    result.skippedItems = request.skippedItems;
    const std::string answer = nameserver::buildAnswer(request.items, *directory_);
    result.body = QByteArray(answer.data(), qsizetype(answer.size()));
    return result;
}

} // namespace ridelog
