// The small interfaces through which library and engine code reaches the user.
// Windows implement them with message boxes, progress and status bars; tests
// implement them with scripted answers and recorders. Texts arrive formatted.
#pragma once

#include <QString>
#include <QStringList>

class Prompter
{
public:
    enum class Icon { Information, Question, Warning, Critical };
    virtual ~Prompter() = default;
    // Shows a message with the given buttons and returns the index of the chosen
    // one; escapeButton -1 means the box cannot be escaped.
    virtual int ask(Icon icon, const QString& caption, const QString& text,
                    const QStringList& buttons, int defaultButton = 0, int escapeButton = -1) = 0;
};

class ProgressSink
{
public:
    virtual ~ProgressSink() = default;
    virtual void setTotal(qint64 total) = 0;
    virtual void setDone(qint64 done) = 0;
};

class StatusSink
{
public:
    virtual ~StatusSink() = default;
    virtual void showStatus(const QString& text) = 0;
};
