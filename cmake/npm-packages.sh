#!/bin/bash
# Fetches the npm packages person segmentation is made from, pinned by version and by the
# registry's sha512 integrity of the tarball, into build/third-party/npm, once, and keeps
# only the files the build uses: the ONNX Runtime DLL of the official Windows x64 build
# (1.20.1: later releases hang under Wine 8.0) and MediaPipe's selfie segmentation models.
# Nothing of theirs is kept in the repository. Runs from `make setup`.
set -euo pipefail

dest=${1:-build/third-party/npm}

# name version integrity files...
packages=(
  "onnxruntime-node 1.20.1 sha512-di/I4HDXRw+FLgq+TyHmQEDd3cEp9iFFZm0r4uJ1Wd7b/WE1VXtKWo8yemex347c6GNF/3Pv86ZfPhIWxORr0w==
   package/bin/napi-v3/win32/x64/onnxruntime.dll"
  "@mediapipe/selfie_segmentation 0.1.1675465747 sha512-IxYxNhwE5VwOm52L1yoFWYLP7q9Pd+NJjzOC5tlepfvEGaY3o9hslhUrx9BgseqdfZtKSDtd/4NfCSMjNzQalA==
   package/selfie_segmentation_landscape.tflite package/selfie_segmentation.tflite package/package.json"
)

command -v npm >/dev/null || { echo "setup: npm (Node.js) is needed to fetch $dest" >&2; exit 1; }
mkdir -p "$dest"
for entry in "${packages[@]}"; do
  read -r name version integrity files <<<"$(echo $entry)"
  target=$dest/${name#@}@$version
  [ "$(cat "$target/.integrity" 2>/dev/null)" = "$integrity" ] && continue
  work=$(mktemp -d)
  trap 'rm -rf "$work"' EXIT
  echo "setup: fetching $name@$version"
  (cd "$work" && npm pack --silent "$name@$version" >/dev/null)
  tarball=$(ls "$work"/*.tgz)
  got="sha512-$(openssl dgst -sha512 -binary "$tarball" | base64 -w0)"
  if [ "$got" != "$integrity" ]; then
    echo "setup: $name@$version has integrity $got, expected $integrity" >&2
    exit 1
  fi
  rm -rf "$target"
  mkdir -p "$target"
  tar -xzf "$tarball" -C "$target" --strip-components=1 $files
  echo "$integrity" >"$target/.integrity"
  rm -rf "$work"
  trap - EXIT
done
