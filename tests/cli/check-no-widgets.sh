#!/bin/sh
# veltrane-cli links no window code: its link line (as the build generated it) names neither
# Qt Widgets nor a folder library that holds widgets (only their _core parts), and the program
# loads no Qt Widgets library at run time.
# Usage: check-no-widgets.sh PROGRAM BUILD_DIR
program=$1
build=$2
status=0
widgets='Qt6Widgets|/libveltrane_(platform|oidgen|collect|ui|ui_chart|app)\.a'
if [ -f "$build/build.ninja" ]; then
  line=$(awk '/^build cli\/veltrane-cli:/ { found = 1 } found && /LINK_LIBRARIES/ { print; exit }' "$build/build.ninja")
  [ -n "$line" ] || { echo "no link line for veltrane-cli in $build/build.ninja"; exit 1; }
  if printf '%s\n' "$line" | tr ' ' '\n' | grep -E "$widgets"; then
    echo "veltrane-cli is linked with the libraries above, which hold widgets"
    status=1
  fi
fi
if ldd "$program" | grep 'libQt6Widgets'; then
  echo "$program loads Qt Widgets"
  status=1
fi
exit $status
