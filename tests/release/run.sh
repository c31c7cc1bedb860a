#!/usr/bin/env bash
# Checks the release in a folder as `make release` leaves it, each archive unpacked outside the
# source tree and used as an integrator uses it:
#   - SHA256SUMS matches; each archive holds what an integrator needs; the .deb holds the tree
#     of its Linux archive (x86-64 and ARM64);
#   - the Linux editions carry SONAMEs of their own with the major version, and the SDT edition
#     needs the driver's libraries by their own names;
#   - each archive's README names only paths inside the archive, and each of its links resolves;
#   - the C and Python examples run from the unpacked Linux archive as its README says; the
#     JavaScript client's package holds its LICENSE and README;
#   - a program built through the CMake package and deployed by its ridel_deploy step (natively,
#     and with MinGW for Windows) and, on Linux, through pkg-config reads the sample card through
#     each edition, under Wine for Windows; on Windows the vantrel edition deployed by copying
#     $<TARGET_RUNTIME_DLLS> too; the aarch64 package is refused by an x86-64 build;
#   - the Windows installers: install, the service, repair, upgrade and uninstall under Wine;
#   - the same program built for the MSVC ABI by clang and linked by lld-link with its default
#     flags (/safeseh on x86) against each edition's .lib imports the undecorated names and reads
#     the card.
# 32-bit Windows programs are built and linked; they run only where this machine runs them.
#   tests/release/run.sh RELEASE_FOLDER
set -euo pipefail
root=$(cd "$(dirname "$0")/../.." && pwd)
release=$(cd "$1" && pwd)
version=$(sed -n 's/^#define RIDEL_VERSION_\(MAJOR\|MINOR\|PATCH\) \([0-9]*\)$/\2/p' \
          "$root/include/ridel_version.h" | paste -sd.)
major=${version%%.*}
expected="id 44010619880808107X"
export WINEPREFIX=${WINEPREFIX:-$root/build/windows-x64/wineprefix}
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
failures=0
fail() { echo "release test: FAILED: $*" >&2; failures=$((failures + 1)); }
pass() { echo "release test: ok: $*"; }
can_run_32=0
"$root/scripts/wine-run.sh" --can-run-32-bit && can_run_32=1

# Runs a program that reads the card; `what` names it in the result.
check_read() {
  local what=$1; shift
  local out
  out=$("$@" 2>&1) || true
  if [ "$out" = "$expected" ]; then pass "$what"; else fail "$what: printed '$out'"; fi
}

if (cd "$release" && sha256sum --quiet -c SHA256SUMS); then pass "SHA256SUMS"; else fail "SHA256SUMS"; fi

# ---- Contents --------------------------------------------------------------------------------
common="README.md LICENSE CHANGELOG.md lib/cmake/ridel/ridel-config.cmake
  lib/cmake/ridel/ridel-config-version.cmake simulator/PROFILE.md recorder/FORMAT.md
  examples/read_card.c examples/read_card.py examples/ReadCard.cs examples/ReadCard.java
  examples/CMakeLists.txt client/ridel-card-$version.tgz client/README.md tools/idcard.conf
  qdx/ridel_qdx.h qdx/ridel.def qdx/ridel_version.h qdx/ridel_winapi.h
  sdt/ridel_sdt.h sdt/ridel.def sdt/ridel_version.h sdt/ridel_winapi.h
  vantrel/vantrel.h vantrel/vantrel.def vantrel/ridel_version.h vantrel/ridel_winapi.h"
windows="qdx/ridel.dll qdx/libridel.dll.a qdx/ridel.lib sdt/ridel.dll sdt/libridel.dll.a sdt/ridel.lib
  vantrel/vantrel.dll vantrel/libvantrel.dll.a vantrel/vantrel.lib
  simulator/sdtapi.dll simulator/stdapi.dll simulator/WltRS.dll tools/idcard.exe tools/idcard-reader.exe"
linux="qdx/libridel.so qdx/libridel-qdx.so.$major sdt/libridel.so sdt/libridel-sdt.so.$major
  vantrel/libvantrel.so vantrel/libvantrel.so.$major
  simulator/libsdtapi.so simulator/libstdapi.so simulator/libwltrs.so tools/idcard tools/idcard-reader
  lib/pkgconfig/ridel-qdx.pc lib/pkgconfig/ridel-sdt.pc lib/pkgconfig/ridel-vantrel.pc"
declare -A top
for target in windows-x86 windows-x64 linux-x86_64 linux-aarch64; do
  name=ridel-$version-$target
  case $target in
    windows-*) archive=$name.zip; files="$common $windows" ;;
    *) archive=$name.tar.gz; files="$common $linux" ;;
  esac
  mkdir -p "$work/$target"
  if ! (cd "$work/$target" && cmake -E tar xf "$release/$archive"); then
    fail "$archive cannot be unpacked"; continue
  fi
  top[$target]=$work/$target/$name
  missing=""
  for f in $files; do [ -e "${top[$target]}/$f" ] || missing="$missing $f"; done
  if [ -z "$missing" ]; then pass "$archive holds what an integrator needs"
  else fail "$archive lacks$missing"; fi
  # The archive's README speaks of the archive, not of the source tree, and each of its relative
  # links (a file, a folder, or an anchor of one) lies inside the archive.
  readme=${top[$target]}/README.md
  stray=$(grep -noE '(^|[^A-Za-z_./-])(dist|scripts|build)/|tools/(page|client)/' "$readme" | paste -sd' ' || true)
  [ -z "$stray" ] || fail "$archive: README.md names source-tree paths: $stray"
  broken=""
  links=$(grep -oE '\]\([^)]+\)' "$readme" | sed 's/^](\(.*\))$/\1/; s/#.*//' | sort -u)
  [ -n "$links" ] || fail "$archive: README.md has no links"
  for link in $links; do
    case $link in *://*|mailto:*) continue ;; esac
    resolved=$(realpath -m "${top[$target]}/$link")
    case $resolved in "${top[$target]}"/*) ;; *) broken="$broken $link(outside)"; continue ;; esac
    [ -e "$resolved" ] || broken="$broken $link"
  done
  if [ -z "$broken" ]; then pass "$archive: every link of README.md resolves inside the archive"
  else fail "$archive: README.md links to what the archive lacks:$broken"; fi
done
linux_top=${top[linux-x86_64]}

# The JavaScript client: a release file, the same in every archive, with its LICENSE and README.
client=ridel-card-$version.tgz
client_files=$(tar tzf "$release/$client" 2>/dev/null | sort | paste -sd' ' || true)
if [ "$client_files" = "package/LICENSE package/README.md package/index.d.ts package/index.js package/package.json" ]
then pass "$client holds the client, its LICENSE and README"
else fail "$client holds: $client_files"; fi
for target in "${!top[@]}"; do
  cmp -s "$release/$client" "${top[$target]}/client/$client" ||
    fail "$target: client/$client differs from the release's"
done

for entry in amd64:linux-x86_64 arm64:linux-aarch64; do
  arch=${entry%%:*} target=${entry#*:}
  deb=$release/ridel_${version}_$arch.deb
  mkdir -p "$work/deb-$arch"
  if [ -n "${top[$target]:-}" ] && dpkg-deb -x "$deb" "$work/deb-$arch" &&
     [ "$(dpkg-deb -f "$deb" Architecture)" = "$arch" ] &&
     diff <(cd "$work/deb-$arch/opt/ridel" && find . ! -type d | sort) \
          <(cd "${top[$target]}" && find . ! -type d | sort); then
    pass "the $arch .deb installs the $target archive's tree into /opt/ridel"
  else
    fail "the $arch .deb's tree in /opt/ridel differs from the $target archive's"
  fi
done

# ---- Linux: SONAMEs, the CMake package, pkg-config -----------------------------------------
dynamic() { readelf -d "$1" | sed -n "s/.*($2).*\[\(.*\)\]/\1/p" | sort | paste -sd' '; }
for entry in qdx/libridel.so:libridel-qdx.so.$major sdt/libridel.so:libridel-sdt.so.$major \
             vantrel/libvantrel.so:libvantrel.so.$major; do
  soname=$(dynamic "$linux_top/${entry%%:*}" SONAME)
  if [ "$soname" = "${entry#*:}" ]; then pass "${entry%%:*}: SONAME $soname"
  else fail "${entry%%:*}: SONAME '$soname', not ${entry#*:}"; fi
done
needed=" $(dynamic "$linux_top/sdt/libridel.so" NEEDED) "
if [[ $needed == *" libsdtapi.so "* && $needed == *" libwltrs.so "* ]]; then
  pass "the SDT edition needs the driver's libsdtapi.so and libwltrs.so"
else
  fail "the SDT edition needs:$needed"
fi

mkdir -p "$work/consumer"
cp "$root/tests/release/consumer/CMakeLists.txt" "$root/tests/release/read_id.c" "$work/consumer/"

# Configures and builds the consumer against one unpacked archive: build_consumer FOLDER ARGS...
build_consumer() {
  local build=$1; shift
  cmake -S "$work/consumer" -B "$build" -DRIDEL_VERSION="$version" "$@" >"$build.log" 2>&1 &&
    cmake --build "$build" >>"$build.log" 2>&1
}
# ridel_deploy puts the edition and the simulated reader beside each program: the program's
# folder, moved elsewhere, runs while the unpacked archive is out of the way.
if build_consumer "$work/linux" -DCMAKE_PREFIX_PATH="$linux_top"; then
  mv "$linux_top" "$linux_top.away"
  for e in qdx sdt vantrel; do
    cp -a "$work/linux/$e" "$work/linux-moved-$e"
    check_read "linux-x86_64, CMake package, ridel_deploy: ridel::$e" "$work/linux-moved-$e/read_$e"
  done
  mv "$linux_top.away" "$linux_top"
else
  fail "linux-x86_64: the consumer does not build:"; cat "$work/linux.log" >&2
fi

# An x86-64 build refuses the aarch64 package, saying why.
aarch64_top=${top[linux-aarch64]:-}
if [ -n "$aarch64_top" ]; then
  if build_consumer "$work/wrong-processor" -DCMAKE_PREFIX_PATH="$aarch64_top"; then
    fail "an x86-64 build took the aarch64 package"
  elif grep -q "for aarch64, not for this x86_64 build" "$work/wrong-processor.log"; then
    pass "an x86-64 build refuses the aarch64 package with a message naming both"
  else
    fail "the aarch64 package in an x86-64 build failed without saying why:"
    cat "$work/wrong-processor.log" >&2
  fi
fi

# ---- The examples, from the unpacked Linux archive, as its README says -----------------------
check_card() { python3 "$root/tests/examples/check_card.py" "$@"; }
try=$work/ridel-try
mkdir -p "$try"
if (cd "$linux_top" && cc examples/read_card.c -I sdt -L sdt -lridel -Wl,-rpath-link,simulator \
      -o "$try/read_card") &&
   check_card --form sdt --encoding gbk --photo "$try/zp.bmp" -- \
     env LD_LIBRARY_PATH="$linux_top/sdt:$linux_top/simulator" "$try/read_card" >"$try/c.log" 2>&1
then pass "examples/read_card.c, built by cc and run with LD_LIBRARY_PATH"
else fail "examples/read_card.c, built by cc:"; cat "$try/c.log" >&2; fi
if (cd "$linux_top" && cmake -S examples -B "$try/build" && cmake --build "$try/build") \
     >"$try/cmake.log" 2>&1 &&
   check_card --form sdt --encoding gbk --photo "$try/build/zp.bmp" -- "$try/build/read_card" \
     >>"$try/cmake.log" 2>&1
then pass "examples/CMakeLists.txt: read_card.c through the package and ridel_deploy"
else fail "examples/CMakeLists.txt:"; cat "$try/cmake.log" >&2; fi
if python3 -m venv --without-pip --copies "$try/python" &&
   (cd "$linux_top" && check_card --form sdt --photo "$try/python/bin/zp.bmp" -- \
      "$try/python/bin/python3" examples/read_card.py .) >"$try/python.log" 2>&1
then pass "examples/read_card.py from a copy of the interpreter"
else fail "examples/read_card.py:"; cat "$try/python.log" >&2; fi

export PKG_CONFIG_PATH=$linux_top/lib/pkgconfig
for e in qdx sdt vantrel; do
  upper=$(echo $e | tr a-z A-Z)
  program=$work/pkg-config/$e/read_$e
  mkdir -p "$(dirname "$program")"
  modversion=$(pkg-config --modversion ridel-$e)
  [ "$modversion" = "$version" ] || fail "pkg-config: ridel-$e is version $modversion"
  # shellcheck disable=SC2046
  if ! cc -Wall -Werror -DEDITION_$upper -o "$program" "$work/consumer/read_id.c" \
       $(pkg-config --cflags --libs ridel-$e); then
    fail "pkg-config: ridel-$e does not link"; continue
  fi
  # Linked with -lridel (-lvantrel), the program needs its edition by the edition's own SONAME.
  want=libridel-$e.so.$major
  [ $e = vantrel ] && want=libvantrel.so.$major
  case " $(dynamic "$program" NEEDED) " in
    *" $want "*) ;;
    *) fail "pkg-config: read_$e needs $(dynamic "$program" NEEDED), not $want" ;;
  esac
  folder=$(pkg-config --variable=libdir ridel-$e)
  check_read "linux-x86_64, pkg-config: ridel-$e (needs $want)" \
    env LD_LIBRARY_PATH="$folder:$linux_top/simulator" "$program"
done
unset PKG_CONFIG_PATH

# ---- Windows: MinGW through the CMake package, the MSVC ABI through the .lib files ----------
# Runs a Windows program under Wine, a 32-bit one only where this machine can.
run_windows() {
  local what=$1 arch=$2 program=$3
  if [ "$arch" = x86 ] && [ $can_run_32 = 0 ]; then
    echo "release test: NOT RUN: $what (this machine cannot run 32-bit programs; built and linked)"
    return
  fi
  # A program that prints nothing at all, not even its own failure line, never ran to its end:
  # seen once under Wine on a loaded machine. It runs a second time, and that run decides.
  local out
  out=$("$root/scripts/wine-run.sh" "$program" 2>&1) || true
  if [ -z "$out" ]; then
    echo "release test: $what printed nothing under Wine; running it again"
    check_read "$what" "$root/scripts/wine-run.sh" "$program"
  elif [ "$out" = "$expected" ]; then
    pass "$what"
  else
    fail "$what: printed '$out'"
  fi
}

for arch in x86 x64; do
  target=windows-$arch
  wtop=${top[$target]:-}
  [ -n "$wtop" ] || continue
  if [ $arch = x86 ]; then
    toolchain=mingw-i686; triple=i686-pc-windows-msvc; machine=i386
  else
    toolchain=mingw-x86_64; triple=x86_64-pc-windows-msvc; machine=i386:x86-64
  fi
  if build_consumer "$work/$target" -DCMAKE_PREFIX_PATH="$wtop" \
       -DCMAKE_TOOLCHAIN_FILE="$root/cmake/$toolchain.cmake"; then
    for e in qdx sdt vantrel; do
      run_windows "$target, MinGW, CMake package, ridel_deploy: ridel::$e" $arch \
        "$work/$target/$e/read_$e.exe"
    done
    # The usual CMake way: $<TARGET_RUNTIME_DLLS> gives ridel.dll, the name the import library
    # names, so the program starts.
    if [ -f "$work/$target/runtime-dlls/ridel.dll" ] && [ ! -e "$work/$target/runtime-dlls/vantrel.dll" ]
    then run_windows "$target, MinGW: ridel::vantrel deployed by \$<TARGET_RUNTIME_DLLS>" $arch \
           "$work/$target/runtime-dlls/read_vantrel.exe"
    else fail "$target: \$<TARGET_RUNTIME_DLLS> of ridel::vantrel: $(ls "$work/$target/runtime-dlls")"; fi
  else
    fail "$target: the MinGW consumer does not build:"; cat "$work/$target.log" >&2
  fi

  # The client needs no C runtime: its own entry point, KERNEL32 through an import library made
  # here. 64-bit names carry no stdcall decoration.
  msvc=$work/$target-msvc
  mkdir -p "$msvc"
  if [ $arch = x86 ]; then cp "$root/tests/release/kernel32.def" "$msvc/"
  else sed 's/@[0-9]*$//' "$root/tests/release/kernel32.def" > "$msvc/kernel32.def"; fi
  llvm-dlltool -m $machine -d "$msvc/kernel32.def" -l "$msvc/kernel32.lib" -k
  for entry in qdx:ridel sdt:ridel vantrel:vantrel; do
    e=${entry%%:*} name=${entry#*:}
    upper=$(echo $e | tr a-z A-Z)
    mkdir -p "$msvc/$e"
    program=$msvc/$e/read_$e.exe
    if ! clang --target=$triple -O1 -ffreestanding -Wall -Werror -DNO_CRT -DEDITION_$upper \
           -I "$wtop/$e" -c "$work/consumer/read_id.c" -o "$msvc/$e/read_id.obj" ||
       ! lld-link /nologo /nodefaultlib /entry:start /subsystem:console /out:"$program" \
           "$msvc/$e/read_id.obj" "$wtop/$e/$name.lib" "$msvc/kernel32.lib"; then
      fail "$target, MSVC ABI: $e does not link against $name.lib with lld-link's defaults"
      continue
    fi
    imports=$(llvm-readobj --coff-imports "$program" | sed -n 's/^ *Symbol: \([^ ]*\).*/\1/p')
    if [ -n "$imports" ] && ! grep -q @ <<<"$imports"; then
      pass "$target, MSVC ABI: $e links against $name.lib, imports undecorated names"
    else
      fail "$target, MSVC ABI: $e imports: $imports"
    fi
    cp "$wtop/$e/$name.dll" "$msvc/$e/ridel.dll"
    cp "$wtop"/simulator/*.dll "$msvc/$e/"
    run_windows "$target, MSVC ABI: $e" $arch "$program"
  done
done

# ---- The Windows installers under Wine -------------------------------------------------------
# The upgrade is tested with a second installer of the same files and a higher version.
patch=${version##*.}
next=${version%.*}.$((patch + 1))
for arch in x86 x64; do
  msi=ridel-$version-windows-$arch.msi
  wtop=${top[windows-$arch]:-}
  if [ ! -f "$release/$msi" ] || [ -z "$wtop" ]; then fail "$msi is not in the release"; continue; fi
  # The restarts the installer registers (Wine's service manager cannot show them) are those
  # `idcard service install` sets: the reset period, one restart action per delay, the delays.
  read -r reset delays <<<"$("$root/release/msi/service-restarts.sh")"
  registered=$(msiinfo export "$release/$msi" MsiServiceConfigFailureActions | tr -d '\r' |
               awk -F'\t' 'NR > 3 && $1 == "ServiceRestarts" { print $4, $7, $8 }')
  wanted="$reset $(sed 's/[0-9][0-9]*/1/g; s/ /[~]/g' <<<"$delays") ${delays// /[~]}"
  if [ "$registered" = "$wanted" ]; then pass "$msi registers the service's restarts: $wanted"
  else fail "$msi registers the restarts '$registered', idcard service install sets '$wanted'"; fi
  if [ $arch = x86 ] && [ $can_run_32 = 0 ]; then
    echo "release test: NOT RUN: $msi under Wine (this machine cannot run 32-bit programs; built)"
    continue
  fi
  upgrade=$work/ridel-$next-windows-$arch.msi
  if ! "$root/release/msi/make-msi.sh" "$wtop" $arch "$next" "$upgrade" >"$work/msi-$arch.log" 2>&1
  then fail "the $next installer cannot be made:"; cat "$work/msi-$arch.log" >&2; continue; fi
  if python3 "$root/tests/release/msi_test.py" --msi "$release/$msi" --upgrade "$upgrade" \
       --version "$version" --upgrade-version "$next" --conf "$wtop/tools/idcard.conf" \
       --wrapper "$root/scripts/wine-run.sh" --prefix "$root/build/windows-$arch/wineprefix-msi" \
       >"$work/msi-test-$arch.log" 2>&1
  then pass "$msi under Wine: install, service, repair, upgrade to $next, uninstall"
  else fail "$msi under Wine:"; cat "$work/msi-test-$arch.log" >&2; fi
done

if [ $failures -gt 0 ]; then
  echo "release test: $failures FAILED" >&2
  exit 1
fi
echo "release test: all passed"
