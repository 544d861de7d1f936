#pragma once

#include <QDateTime>
#include <QList>
#include <QObject>
#include <QString>

// One document as it landed in the target folder.
struct Arrival {
    QDateTime savedAt;
    QString path; // absolute

    QString fileName() const;
    bool operator==(const Arrival &) const = default;
};

// The documents saved lately, newest first, kept in a small file of the program's own so the list
// survives a restart. The file is only ever replaced whole. One that cannot be read is set aside
// beside it under ".unreadable", never overwritten, and the list starts empty.
class RecentArrivals : public QObject
{
    Q_OBJECT
public:
    static constexpr int capacity = 1000;

    // Reads the list from `filePath`; an empty path keeps it for this run only.
    explicit RecentArrivals(QString filePath, QObject *parent = nullptr);

    const QList<Arrival> &all() const { return m_arrivals; }
    // Puts the arrival first, once: a file found again moves up instead of showing twice. The oldest
    // beyond the capacity drop out. Written by the next save().
    void add(const Arrival &arrival);
    // Writes the list when it changed since the last write. False when it could not be written.
    bool save();
    // Whether the list will still be there after a restart.
    bool isKept() const { return m_kept; }
    // Whether the arrival's file is still a regular file at the place it was saved.
    static bool isPresent(const Arrival &arrival);

Q_SIGNALS:
    void changed();

private:
    void load();

    QString m_filePath;
    QList<Arrival> m_arrivals;
    bool m_unsaved = false;
    bool m_kept = true;
};
