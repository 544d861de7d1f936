#include "transfer/FileNaming.h"

#include <QStringList>
#include <QUrl>

namespace FileNaming {

namespace {

int utf8Size(const QString &text)
{
    return int(text.toUtf8().size());
}

// The longest prefix of `text` that fits in maxBytes of UTF-8, never splitting a surrogate pair.
QString truncatedToBytes(const QString &text, int maxBytes)
{
    int bytes = 0;
    qsizetype end = 0;
    while (end < text.size()) {
        const bool pair
            = text.at(end).isHighSurrogate() && end + 1 < text.size() && text.at(end + 1).isLowSurrogate();
        const qsizetype step = pair ? 2 : 1;
        const int width = utf8Size(text.mid(end, step));
        if (bytes + width > maxBytes)
            break;
        bytes += width;
        end += step;
    }
    return text.left(end);
}

// Extensions longer than this are cut when a name must be shortened; real ones are far shorter.
constexpr int maxExtensionBytes = 32;

// Characters that make a listed name lie or misbehave: control characters (a newline splits a line
// of a listing, an escape drives the terminal) and the marks that reverse the displayed order
// ("fatura\u202Efdp.exe" shows as "faturaexe.pdf").
bool isHiddenControl(char16_t c)
{
    return c < 0x20 || (c >= 0x7F && c <= 0x9F) || c == 0x061C || c == 0x200E || c == 0x200F
        || (c >= 0x202A && c <= 0x202E) || (c >= 0x2066 && c <= 0x2069) || c == 0xFEFF;
}

} // namespace

QString cleanName(const QString &original)
{
    // Composed and decomposed spellings of one name are one name to the user, but two to the file
    // system; without this, "Fiş.pdf" could be saved twice side by side.
    QString cleaned = original.normalized(QString::NormalizationForm_C);
    for (qsizetype i = 0; i < cleaned.size(); ++i) {
        const char16_t c = cleaned.at(i).unicode();
        // A half of a surrogate pair has no UTF-8 form: the file on disk would get another name
        // than the one reported back.
        const bool pair
            = QChar::isHighSurrogate(c) && i + 1 < cleaned.size() && cleaned.at(i + 1).isLowSurrogate();
        if (pair) {
            ++i;
            continue;
        }
        if (c == u'/' || c == u':' || c == u'\\' || isHiddenControl(c) || QChar::isSurrogate(c))
            cleaned[i] = u'_';
    }
    return cleaned;
}

NameParts splitName(const QString &cleaned)
{
    const qsizetype dot = cleaned.lastIndexOf(u'.');
    QString base = dot < 0 ? cleaned : cleaned.left(dot);
    QString extension = dot < 0 ? QString() : cleaned.mid(dot + 1);
    if (extension.isEmpty())
        extension = QStringLiteral("jpg");
    // A leading dot hides the file from the user, and our own temporary files start with one: a
    // document named like them would be swept away as abandoned.
    qsizetype dots = 0;
    while (dots < base.size() && base.at(dots) == u'.')
        ++dots;
    base.remove(0, dots);
    if (base.isEmpty())
        base = QStringLiteral("evrak"); // "document": a plain word, as the user would name it
    return {base, extension};
}

QString candidateName(const NameParts &parts, int number, int maxBytes)
{
    const QString numberPart = number >= 2 ? QStringLiteral("_%1").arg(number) : QString();
    QString extension = parts.extension;
    QString whole = parts.base + numberPart + u'.' + extension;
    if (utf8Size(whole) <= maxBytes)
        return whole;

    if (utf8Size(extension) > maxExtensionBytes)
        extension = truncatedToBytes(extension, maxExtensionBytes);
    const int room = maxBytes - utf8Size(numberPart) - 1 - utf8Size(extension);
    return truncatedToBytes(parts.base, room) + numberPart + u'.' + extension;
}

QString escapedStoragePath(const QString &storagePath)
{
    // Besides the unreserved characters, these sub-delimiters may stand unescaped in a path.
    static const QByteArray keptAsIs = QByteArrayLiteral("!$&'()*+,=:@");
    QStringList pieces;
    for (const QString &piece : storagePath.split(u'/', Qt::SkipEmptyParts))
        pieces.append(QString::fromLatin1(QUrl::toPercentEncoding(piece, keptAsIs)));
    return pieces.join(u'/');
}

} // namespace FileNaming
