#pragma once

namespace corvane {

// Whether there is a display the windows can be shown on: a platform chosen for the toolkit,
// or a Wayland or X server that answers at the address its variable gives. The toolkit would
// abort on one that does not answer.
bool displayAvailable();

} // namespace corvane
