#!/usr/bin/env bash
# Prints the restarts `idcard service install` sets, as platform/win32/service_restarts.h gives
# them: the seconds after which the failures are counted anew, then each restart's delay in
# milliseconds ("86400 5000 5000 60000"). The installer registers these (make-msi.sh), and the
# release test checks the installer against them.
set -euo pipefail
header=$(cd "$(dirname "$0")/../.." && pwd)/platform/win32/service_restarts.h
delays=$(sed -n 's/.*kServiceRestartDelaysMs\[\] = {\([0-9, ]*\)};.*/\1/p' "$header" | tr -d ,)
reset=$(sed -n 's/.*kServiceFailureResetSeconds = \([0-9 *]*\);.*/\1/p' "$header")
if [ -z "${delays// /}" ] || [ -z "${reset// /}" ]; then
  echo "service-restarts: the service's restarts not found in $header" >&2
  exit 1
fi
echo $((reset)) $delays
