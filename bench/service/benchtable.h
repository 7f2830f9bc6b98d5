#pragma once

#include <QString>

#include <vector>

// The benchmark's one table. Each row is a figure measured in several rounds on TIRV and,
// where there is one, on a reference from the same rounds (socat, or a RAW port beside an
// RFC 2217 one): median [min, max] of each, the median of the rounds' ratios, and the goal.
class BenchTable
{
public:
    enum class Goal {
        None,
        RatioAtMost, // TIRV / reference
        RatioAtLeast,
        Below, // TIRV's median
        AtLeast,
    };

    void printHeader() const;
    void section(const QString &title) const;
    // Prints the row at once, so a long run shows its progress.
    void row(const QString &what, const std::vector<double> &tirv, const QString &reference = {},
        const std::vector<double> &theirs = {}, Goal goal = Goal::None, double bound = 0);
    // Rows whose goal was not met, and with a goal at all.
    int missed() const { return missedGoals; }
    int goals() const { return goalCount; }

private:
    int missedGoals = 0;
    int goalCount = 0;
};
