#pragma once

#include <functional>

class LineState;

// A port as the line channel sees it: its line state, and a way to change it for a program.
class LinePort
{
public:
    virtual ~LinePort() = default;
    virtual const LineState &lineState() const = 0;
    // Applies a program's change to the line and passes it on; bytes the program wrote before
    // it go first.
    virtual void changeLine(const std::function<void(LineState &)> &change) = 0;
};
