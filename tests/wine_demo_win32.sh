#!/usr/bin/env bash
# The 32-bit Windows program, the product, under Wine's WoW64: tests/wine/demo.sh
# says what is checked. Exits with 77 (a skip) only where the kernel cannot run
# 32-bit code at all. Arguments: <binary dir> <source dir>.
exec bash "$(dirname "$0")/wine/demo.sh" 32 "$@"
