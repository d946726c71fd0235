#pragma once

#include <QString>

namespace corvane {

// Why the windows cannot be shown, in a line for the user; empty when there is a display: a
// platform chosen for the toolkit, or a Wayland or X server that answers at the address its
// variable gives (Wayland only with the toolkit's plugin for it). The toolkit would abort on a
// display it cannot use.
QString displayProblem();

} // namespace corvane
