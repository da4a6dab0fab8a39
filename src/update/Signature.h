// Whether bytes from the update site were signed by the publisher: minisign's public key and
// signature file, read here and checked with libsodium.
#pragma once

#include <QByteArray>
#include <QList>
#include <QStringView>

#include <optional>

namespace tarnwick {

// A minisign public key: its 8-byte id and its Ed25519 key.
struct SigningKey {
    QByteArray id;
    QByteArray ed25519;
};

// The base64 line of minisign.pub; nothing when it is not a minisign Ed25519 key.
std::optional<SigningKey> ParseSigningKey(QStringView base64);

// Several such lines separated by commas, so that an updater can know the key in use and the
// one that replaces it. Empty when any of them is not a key: a mistyped list trusts nothing.
QList<SigningKey> ParseSigningKeys(QStringView list);

enum class SignatureCheck {
    Valid,
    Malformed,        // not a minisign signature file (an error page, a cut-off file)
    WrongKey,         // made with another key
    FileMismatch,     // does not belong to these bytes
    CommentMismatch,  // the trusted comment was changed after signing
};

// Both of minisign's signatures must hold: the one over the bytes (prehashed with BLAKE2b or,
// in the legacy format, over the bytes themselves) and the global one over that signature and
// the trusted comment.
// With several keys, the one whose id the signature names is checked. A valid signature's
// trusted comment goes to `trustedComment` when given.
SignatureCheck CheckSignature(const QList<SigningKey>& keys, const QByteArray& message, const QByteArray& minisig,
                              QByteArray* trustedComment = nullptr);

}  // namespace tarnwick
