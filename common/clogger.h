#pragma once

#include <QString>
#include <QTimer>

#include <memory>

class QFile;

// The run log on the stick: a head line that tells whether the last update succeeded, then
// every line the operator saw. The launcher creates it, the updater continues it.
class CLogger
{
public:
    // The line under the head line, written by whoever starts a new log.
    static constexpr const char *Separator = "------------------------\n";

    enum MODE {
        WRITE_ONLY = 0, // a new log: the old content is gone (launcher)
        READ_WRITE = 1, // continue an existing log (updater)
    };

    CLogger(const QString &path, MODE mode);
    virtual ~CLogger();
    CLogger(const CLogger &) = delete;
    CLogger &operator=(const CLogger &) = delete;

    void toggleLogger(bool on);

    // Appends text at the end of the log; the caller supplies the line end. False when the
    // text did not reach the file (no log could be opened, the stick is full or read-only).
    bool write(const QString &text);

    // Replaces the head line of the log with text (a line with its line end).
    void writeReport(const QString &text);

    // Flushes, closes and releases the file; nothing is written afterwards.
    void close();

    bool isOpen() const;
    // Whether the open log holds nothing yet.
    bool isEmpty() const;
    QString path() const { return logPath; }

private:
    bool writable() const;
    // Flushes the lines that wait for the log's next flush once their delay has passed, also
    // when no line and no flush point follows (a program that runs for long).
    void flushLater();

    QString logPath;
    std::unique_ptr<QFile> logFile;
    QTimer flushTimer;
    bool enabled = true;
};
