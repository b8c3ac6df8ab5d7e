// The user's settings: window state, column widths and display flags.
#pragma once

#include "store/displayflags.h"

#include <QSettings>
#include <QString>
#include <map>
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

    // Values written here are kept in memory and reach the file only through save(); a value
    // equal to the one in force is no change.
    void writeInteger(const QString& name, int value);
    void writeFlag(const QString& name, bool on) { writeInteger(name, on ? 1 : 0); }
    bool hasUnsavedChanges() const { return !pending_.empty() || textsChanged_; }

    // Texts of groups of their own (the folder the save dialog wrote to last); the group
    // "Trfc" holds integers alone. Written with the next save().
    QString groupText(const QString& group, const QString& name) const;
    void writeGroupText(const QString& group, const QString& name, const QString& value);

    // Writes the file once, when a value changed: the new file is made beside the old one,
    // read back and only then put in its place, so a failed write (a full disk) leaves the
    // previous file as it was. False, with a line in the log, when the file could not be
    // written; the changes then stay unsaved.
    bool save();

    DisplayFlags displayFlags() const;

    static QString displayFlagName(bool DisplayFlags::*flag);

private:
    QString key(const QString& name) const;

    bool replaceFile();
    // Every key and the values not yet saved into a new file at path; keys gains the new names.
    bool writeCopy(const QString& path, QStringList& keys) const;
    // Whether the file at path holds every key with the value it should.
    bool readsBackWhole(const QString& path, const QStringList& keys) const;

    QSettings& settings_;
    std::map<QString, int> pending_;
    bool textsChanged_ = false;
};

// Settings of the organisation "Tanpopo", application "Hotaru" in the user's config folder.
std::unique_ptr<QSettings> openUserSettings();

} // namespace ridelog
