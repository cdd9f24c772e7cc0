#pragma once

// Copies of a contact file kept beside it, made by SQLite's backup API so that they are consistent even while
// another connection writes.

#include "engine.h"

#include <QString>

// Copies the open database into "<path>.copia-<date and time>" and keeps the newest `keep` such copies; returns the
// copy's path. A copy that cannot be made completely is removed and the engine's error thrown.
QString keepCopy(Database &database, const QString &path, int keep = 5);
