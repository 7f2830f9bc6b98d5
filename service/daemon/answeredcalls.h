#pragma once

#include <QList>
#include <QString>
#include <QVariant>

// The answers to the last changes that came with an id. A caller whose link to the service
// dropped before the answer came sends the same change again, perhaps to a service started
// since: it gets the answer kept here instead of the change being made twice. Kept with the
// connections and saved with them in one file, so a change lost in a crash is lost with its
// answer and made again, and a saved one is answered.
class AnsweredCalls
{
public:
    // Each caller waits for one answer at a time, and sends again at once: a few suffice.
    static constexpr int kKept = 64;

    struct Answer
    {
        QString callId;
        qint32 result = 0;
        // The created handle, or nothing.
        QVariant value;
        // Why it failed.
        QString reason {};
    };

    const Answer *find(const QString &callId) const;
    // Keeps answer, forgetting the oldest beyond kKept.
    void remember(const Answer &answer);
    // Oldest first.
    QList<Answer> all() const { return answers; }
    // Why saved answers cannot be restored (more than kKept, or one that no call could have
    // given); empty when they can.
    static QString refusalOf(const QList<Answer> &saved);
    void restore(const QList<Answer> &saved) { answers = saved; }

private:
    QList<Answer> answers;
};
