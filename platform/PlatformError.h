#pragma once

#include <QString>

#include <exception>

// An error raised by the operating system or the network stack, carrying the description that the
// platform gave for it. The user sees that description unchanged.
class PlatformError : public std::exception
{
public:
    explicit PlatformError(QString description)
        : m_description(std::move(description))
        , m_utf8(m_description.toUtf8())
    {
    }

    const QString &description() const { return m_description; }
    const char *what() const noexcept override { return m_utf8.constData(); }

private:
    QString m_description;
    QByteArray m_utf8;
};
