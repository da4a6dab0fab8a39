// Reading the update manifest: its three elements are found by searching the raw text for
// fixed tags, never by parsing markup; versions are plain text compared by character value.
#pragma once

#include <QString>
#include <QStringList>

#include <optional>

namespace tarnwick {

// The text of the first element with this tag name, or nothing when "<tag>" does not occur.
std::optional<QString> ManifestElement(const QString& document, const QString& tagName);

// The published product version: the "ver" element up to its first space. Nothing when the
// element is missing or empty.
std::optional<QString> ManifestVersion(const QString& document);

// The names of the update's files, split at "<br>" exactly, empty names kept. Nothing when
// the "file" element is missing.
std::optional<QStringList> ManifestFileNames(const QString& document);

// The newest updater version, read like ManifestVersion from "newupdater".
std::optional<QString> ManifestUpdaterVersion(const QString& document);

enum class VersionOrder { Less, Equal, Greater };

// The updater's own version, compared as text with the published one.
inline constexpr char kUpdaterVersion[] = "0.2";

// Character by character by numeric value, a proper prefix being the smaller:
// "0.10" < "0.9", "0.2" < "0.2.1".
VersionOrder CompareVersionText(const QString& a, const QString& b);

// True when the manifest's "newupdater" compares greater than this updater's own version.
bool AnnouncesNewerUpdater(const QString& document);

}  // namespace tarnwick
