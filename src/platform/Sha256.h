// SHA-256 through OpenSSL's libcrypto, which uses the processor's SHA instructions where it has
// them: several times what a portable implementation does, so that checking a large file costs
// little beside receiving it.
#pragma once

#include <QByteArray>
#include <QString>

#include <atomic>
#include <optional>

struct evp_md_ctx_st;

namespace tarnwick {

class Sha256 {
public:
    Sha256();
    ~Sha256();
    Sha256(const Sha256&) = delete;
    Sha256& operator=(const Sha256&) = delete;

    void Add(const char* data, qint64 size);
    // The 32-byte digest of everything added; the sum starts afresh afterwards.
    QByteArray Result();

private:
    evp_md_ctx_st* m_context;
};

// The digest of a file's contents (a link followed), or nothing when it cannot be read whole or
// stop was set on the way.
std::optional<QByteArray> FileSha256(const QString& path, const std::atomic<bool>* stop = nullptr);

}  // namespace tarnwick
