#include "pakinfo.h"

namespace corvane::pakinfo {

QString Quake2Path;
QString Quake3Path;

} // namespace corvane::pakinfo
