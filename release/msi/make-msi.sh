#!/usr/bin/env bash
# Makes the Windows installer of one architecture from the installed tree of a Windows build, with
# wixl (msitools), then adds with msibuild what wixl's WiX dialect cannot say:
#   - idcard.conf's component is never overwritten once its file is there (a repair, an upgrade
#     keep the administrator's file);
#   - the previous version is removed after the new one is installed, so that the components both
#     share (idcard.conf's above all) stay, where removing it first would delete the file;
#   - the service's log beside idcard.exe is removed with the program;
#   - the service manager restarts the service when it fails (Windows Installer 5).
# The service's names and its restarts come from the program's own source
# (tools/cli/service_command.h, platform/win32/service_restarts.h through service-restarts.sh), so
# that the installer registers the very service `idcard service install` does.
#
#   release/msi/make-msi.sh STAGE x86|x64 VERSION OUTPUT.msi
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
root=$(cd "$here/../.." && pwd)
stage=$(cd "$1" && pwd) arch=$2 version=$3 output=$(realpath -m "$4")

# Fixed per architecture for every version: the upgrade code finds the previous version, the
# configuration's component is the one both versions share.
case $arch in
  x64) upgrade_code=7C0E5A43-3B54-4C8B-9A6E-2F1D8B0C6E11
       configuration_guid=0B9F3E21-6A7D-4E55-8C3B-1D2E4F5A6B71 ;;
  x86) upgrade_code=5A1D7C92-8E3F-4B06-B4D1-6C9E2A7F3D22
       configuration_guid=4E8C1B53-2D9A-4F67-A0E5-3B7C9D1E5F82 ;;
  *) echo "make-msi: architecture x86 or x64, not '$arch'" >&2; exit 2 ;;
esac

header=$root/tools/cli/service_command.h
# The string literal of `inline constexpr char NAME[] =`, on its line or the next.
constant() {
  local value
  value=$(sed -n "/constexpr char $1\[\] =/{N;s/^[^=]*= *\n* *\"\([^\"]*\)\";.*/\1/p}" "$header")
  [ -n "$value" ] || { echo "make-msi: $1 not found in $header" >&2; exit 1; }
  printf '%s' "$value"
}
service_name=$(constant kServiceName)
service_log=$(constant kServiceLog)

mkdir -p "$(dirname "$output")"
rm -f "$output"
(cd "$stage" && wixl -a "$arch" -o "$output" \
  -D Arch="$arch" -D Version="$version" \
  -D UpgradeCode="$upgrade_code" -D ConfigurationGuid="$configuration_guid" \
  -D ServiceName="$service_name" -D ServiceDisplayName="$(constant kServiceDisplayName)" \
  -D ServiceDescription="$(constant kServiceDescription)" \
  "$here/ridel.wxs")
[ -s "$output" ] || { echo "make-msi: wixl made no $output" >&2; exit 1; }

# A column of one row of a table, as msiinfo exports it (tab-separated, three header lines).
column() {  # table key-column-value column-number
  msiinfo export "$output" "$1" | tr -d '\r' |
    awk -F'\t' -v key="$2" -v n="$3" 'NR > 3 && $1 == key { print $n }'
}
never_overwrite=128
attributes=$(column Component Configuration 4)
sequence=$(column InstallExecuteSequence InstallFinalize 3)
[ -n "$attributes" ] && [ -n "$sequence" ] || { echo "make-msi: unexpected tables in $output" >&2; exit 1; }
msibuild "$output" -q "UPDATE Component SET Attributes = $((attributes | never_overwrite)) WHERE Component = 'Configuration'"
msibuild "$output" -q "UPDATE InstallExecuteSequence SET Sequence = $((sequence + 1)) WHERE Action = 'RemoveExistingProducts'"
# The restarts `idcard service install` sets: the period after which the count starts anew, then
# each restart's delay.
restarts=$("$here/service-restarts.sh")
reset=${restarts%% *} delays=${restarts#* }
restart=1  # SC_ACTION_RESTART
actions=$(for d in $delays; do printf '%s[~]' $restart; done) actions=${actions%"[~]"}
delays=${delays// /"[~]"}
tables=$(mktemp -d)
trap 'rm -rf "$tables"' EXIT
# Event 1 | 4: when the service is installed and reinstalled.
{
  printf 'MsiServiceConfigFailureActions\tName\tEvent\tResetPeriod\tRebootMessage\tCommand\tActions\tDelayActions\tComponent_\n'
  printf 's72\ts255\ti2\tI4\tL255\tL255\tS255\tS255\ts72\n'
  printf 'MsiServiceConfigFailureActions\tMsiServiceConfigFailureActions\n'
  printf 'ServiceRestarts\t%s\t5\t%s\t\t\t%s\t%s\tProgram\n' "$service_name" "$reset" "$actions" "$delays"
} > "$tables/MsiServiceConfigFailureActions.idt"
msibuild "$output" -i "$tables/MsiServiceConfigFailureActions.idt"
install_services=$(column InstallExecuteSequence InstallServices 3)
msibuild "$output" -q "INSERT INTO InstallExecuteSequence (Action, Sequence) VALUES ('MsiConfigureServices', $((install_services + 1)))"
# InstallMode 2: when the component is removed.
msibuild "$output" -q "INSERT INTO RemoveFile (FileKey, Component_, FileName, DirProperty, InstallMode) VALUES ('ServiceLog', 'Program', '$service_log', 'TOOLSDIR', 2)"
