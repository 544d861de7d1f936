#pragma once

#include <QByteArray>
#include <QByteArrayView>
#include <QIODevice>

#include <memory>

struct evp_md_ctx_st;

// SHA-256 through libcrypto, which uses the processor's SHA instructions where there are any: about
// ten times the speed of Qt's portable code here (0.2 ms instead of 2 ms for 256 KiB), and every
// downloaded byte passes through it on the event loop's thread.
class Sha256
{
public:
    Sha256();
    ~Sha256();
    Sha256(const Sha256 &) = delete;
    Sha256 &operator=(const Sha256 &) = delete;

    void addData(QByteArrayView bytes);
    // Reads the device to its end; false when a read fails.
    bool addData(QIODevice *device);
    // The 32-byte digest of everything added so far; more may be added afterwards.
    QByteArray result() const;

private:
    struct Free {
        void operator()(evp_md_ctx_st *context) const;
    };
    std::unique_ptr<evp_md_ctx_st, Free> m_context;
};
