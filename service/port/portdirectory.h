#pragma once

#include <QString>

// The folder holding the COM links: $TIRV_PORT_DIR, else $XDG_RUNTIME_DIR/tirv, else
// /tmp/tirv-<uid>. Created with mode 0700 when missing.
QString portDirectory();

// True when dir is a real folder (not a link) of the calling user that nobody else may write;
// otherwise false with the reason. Links placed in a folder others control could be swapped.
bool isSafePortDirectory(const QString &dir, QString *reason);
