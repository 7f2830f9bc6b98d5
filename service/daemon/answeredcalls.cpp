#include "answeredcalls.h"

#include "serviceprotocol.h"

const AnsweredCalls::Answer *AnsweredCalls::find(const QString &callId) const
{
    for (const Answer &answer : answers) {
        if (answer.callId == callId)
            return &answer;
    }
    return nullptr;
}

void AnsweredCalls::remember(const Answer &answer)
{
    answers.append(answer);
    while (answers.size() > kKept)
        answers.removeFirst();
}

QString AnsweredCalls::refusalOf(const QList<Answer> &saved)
{
    if (saved.size() > kKept)
        return QStringLiteral("more than %1 answers").arg(kKept);
    for (const Answer &answer : saved) {
        const bool valueFits = !answer.value.isValid() || answer.value.userType() == QMetaType::Int;
        if (answer.callId.isEmpty() || answer.callId.size() > ServiceProtocol::kMaxCallIdLength
            || !valueFits)
            return QStringLiteral("an answer without a call id or with a bad value");
    }
    return QString();
}
