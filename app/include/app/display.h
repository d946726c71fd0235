#pragma once

#include <QString>

namespace corvane {

// Why the windows cannot be shown, in a line for the user; empty when there is a display: a
// platform chosen for the toolkit, or a Wayland or X server that answers at the address its
// variable gives (Wayland only with the toolkit's plugin for it). The toolkit would abort on a
// display it cannot use.
QString displayProblem();

} // namespace corvane

namespace corvane {

// Around the start of the toolkit (the application object's construction): its messages are held
// back, and a start that fails (no platform plugin could start) prints one line of ours and ends
// the program with status 1 instead of the toolkit's abort. Released, the messages held are said.
void holdToolkitMessages();
void releaseToolkitMessages();

} // namespace corvane
