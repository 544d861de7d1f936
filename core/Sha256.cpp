#include "core/Sha256.h"

#include <openssl/evp.h>

#include <new>

void Sha256::Free::operator()(evp_md_ctx_st *context) const
{
    EVP_MD_CTX_free(context);
}

Sha256::Sha256()
    : m_context(EVP_MD_CTX_new())
{
    // libcrypto fails here only when it cannot allocate.
    if (!m_context || EVP_DigestInit_ex(m_context.get(), EVP_sha256(), nullptr) != 1)
        throw std::bad_alloc();
}

Sha256::~Sha256() = default;

void Sha256::addData(QByteArrayView bytes)
{
    if (!bytes.isEmpty() && EVP_DigestUpdate(m_context.get(), bytes.data(), size_t(bytes.size())) != 1)
        throw std::bad_alloc();
}

bool Sha256::addData(QIODevice *device)
{
    QByteArray buffer(1 << 16, Qt::Uninitialized);
    for (;;) {
        const qint64 read = device->read(buffer.data(), buffer.size());
        if (read < 0)
            return false;
        if (read == 0)
            return device->atEnd();
        addData(QByteArrayView(buffer.constData(), read));
    }
}

QByteArray Sha256::result() const
{
    // Finishing consumes a context, so finish a copy and keep this one open for more bytes.
    std::unique_ptr<evp_md_ctx_st, Free> copy(EVP_MD_CTX_new());
    QByteArray digest(32, Qt::Uninitialized);
    unsigned int length = 0;
    if (!copy || EVP_MD_CTX_copy_ex(copy.get(), m_context.get()) != 1
        || EVP_DigestFinal_ex(copy.get(), reinterpret_cast<unsigned char *>(digest.data()), &length) != 1
        || length != unsigned(digest.size()))
        throw std::bad_alloc();
    return digest;
}
