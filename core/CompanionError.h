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

    // `status` is the HTTP status of the answer the text came from, 0 when it came from elsewhere.
    static CompanionError server(const QString &text, int status = 0)
    {
        CompanionError error(Kind::Server, text);
        error.m_status = status;
        return error;
    }
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
    int httpStatus() const { return m_status; }
    const char *what() const noexcept override { return m_utf8.constData(); }

    bool operator==(const CompanionError &other) const
    {
        return m_kind == other.m_kind && m_message == other.m_message;
    }

private:
    explicit CompanionError(Kind kind, const QString &serverText = {});

    Kind m_kind;
    int m_status = 0;
    QString m_message;
    QByteArray m_utf8;
};

// The message of any error as the user should see it: our own text, the platform's description, or
// the standard library's explanation.
QString errorMessage(const std::exception &error);
