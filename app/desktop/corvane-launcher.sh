#!/bin/sh
# Starts Corvane from its program folder, where it works and where its tools lie.
here=$(dirname "$(readlink -f "$0")")
exec "$here/../lib/corvane/corvane" "$@"
