#!/usr/bin/env bash
# Packs the build tree as `make package` does and checks the unpacked ZIP as a host developer
# meets it: layout; PictorC.h's functions = the DLL's unmangled exports = Pictor.def; what a
# product that ships it needs (licences, version resources, stripped binaries with symbols
# beside them, no build path); the C host configured out of tree with find_package(Pictor) and
# built (warnings as errors), and a host built as MSVC builds one that links every function
# through Pictor.lib; with a Wine runner, both hosts run.
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
for f in bin/Pictor.dll bin/pictor-logserver.exe bin/pictor-viewer.exe bin/virtualcam/mf.dll include/PictorC.h include/Pictor.h \
  lib/libPictor.dll.a lib/Pictor.lib lib/Pictor.def lib/cmake/Pictor/PictorConfig.cmake \
  lib/cmake/Pictor/PictorConfigVersion.cmake examples/c-host/CMakeLists.txt examples/c-host/capture.c README.md \
  CHANGELOG.md bin/virtualcam/README.md examples/csharp/Pictor.cs examples/python/pictor.py; do
  [[ -f $root/$f ]] || fail "missing $f"
done
[[ ! -e $root/bin/mf.dll ]] || fail "the virtual camera sits beside Pictor.dll"
# Person keying's runtime and models beside Pictor.dll (x64: no runtime exists for x86).
for f in bin/onnxruntime.dll bin/selfie_segmentation_landscape.onnx bin/selfie_segmentation.onnx; do
  if [[ $arch == x86 ]]; then [[ ! -e $root/$f ]] || fail "$f in the x86 package"; else [[ -f $root/$f ]] || fail "missing $f"; fi
done

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

# Media Foundation is bound on first use: a host starts where it is missing.
! "${binutils}objdump" -p "$root/bin/Pictor.dll" | grep -iE 'DLL Name: mf[a-z]*\.dll' || fail "Pictor.dll imports Media Foundation"

# What a product that ships the binaries needs: Pictor's licence and the third-party notices
# naming every binary (cmake/third-party-notices.sh fails the build for a library linked into
# one without a notice); a version resource with the version, company and copyright; no DWARF
# or symbol table (symbols ship apart: each PDB matches its binary's debug record, and names
# an exported function at its address); no path of the build machine in any file.
grep -q '^MIT License' "$root/LICENSE" || fail "no MIT licence"
u16() { sed 's/./&\\x00/g' <<<"$1"; } # a grep -P pattern of the UTF-16 text
mkdir "$work/symbols" && (cd "$work/symbols" && cmake -E tar xf "$build/shipping/$name-symbols.zip")
while read -r binary; do
  file=$root/$binary
  grep -qx "$binary" "$root/THIRD-PARTY-NOTICES.txt" || fail "THIRD-PARTY-NOTICES.txt does not name $binary"
  ! grep -qP "^prebuilt\t$binary\t" "$build/shipping/manifest.txt" || continue # shipped as it came
  offset=$(grep -obUaP '\xbd\x04\xef\xfe' "$file" | head -1 | cut -d: -f1)
  read -r fms fls pms pls < <(od -An -tu4 -j $((${offset:?no version resource in $binary} + 8)) -N16 "$file")
  [[ $((fms >> 16)).$((fms & 0xffff)).$((fls >> 16)) == "$version" && $pms.$pls == "$fms.$fls" ]] ||
    fail "$binary's version resource is not $version"
  grep -qaP "$(u16 CompanyName)\x00+$(u16 'the Pictor authors')" "$file" &&
    grep -qaP "$(u16 LegalCopyright)\x00+$(u16 Copyright)" "$file" || fail "$binary has no company or copyright"
  ! "${binutils}objdump" -h "$file" | grep -q ' \.debug_' && "${binutils}nm" "$file" 2>&1 | grep -q 'no symbols' ||
    fail "$binary is not stripped"
done < <(cd "$root" && find . -type f \( -iname '*.dll' -o -iname '*.exe' \) | sed 's|^\./||' | sort)
for binary in bin/Pictor.dll bin/pictor-logserver.exe bin/pictor-viewer.exe; do
  base=$(basename "${binary%.*}") record=$(llvm-readobj --coff-debug-directory "$root/$binary")
  read -ra g < <(sed -nE 's/.*PDBGUID: \((.*)\)/\1/p' <<<"$record")
  summary=$(llvm-pdbutil dump -summary "$work/symbols/$base.pdb")
  grep -qF "GUID: {${g[3]}${g[2]}${g[1]}${g[0]}-${g[5]}${g[4]}-${g[7]}${g[6]}-${g[8]}${g[9]}-$(printf %s "${g[@]:10}")}" \
    <<<"$summary" && [[ $(grep -oP 'PDBAge: \K.*' <<<"$record") == $(grep -oP '^ *Age: \K.*' <<<"$summary") ]] &&
    grep -qx " *PDBFileName: $base.pdb" <<<"$record" && [[ -s $work/symbols/$(basename "$binary").debug ]] ||
    fail "$binary's symbols do not match it"
done
base=$(grep -oP 'ImageBase\s+\K\S+' <<<"$("${binutils}objdump" -p "$root/bin/Pictor.dll")")
rva=$(llvm-readobj --coff-exports "$root/bin/Pictor.dll" | grep -A2 'Name: PictorCaptureCreate$' | grep -oP 'RVA: \K.*')
cp "$root/bin/Pictor.dll" "$work/symbols/"
[[ $(cd "$work/symbols" && llvm-symbolizer --obj=Pictor.dll $((0x$base + rva)) | head -1) == PictorCaptureCreate ]] ||
  fail "Pictor.pdb does not name PictorCaptureCreate"
src=$(cd "$(dirname "$0")/../.." && pwd)
for path in "$src" "$(cd "$src" && pwd -P)" "$build"; do
  # As written, in UTF-16, and as GNU dlltool mangles it into member and symbol names.
  ! grep -rlaF -e "$path" -e "${path//[^A-Za-z0-9]/_}" "$root" && ! grep -rlaP "$(u16 "$path")" "$root" ||
    fail "the package holds the path $path"
done

cmake -S "$root/examples/c-host" -B "$work/c-host" -DCMAKE_TOOLCHAIN_FILE="$toolchain" -DCMAKE_BUILD_TYPE=Release \
  -DCMAKE_PREFIX_PATH="$root" -DCMAKE_C_FLAGS="-Wall -Wextra -Werror" >"$work/c-host.log" 2>&1 &&
  cmake --build "$work/c-host" >>"$work/c-host.log" 2>&1 || { cat "$work/c-host.log"; fail "the C host did not build"; }
grep -q 'DLL Name: Pictor.dll' <<<"$("${binutils}objdump" -p "$work/c-host/pictor-c-host.exe")" ||
  fail "the C host does not import Pictor.dll"
cmp -s "$root/bin/Pictor.dll" "$work/c-host/Pictor.dll" || fail "the C host's build does not put Pictor.dll beside it"

# A host built as MSVC builds one (msvc-host.c says how), against the package's Pictor.lib.
msvc=$work/msvc triple=x86_64 machine=i386:x86-64 at=() x86=()
[[ $arch == x86 ]] && triple=i686 machine=i386 at=(@4 @8) x86=(-D_X86_ /safeseh)
mkdir "$msvc" && cp "$root/bin/Pictor.dll" "$root/bin/virtualcam/mf.dll" "$msvc/"
sed -nE 's/^PICTOR_C_API .* PICTOR_CDECL (Pictor[A-Za-z0-9]+)\(.*/(void*)\&\1,/p' "$root/include/PictorC.h" >"$msvc/pictor-functions.h"
printf 'LIBRARY kernel32.dll\nEXPORTS\nExitProcess%s\n' "${at[0]:-}" >"$msvc/kernel32.def"
printf 'LIBRARY ole32.dll\nEXPORTS\nCoInitializeEx%s\n' "${at[1]:-}" >"$msvc/ole32.def"
for lib in kernel32 ole32; do llvm-dlltool -m $machine -k -d "$msvc/$lib.def" -l "$msvc/$lib.lib"; done
clang --target=$triple-pc-windows-msvc -fgnuc-version=4.2.1 "${x86[@]:0:1}" -isystem "/usr/$triple-w64-mingw32/include" \
  -I"$root/include" -I"$msvc" -Wall -Werror -c "$(dirname "$0")/msvc-host.c" -o "$msvc/host.obj" &&
  lld-link /nodefaultlib /entry:HostEntry /subsystem:console "${x86[@]:1}" /out:"$msvc/msvc-host.exe" "$msvc/host.obj" \
    "$root/lib/Pictor.lib" "$msvc/kernel32.lib" "$msvc/ole32.lib" || fail "the MSVC-style host did not link against Pictor.lib"
[[ -n $runner ]] || exit 0

cp "$root/bin/virtualcam/mf.dll" "$work/c-host/"
PICTOR_WINE_DISPLAY=1 PICTOR_WINEDLLOVERRIDES=mf=n "$runner" "$work/c-host/pictor-c-host.exe" | tr -d '\r' |
  tee "$work/run.log" || fail "the C host failed"
grep -qE '^state running, error 0x00000000, [1-9][0-9]* frames delivered' "$work/run.log" || fail "no frames"
grep -qE '^keyed preview: [1-9][0-9]* pictures$' "$work/run.log" || fail "no keyed pictures"
# After the host: under Wine 8.0 a program run without the display just before one with it
# leaves the session's desktop without Direct3D.
PICTOR_WINEDLLOVERRIDES=mf=n "$runner" "$msvc/msvc-host.exe" || fail "the MSVC-style host failed"
[[ $("$runner" "$root/bin/pictor-logserver.exe" --version | tr -d '\r') == "pictor-logserver $version" ]] ||
  fail "pictor-logserver --version is not $version"
