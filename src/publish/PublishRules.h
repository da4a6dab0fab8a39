// What a publication may hold: versions and file names that every updater reads and saves as the
// publisher meant them. Each check gives the reason of its refusal, or nothing.
#pragma once

#include <QString>
#include <QStringList>

#include <optional>

namespace tarnwick {

// A version as given on the command line; the part before its first blank names its folder.
std::optional<QString> RefusedVersion(const QString& version);

// The first name of the list the updater would misread or misplace: a line break or a leading
// blank, a name it refuses to save (its own working files, "..", control characters), a name
// that is also the manifest's, or a name listed twice (letters of either case being the same, as
// in a Windows folder).
std::optional<QString> RefusedName(const QStringList& names);

// A name as error messages show it: quoted, with control characters escaped.
QString Shown(const QString& name);

// Says why a run stops, and what became of the site, on stderr; the run's exit status, 1.
int Refuse(const QString& message, const char* site = "the site is unchanged");

}  // namespace tarnwick
