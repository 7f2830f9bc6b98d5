#include "benchtable.h"

#include <algorithm>
#include <cstdio>

namespace {

struct Spread
{
    double median;
    double min;
    double max;
};

Spread spread(std::vector<double> values)
{
    std::sort(values.begin(), values.end());
    const std::size_t half = values.size() / 2;
    const double median = values.size() % 2 ? values[half] : (values[half - 1] + values[half]) / 2;
    return { median, values.front(), values.back() };
}

QString figures(const std::vector<double> &values)
{
    if (values.empty())
        return QString();
    const Spread s = spread(values);
    const int decimals = s.max < 10 ? 2 : 1;
    return QStringLiteral("%1 [%2, %3]")
        .arg(s.median, 8, 'f', decimals)
        .arg(s.min, 0, 'f', decimals)
        .arg(s.max, 0, 'f', decimals);
}

std::vector<double> ratios(const std::vector<double> &tirv, const std::vector<double> &theirs)
{
    std::vector<double> result;
    for (std::size_t i = 0; i < std::min(tirv.size(), theirs.size()); ++i)
        result.push_back(theirs[i] != 0 ? tirv[i] / theirs[i] : 0);
    return result;
}

QString goalText(BenchTable::Goal goal, double bound)
{
    switch (goal) {
    case BenchTable::Goal::None:
        return QString();
    case BenchTable::Goal::RatioAtMost:
        return QStringLiteral("ratio <= %1").arg(bound);
    case BenchTable::Goal::RatioAtLeast:
        return QStringLiteral("ratio >= %1").arg(bound);
    case BenchTable::Goal::Below:
        return QStringLiteral("< %1").arg(bound);
    case BenchTable::Goal::AtLeast:
        return QStringLiteral(">= %1").arg(bound);
    }
    return QString();
}

bool isMet(BenchTable::Goal goal, double bound, double value, double ratio)
{
    switch (goal) {
    case BenchTable::Goal::RatioAtMost:
        return ratio <= bound;
    case BenchTable::Goal::RatioAtLeast:
        return ratio >= bound;
    case BenchTable::Goal::Below:
        return value < bound;
    case BenchTable::Goal::AtLeast:
        return value >= bound;
    case BenchTable::Goal::None:
        break;
    }
    return true;
}

void printLine(const QString &what, const QString &tirv, const QString &reference,
    const QString &theirs, const QString &ratio, const QString &goal)
{
    printf("%-44s %-28s %-9s %-28s %-6s %s\n", what.toUtf8().constData(), tirv.toUtf8().constData(),
        reference.toUtf8().constData(), theirs.toUtf8().constData(), ratio.toUtf8().constData(),
        goal.toUtf8().constData());
    fflush(stdout);
}

} // namespace

void BenchTable::printHeader() const
{
    printLine(QStringLiteral("figure"), QStringLiteral("TIRV median [min, max]"),
        QStringLiteral("reference"), QStringLiteral("median [min, max]"), QStringLiteral("ratio"),
        QStringLiteral("goal"));
}

void BenchTable::section(const QString &title) const
{
    printf("-- %s\n", title.toUtf8().constData());
    fflush(stdout);
}

void BenchTable::row(const QString &what, const std::vector<double> &tirv, const QString &reference,
    const std::vector<double> &theirs, Goal goal, double bound)
{
    const std::vector<double> perRound = ratios(tirv, theirs);
    const double ratio = perRound.empty() ? 0 : spread(perRound).median;
    QString goalColumn = goalText(goal, bound);
    if (goal != Goal::None) {
        const bool met = isMet(goal, bound, spread(tirv).median, ratio);
        goalColumn += met ? QStringLiteral(" met") : QStringLiteral(" MISSED");
        ++goalCount;
        missedGoals += met ? 0 : 1;
    }
    printLine(what, figures(tirv), reference, figures(theirs),
        perRound.empty() ? QString() : QString::number(ratio, 'f', 2), goalColumn);
}
