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

// The optional "size" element: each listed file's size in bytes, in the order of "file", split
// at "<br>" like the digests (blanks around a number ignored), so that a transfer that runs on
// past it is cut off. Read only with a signing key: without one the manifest vouches for nothing.
struct ManifestSizes {
    ManifestDigests::State state = ManifestDigests::State::Absent;
    QList<qint64> sizes;  // in the order of the file names
};
ManifestSizes ReadManifestSizes(const QString& document);

// A patch the publisher made, with Zstandard's patch mode, from the copy that the installed
// version shipped to the new file; served at the file's own address followed by ".zst-patch".
struct PatchOffer {
    QByteArray fromSha256;   // the installed copy it applies to; empty: no patch for this file
    QByteArray patchSha256;  // the patch file itself
};

// The optional "patch" element: one entry per listed file, in order, "<br>"-separated, each
// either empty or the two digests (the copy it applies to, the patch) separated by a blank.
// Only with "sha256" listed, which checks the patched file; absent, malformed or without
// "sha256": no patches (every file is fetched whole).
QList<PatchOffer> ReadManifestPatches(const QString& document);

// Whether the updater may act on this manifest: its digests are not malformed, and a manifest
// checked against a signature carries them (a signature that vouched for the names alone would
// not vouch for what the files hold); a signed manifest's sizes are not malformed either.
bool ManifestDigestsAcceptable(const QString& document, bool signatureChecked);

}  // namespace tarnwick
