#!/bin/sh
# Runs a Windows test program under Wine, then ends what it left running in
# the prefix. A console host Wine starts for a console child can outlive
# the test and keep ctest's output pipe open until the time-out.
wine "$@"
status=$?
wineserver -k 2>/dev/null
exit $status
