#pragma once

// Virtual ports are named COM1 to COM255: the change-COM-number dialog offers that range,
// tirvctl renames within it, and new ports are to stay inside it.
constexpr int maxComNumber = 255;
