#!/usr/bin/env bash
# Writes THIRD-PARTY-NOTICES.txt from what the shipped binaries' links took code from (their
# lld --verbose logs, cmake/pictor-link.sh): every object file read and every archive that gave
# a member is the project's own (a target of this source tree), a library built here from a
# Debian source package (its debian/copyright), a file of an installed Debian package (the
# package's /usr/share/doc/<package>/copyright), or it has no notice and this fails. Prebuilt
# binaries bring their own notice files.
#   third-party-notices.sh <manifest> <out>   (manifest: cmake/PictorShipping.cmake)
set -euo pipefail
export LC_ALL=C
manifest=$1 out=$2
declare -A own=() built=() notices=() title=() uses=()
own_dirs=() binaries=() components=()

fail() { echo "third-party notices: $*" >&2; exit 1; }

while IFS=$'\t' read -r kind a b c; do
  case $kind in
  own) [[ $a == */ ]] && own_dirs+=("$a") || own[$a]=1 ;;
  built) built[$a]=$b notices[$b]=$c title[$b]="$b (built from its Debian source package; debian/copyright)" ;;
  binary) binaries+=("$a") ;;
  prebuilt) binaries+=("$a") uses[$a]="  $b" notices[$b]=$c title[$b]=$b ;;
  esac
done <"$manifest"

is_own() {
  [[ -n ${own[$1]:-} ]] && return 0
  for dir in "${own_dirs[@]}"; do [[ $1 == "$dir"* ]] && return 0; done
  return 1
}

# The files a link took code from: objects read from its command line, and the archives
# (named by file name where lld reads a member) that gave a member.
linked_files() {
  awk '
    NR == 1 { dir = $2; next }
    # A short-form import member (import libraries made by lld or llvm-dlltool) is read
    # under the name of the DLL it imports from: no code of that DLL is linked in.
    /^ld\.lld: Reading [^( \/]*\.[dD][lL][lL]$/ { next }
    /^ld\.lld: Reading [^( ]*$/ {
      path = substr($0, 17); if (path !~ /^\//) path = dir "/" path
      n = split(path, parts, "/"); name = parts[n]
      if (path ~ /\.(a|lib)$/) archives[name] = archives[name] " " path; else print path
    }
    /^ld\.lld: Reading [^ ]+\(/ { name = $3; sub(/\(.*/, "", name); used[name] = 1 }
    END { for (name in used) { n = split(archives[name], paths, " "); for (i = 1; i <= n; ++i) print paths[i] } }
  ' "$1" | xargs -r realpath -m | sort -u
}

for binary in "${binaries[@]}"; do
  [[ -z ${uses[$binary]:-} ]] || continue
  log=$(awk -F'\t' -v b="$binary" '$1 == "binary" && $2 == b { print $3 }' "$manifest")
  [[ -s $log ]] || fail "no link log for $binary ($log): was it linked through cmake/pictor-link.sh?"
  declare -A parts=() package=()
  mapfile -t files < <(linked_files "$log")
  foreign=()
  for file in "${files[@]}"; do is_own "$file" || [[ -n ${built[$file]:-} ]] || foreign+=("$file"); done
  while IFS= read -r line; do package[${line#*: }]=${line%%[:,]*}; done < <(dpkg -S "${foreign[@]}" 2>/dev/null || true)
  for file in "${files[@]}"; do
    is_own "$file" && continue
    component=${built[$file]:-}
    if [[ -z $component ]]; then
      [[ -n ${package[$file]:-} ]] || fail "$file is linked into $binary but belongs to no Debian package and has no notice"
      component=$(dpkg-query -W -f='${source:Package} ${source:Version}' "${package[$file]}")
      notices[$component]=/usr/share/doc/${package[$file]}/copyright
      title[$component]="$component (Debian's copyright file of the package $(dpkg-query -W -f='${Package} ${Version}' "${package[$file]}"))"
    fi
    parts[$component]+=" ${file##*/}"
  done
  for component in "${!parts[@]}"; do
    uses[$binary]+="  $component:${parts[$component]}"$'\n'
  done
  unset parts package
done

{
  echo "THIRD-PARTY SOFTWARE NOTICES"
  echo
  echo "Pictor is under the MIT licence (LICENSE, beside this file). Its binaries contain the"
  echo "third-party software listed here, under the licences and notices that follow. This file"
  echo "is written when the binaries are linked, from the files each link took code from."
  for binary in "${binaries[@]}"; do
    printf '\n%s\n' "$binary"
    printf '%s\n' "${uses[$binary]}" | grep . | sort
  done
  while read -r component; do
    printf '\n%s\n%s\n\n' "$(printf '=%.0s' {1..78})" "${title[$component]}"
    IFS=$'\t' read -ra files <<<"${notices[$component]}"
    for file in "${files[@]}"; do
      [[ -s $file ]] || fail "the notice $file of $component is missing"
      cat "$file"
    done
  done < <(printf '%s\n' "${!notices[@]}" | sort)
} >"$out.new"
mv "$out.new" "$out"
