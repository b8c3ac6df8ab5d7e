// The user's settings: window state, column widths and display flags.
#pragma once

#include "names/displayflags.h"

#include <QSettings>
#include <QString>
#include <memory>
#include <optional>

namespace ridelog {

// Knows every value name and its default. Values live in the group "Trfc" of the QSettings
// handed in; a value counts only when it parses as an integer, anything else gives the default.
class TrfcSettings
{
public:
    explicit TrfcSettings(QSettings& settings);

    std::optional<int> readInteger(const QString& name) const;
    int integer(const QString& name, int fallback) const;
    bool flag(const QString& name, bool fallback) const;
    QString text(const QString& name) const;

    // Write failures are ignored, as with every settings write.
    void writeInteger(const QString& name, int value);
    void writeFlag(const QString& name, bool on) { writeInteger(name, on ? 1 : 0); }

    DisplayFlags displayFlags() const;

    static QString displayFlagName(bool DisplayFlags::*flag);

private:
    QString key(const QString& name) const;

    QSettings& settings_;
};

// Settings of the organisation "Tanpopo", application "Hotaru" in the user's config folder.
std::unique_ptr<QSettings> openUserSettings();

} // namespace ridelog
