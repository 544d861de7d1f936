#pragma once

#include "cloud/Exchange.h"
#include "core/Sha256.h"

#include <QByteArray>
#include <QString>
#include <QTemporaryFile>

// A document on its way into the target folder: a hidden temporary file in that folder, hashed as
// the bytes arrive, so nothing of the document needs to be held in memory. Until it is committed the
// file is removed when this object goes away, whichever way the download ended.
class IncomingDocument : public ReplySink
{
public:
    // Throws PlatformError when the temporary file cannot be created in the folder.
    explicit IncomingDocument(const QString &folder);

    // Removes the temporary files that downloads ended by a crash or a kill left in the folder, and
    // only those: a file that a running download holds stays. Returns how many were removed.
    static int removeAbandoned(const QString &folder);

    // Throws PlatformError when the bytes cannot be written (a full disk, say).
    void write(QByteArrayView bytes) override;
    // Makes the written bytes durable; throws PlatformError on failure.
    void finish();

    qint64 size() const { return m_size; }
    QByteArray sha256() const { return m_hash.result(); }
    // The first few bytes, enough to tell a PDF from a JPEG.
    const QByteArray &leadingBytes() const { return m_leading; }

    // Moves the file to `path` unless something already exists there (then false, nothing
    // changes). Never replaces an existing file. Throws PlatformError on any other failure.
    bool commitAs(const QString &path);

private:
    QTemporaryFile m_file;
    Sha256 m_hash;
    QByteArray m_leading;
    qint64 m_size = 0;
};
