#pragma once

#include <QString>

// Which backend a request goes to: the project's base address and its publishable key. The model
// holds the live pair; everything below it receives a copy, so a value can never change under a
// request that is on its way.
struct Backend {
    QString url;
    QString key;

    // Whether anything can be attempted: an address whose scheme is written exactly "https" and a
    // key that is not blank.
    bool isConfigured() const;
    // The address without surrounding white space and "/", the key without surrounding white space.
    Backend normalised() const;

    bool operator==(const Backend &) const = default;
};

// Whether the text, unchanged, is a URL whose scheme is written exactly "https".
bool isHttpsAddress(const QString &text);
