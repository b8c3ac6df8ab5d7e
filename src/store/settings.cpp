#include "store/settings.h"

#include <array>
#include <utility>

namespace ridelog {

namespace {

struct FlagValue
{
    bool DisplayFlags::*member;
    const char16_t* name;
};

constexpr std::array<FlagValue, 9> kFlagValues{{
    {&DisplayFlags::zanViewM, u"zanViewM"},
    {&DisplayFlags::ipnComShow, u"ipnComShow"},
    {&DisplayFlags::ipnLinShow, u"ipnLinShow"},
    {&DisplayFlags::busComShow, u"busComShow"},
    {&DisplayFlags::busLinShow, u"busLinShow"},
    {&DisplayFlags::bpnShow, u"bpnShow"},
    {&DisplayFlags::bpnComShow, u"bpnComShow"},
    {&DisplayFlags::bpnStoShow, u"bpnStoShow"},
    {&DisplayFlags::bpnRegShow, u"bpnRegShow"},
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
    settings_.setValue(key(name), value);
    settings_.sync();
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
