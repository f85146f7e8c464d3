#!/usr/bin/env bash
# The 64-bit Windows program under Wine: tests/wine/demo.sh says what is checked.
# Arguments: <binary dir> <source dir>.
exec bash "$(dirname "$0")/wine/demo.sh" 64 "$@"
