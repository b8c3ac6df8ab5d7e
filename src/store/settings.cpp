#include "store/settings.h"

#include "namedata/checkedfile.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryFile>
#include <array>
#include <cstdio>
#include <unistd.h>
#include <utility>

namespace ridelog {

namespace {

struct FlagValue
{
    bool DisplayFlags::*member;
    const char16_t* name;
};

constexpr std::array<FlagValue, 9> kFlagValues{{
    {&DisplayFlags::balanceBarShown, u"zanViewM"},
    {&DisplayFlags::railCompanyShown, u"ipnComShow"},
    {&DisplayFlags::railLineShown, u"ipnLinShow"},
    {&DisplayFlags::busCompanyShown, u"busComShow"},
    {&DisplayFlags::busRouteShown, u"busLinShow"},
    {&DisplayFlags::shopInfoShown, u"bpnShow"},
    {&DisplayFlags::shopCompanyShown, u"bpnComShow"},
    {&DisplayFlags::shopNameShown, u"bpnStoShow"},
    {&DisplayFlags::shopRegisterShown, u"bpnRegShow"},
}};

} // namespace

TrfcSettings::TrfcSettings(QSettings& settings)
    : settings_(settings)
{}

QString TrfcSettings::key(const QString& name) const
{
    return QStringLiteral("Trfc/") + name;
}

std::optional<int> TrfcSettings::readInteger(const QString& name) const
{
    if (const auto changed = pending_.find(name); changed != pending_.end())
        return changed->second;
    const QVariant value = settings_.value(key(name));
    if (!value.isValid())
        return std::nullopt;
    if (value.typeId() == QMetaType::Int || value.typeId() == QMetaType::LongLong ||
        value.typeId() == QMetaType::UInt) {
        return value.toInt();
    }
    if (value.typeId() != QMetaType::QString)
        return std::nullopt;
    bool ok = false;
    const int number = value.toString().trimmed().toInt(&ok);
    if (!ok)
        return std::nullopt;
    return number;
}

int TrfcSettings::integer(const QString& name, int fallback) const
{
    return readInteger(name).value_or(fallback);
}

bool TrfcSettings::flag(const QString& name, bool fallback) const
{
    const auto value = readInteger(name);
    return value ? *value != 0 : fallback;
}

QString TrfcSettings::text(const QString& name) const
{
    const QVariant value = settings_.value(key(name));
    return value.typeId() == QMetaType::QString ? value.toString() : QString();
}

void TrfcSettings::writeInteger(const QString& name, int value)
{
    pending_.erase(name);
    const QVariant stored = settings_.value(key(name));
    if (readInteger(name) == value && stored.toString() == QString::number(value))
        return;
    pending_[name] = value;
}

QString TrfcSettings::groupText(const QString& group, const QString& name) const
{
    const QVariant value = settings_.value(group + QLatin1Char('/') + name);
    return value.typeId() == QMetaType::QString ? value.toString() : QString();
}

void TrfcSettings::writeGroupText(const QString& group, const QString& name, const QString& value)
{
    if (group == QStringLiteral("Trfc") || groupText(group, name) == value)
        return;
    settings_.setValue(group + QLatin1Char('/') + name, value);
    textsChanged_ = true;
}

bool TrfcSettings::save()
{
    if (pending_.empty() && !textsChanged_)
        return true;
    if (settings_.format() != QSettings::IniFormat || settings_.fileName().isEmpty()) {
        for (const auto& [name, value] : pending_)
            settings_.setValue(key(name), value);
        settings_.sync();
        pending_.clear();
        textsChanged_ = false;
        return settings_.status() == QSettings::NoError;
    }
    if (!replaceFile()) {
        qWarning("ridelog: the settings could not be written to %s; the file stays as it was",
                 qUtf8Printable(settings_.fileName()));
        return false;
    }
    pending_.clear();
    textsChanged_ = false;
    // The file changed under the object: it reads it again.
    settings_.sync();
    return true;
}

bool TrfcSettings::writeCopy(const QString& path, QStringList& keys) const
{
    QSettings out(path, QSettings::IniFormat);
    for (const QString& k : keys)
        out.setValue(k, settings_.value(k));
    for (const auto& [name, value] : pending_) {
        out.setValue(key(name), value);
        if (!keys.contains(key(name)))
            keys.append(key(name));
    }
    out.sync();
    return out.status() == QSettings::NoError;
}

// Qt may commit a file whose last bytes never reached the disk, so the new file is read back,
// under a second name of its own, before it replaces the old one.
bool TrfcSettings::readsBackWhole(const QString& path, const QStringList& keys) const
{
    const QString check = path + QStringLiteral(".check");
    bool complete =
        ::link(QFile::encodeName(path).constData(), QFile::encodeName(check).constData()) == 0;
    if (complete) {
        QSettings readBack(check, QSettings::IniFormat);
        complete =
            readBack.status() == QSettings::NoError && readBack.allKeys().size() == keys.size();
        for (const QString& k : keys) {
            if (!complete)
                break;
            const auto expected = pending_.find(k.mid(5));
            const QString want = k.startsWith(QStringLiteral("Trfc/")) && expected != pending_.end()
                                     ? QString::number(expected->second)
                                     : settings_.value(k).toString();
            complete = readBack.contains(k) && readBack.value(k).toString() == want;
        }
    }
    QFile::remove(check);
    return complete;
}

bool TrfcSettings::replaceFile()
{
    const QString target = settings_.fileName();
    const QString folder = QFileInfo(target).absolutePath();
    if (!QDir().mkpath(folder))
        return false;
    // A name never used before in this run, so no cached copy of another file stands for it.
    QTemporaryFile reserved(folder + QStringLiteral("/.") + QFileInfo(target).fileName() +
                            QStringLiteral(".XXXXXX"));
    if (!reserved.open())
        return false;
    const QString written = reserved.fileName();
    QStringList keys = settings_.allKeys();
    if (!writeCopy(written, keys)) {
        QFile::remove(written);
        return false;
    }
    if (!readsBackWhole(written, keys))
        return false;
    // What Qt wrote is checked; the file itself is put in place by the checked writer.
    QFile made(written);
    if (!made.open(QIODevice::ReadOnly))
        return false;
    const QByteArray bytes = made.readAll();
    made.close();
    WriteFailure failure;
    if (!writeFileChecked(target, bytes, &failure)) {
        qWarning("ridelog: %s", qUtf8Printable(failure.describe()));
        return false;
    }
    return true;
}

DisplayFlags TrfcSettings::displayFlags() const
{
    const DisplayFlags defaults;
    DisplayFlags flags;
    for (const auto& value : kFlagValues)
        flags.*value.member = flag(QString::fromUtf16(value.name), defaults.*value.member);
    return flags;
}

QString TrfcSettings::displayFlagName(bool DisplayFlags::*flag)
{
    for (const auto& value : kFlagValues) {
        if (value.member == flag)
            return QString::fromUtf16(value.name);
    }
    return QString();
}

std::unique_ptr<QSettings> openUserSettings()
{
    return std::make_unique<QSettings>(QSettings::IniFormat, QSettings::UserScope,
                                       QStringLiteral("Tanpopo"), QStringLiteral("Hotaru"));
}

} // namespace ridelog
