#pragma once

#include <QByteArray>
#include <QString>

#include <exception>

// The program's own errors. The message is what the user sees, unchanged.
class CompanionError : public std::exception
{
public:
    enum class Kind {
        Server,
        MissingConfiguration,
        TargetFolderPermissionRequired,
        InvalidURL,
        InvalidResponse,
    };

    static CompanionError server(const QString &text) { return CompanionError(Kind::Server, text); }
    static CompanionError missingConfiguration() { return CompanionError(Kind::MissingConfiguration); }
    static CompanionError targetFolderPermissionRequired()
    {
        return CompanionError(Kind::TargetFolderPermissionRequired);
    }
    static CompanionError invalidURL() { return CompanionError(Kind::InvalidURL); }
    static CompanionError invalidResponse() { return CompanionError(Kind::InvalidResponse); }

    Kind kind() const { return m_kind; }
    // The server text for Kind::Server, the fixed text of the kind otherwise.
    const QString &message() const { return m_message; }
    const char *what() const noexcept override { return m_utf8.constData(); }

    bool operator==(const CompanionError &other) const
    {
        return m_kind == other.m_kind && m_message == other.m_message;
    }

private:
    explicit CompanionError(Kind kind, const QString &serverText = {});

    Kind m_kind;
    QString m_message;
    QByteArray m_utf8;
};

// The message of any error as the user should see it: our own text, the platform's description, or
// the standard library's explanation.
QString errorMessage(const std::exception &error);
