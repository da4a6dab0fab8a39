// The manifest's optional "sha256" element: one SHA-256 digest of each listed file, in the
// order of "file", so that a file that differs from what was published is never saved.
#pragma once

#include <QByteArray>
#include <QList>
#include <QString>

namespace tarnwick {

struct ManifestDigests {
    enum class State {
        Absent,     // no "sha256" element: files are saved as they arrive
        Listed,     // one digest per listed file
        Malformed,  // a digest that is not 64 hex digits, or more or fewer digests than files
    };
    State state = State::Absent;
    QList<QByteArray> digests;  // 32 bytes each, in the order of the file names
};

// Digests are split at "<br>" like the file names; hex digits of either case, blanks around a
// digest ignored. A manifest without "file" lists no files.
ManifestDigests ReadManifestDigests(const QString& document);

// Whether the updater may act on this manifest: its digests are not malformed, and a manifest
// checked against a signature carries them (a signature that vouched for the names alone would
// not vouch for what the files hold).
bool ManifestDigestsAcceptable(const QString& document, bool signatureChecked);

}  // namespace tarnwick
