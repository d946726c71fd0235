// Must not compile: the conversion sees only its own headers and those of the layers below it.
#include "ui/extractnpak.h"
