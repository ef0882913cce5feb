#!/bin/sh
# Runs a cross-built Windows program under Wine, quietly.
WINEDEBUG=-all
export WINEDEBUG
exec wine "$@"
