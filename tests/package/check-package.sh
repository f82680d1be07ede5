#!/usr/bin/env bash
# Packs the build tree as `make package` does and checks the unpacked ZIP as a host developer
# meets it: layout; PictorC.h's functions = the DLL's unmangled exports = Pictor.def = the MSVC
# import library's imports; the version resource; the C host configured out of tree with
# find_package(Pictor) and built (warnings as errors); with a Wine runner, the host run.
#   check-package.sh <build dir> <version> <x64|x86> <toolchain file> <binutils prefix> [runner]
set -euo pipefail
export LC_ALL=C # byte-wise grep and sort
build=$1 version=$2 arch=$3 toolchain=$4 binutils=$5 runner=${6:-}
work=$build/package-check name=pictor-$version-$arch
fail() { echo "package: $*" >&2; exit 1; }
rm -rf "$work" && mkdir -p "$work/unpacked"
cpack --config "$build/CPackConfig.cmake" -B "$work/out" >"$work/cpack.log" 2>&1 || { cat "$work/cpack.log"; fail "cpack failed"; }
(cd "$work/unpacked" && cmake -E tar xf "$work/out/$name.zip")
[[ $(ls "$work/unpacked") == "$name" ]] || fail "the ZIP does not unpack to one folder $name"
root=$work/unpacked/$name
for f in bin/Pictor.dll bin/pictor-logserver.exe bin/virtualcam/mf.dll include/PictorC.h include/Pictor.h \
  lib/libPictor.dll.a lib/Pictor.lib lib/Pictor.def lib/cmake/Pictor/PictorConfig.cmake \
  lib/cmake/Pictor/PictorConfigVersion.cmake examples/c-host/CMakeLists.txt examples/c-host/capture.c README.md; do
  [[ -f $root/$f ]] || fail "missing $f"
done
[[ ! -e $root/bin/mf.dll ]] || fail "the virtual camera sits beside Pictor.dll"

declared=$(sed -nE 's/^PICTOR_C_API .* PICTOR_CDECL (Pictor[A-Za-z0-9]+)\(.*/\1/p' "$root/include/PictorC.h" | sort)
all_exports=$("${binutils}objdump" -p "$root/bin/Pictor.dll" | sed -n '/\[Ordinal\/Name Pointer\] Table/,/^$/p' |
  sed -nE 's/^\s*\[ *[0-9]+\] (.*)$/\1/p')
exported=$(grep -v '^_Z' <<<"$all_exports" | sort)
[[ -n $declared ]] && diff <(echo "$declared") <(echo "$exported") >&2 || fail "the DLL's C exports are not PictorC.h's"
diff <(echo "$declared") <(sed '1,/^EXPORTS/d; s/ //g' "$root/lib/Pictor.def" | sort) >&2 || fail "Pictor.def differs"
# The C++ classes export their public members only: every exported C++ name is one of
# EBaseException's or EPictor's, or a public member of TPictor or TPictorD3D9Preview as the
# packaged headers declare it (an exported private member would tie hosts to internals).
public_members() { # <class> <header>: the names declared in the class's public section
  sed -nE "/^class (PICTOR_API )?$1 \{/,/^};/p" "$root/include/$2" | sed -n '/^ public:/,/^ private:/p' |
    sed 's|//.*||' | grep -oE '~?[A-Za-z_][A-Za-z0-9_]*\(' | tr -d '(' | sort -u
}
public=$( (public_members TPictor Pictor.h | sed 's/^/TPictor::/'
  public_members TPictorD3D9Preview PictorD3D9Preview.h | sed 's/^/TPictorD3D9Preview::/') | sort -u)
members=$(grep '^_Z' <<<"$all_exports" | "${binutils}c++filt" --no-strip-underscore |
  grep -vE '^((typeinfo|vtable) for )?(EBaseException|EPictor)(::|$)' | sed 's/(.*//' | sort -u)
private=$(comm -23 <(echo "$members") <(echo "$public"))
[[ -z $private ]] || fail "the DLL exports more than the classes' public members:" $private
underscore=$([[ $arch == x86 ]] && echo _ || true) # 32-bit __cdecl symbols carry a leading underscore
diff <(echo "$declared") <("${binutils}nm" "$root/lib/Pictor.lib" | sed -nE "s/.* I __imp_$underscore(Pictor.*)$/\1/p" |
  sort) >&2 || fail "Pictor.lib does not import every C function"

# The version resource's fixed part (VS_FIXEDFILEINFO): file and product version.
offset=$(grep -obUaP '\xbd\x04\xef\xfe' "$root/bin/Pictor.dll" | head -1 | cut -d: -f1)
read -r fms fls pms pls < <(od -An -tu4 -j $((${offset:?no version resource} + 8)) -N16 "$root/bin/Pictor.dll")
[[ $((fms >> 16)).$((fms & 0xffff)).$((fls >> 16)) == "$version" && $pms.$pls == "$fms.$fls" ]] ||
  fail "Pictor.dll's version resource is not $version"

cmake -S "$root/examples/c-host" -B "$work/c-host" -DCMAKE_TOOLCHAIN_FILE="$toolchain" -DCMAKE_BUILD_TYPE=Release \
  -DCMAKE_PREFIX_PATH="$root" -DCMAKE_C_FLAGS="-Wall -Wextra -Werror" >"$work/c-host.log" 2>&1 &&
  cmake --build "$work/c-host" >>"$work/c-host.log" 2>&1 || { cat "$work/c-host.log"; fail "the C host did not build"; }
grep -q 'DLL Name: Pictor.dll' <<<"$("${binutils}objdump" -p "$work/c-host/pictor-c-host.exe")" ||
  fail "the C host does not import Pictor.dll"
[[ -n $runner ]] || exit 0

mkdir "$work/run" && cp "$work/c-host/pictor-c-host.exe" "$root/bin/Pictor.dll" "$root/bin/virtualcam/mf.dll" "$work/run/"
PICTOR_WINE_DISPLAY=1 PICTOR_WINEDLLOVERRIDES=mf=n "$runner" "$work/run/pictor-c-host.exe" | tr -d '\r' |
  tee "$work/run.log" || fail "the C host failed"
grep -qE '^state running, error 0x00000000, [1-9][0-9]* frames delivered' "$work/run.log" || fail "no frames"
grep -qE '^keyed preview: [1-9][0-9]* pictures$' "$work/run.log" || fail "no keyed pictures"
# After the host: under Wine 8.0 a program run without the display just before one with it
# leaves the session's desktop without Direct3D.
[[ $("$runner" "$root/bin/pictor-logserver.exe" --version | tr -d '\r') == "pictor-logserver $version" ]] ||
  fail "pictor-logserver --version is not $version"
