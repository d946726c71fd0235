#pragma once

#include <QString>

// State shared between the screens for the whole run.
namespace corvane::pakinfo {

// The confirmed installation folders, each ending with a separator; empty until confirmed.
extern QString Quake2Path;
extern QString Quake3Path;

} // namespace corvane::pakinfo
