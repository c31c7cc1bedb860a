#!/bin/sh
# The folders of the write cases, made natively before the suite runs (a Windows test program
# under Wine can make neither links nor pipes) and removed after it:
#
#   folders.sh setup <root> <edition>:<file name>...
#   folders.sh cleanup <root>
#
# For each edition, <root>/<edition>-<kind>/ holds under the file name a link to a file outside
# (<root>/<edition>-link.target), a dangling link (to <root>/<edition>-dangling.target), a named
# pipe or a folder. <root>/full/ is a small file system of its own (a tmpfs, which needs root);
# where none can be mounted, the folder is missing and the full-disk cases say so.
set -eu
action=$1
root=$2
shift 2

cleanup() {
  if [ -d "$root/full" ] && mountpoint -q "$root/full"; then umount "$root/full"; fi
  rm -rf "$root"
}

cleanup
[ "$action" = cleanup ] && exit 0

mkdir -p "$root"
for pair in "$@"; do
  edition=${pair%%:*}
  name=${pair#*:}
  for kind in link dangling fifo folder; do mkdir "$root/$edition-$kind"; done
  echo target > "$root/$edition-link.target"
  ln -s "../$edition-link.target" "$root/$edition-link/$name"
  ln -s "../$edition-dangling.target" "$root/$edition-dangling/$name"
  mkfifo "$root/$edition-fifo/$name"
  mkdir "$root/$edition-folder/$name"
done

# Room for the host program (with AddressSanitizer natively) and little more; the cases fill it.
mkdir "$root/full"
if [ "$(id -u)" != 0 ] || ! mount -t tmpfs -o size=2m tmpfs "$root/full" 2>/dev/null; then
  rmdir "$root/full"
fi
