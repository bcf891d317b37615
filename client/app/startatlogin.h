#pragma once

#include <QString>

// Whether the client starts when the user logs in: the per-user Run value on Windows, the user's XDG autostart
// entry elsewhere. The entry is removed first and written again when enabled, so it always matches the choice.
// False, with a log line, when the entry could not be removed or written.
bool applyStartAtLogin(bool enabled, const QString &programPath);
