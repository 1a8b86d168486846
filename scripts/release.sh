#!/usr/bin/env bash
# Builds a release into dist/ (CORVANE_DIST names another folder):
#   corvane-VERSION-windows.zip     x86/ and x64/: corvane.ocx, its type library corvane.tlb, the
#                                   side-by-side manifests; docs/, examples/ scripts, CHANGELOG.md
#   corvane-VERSION-x86.msi, -x64.msi   installers that write the registration as registry
#                                   values (packaging/release_files.py), no self-registration
#   corvane-VERSION-linux-x86_64.tar.gz  the native package (cmake --install)
#   SHA256SUMS
# VERSION is the project's (CMakeLists.txt). Given CORVANE_SIGN_CERT and CORVANE_SIGN_KEY (PEM
# files: the certificate chain and its key; CORVANE_SIGN_TIMESTAMP: a time-stamp server's URL),
# both OCX builds and both MSIs are signed with osslsigncode.
set -euo pipefail
cd "$(dirname "$0")/.."
root=$PWD
version=$(sed -nE 's/^project\(corvane VERSION ([0-9]+\.[0-9]+\.[0-9]+).*/\1/p' CMakeLists.txt)
[[ -n $version ]] || { echo "release: no x.y.z version in CMakeLists.txt's project()" >&2; exit 2; }
dist=${CORVANE_DIST:-$root/dist}
if [[ -n ${CORVANE_SIGN_CERT:-}${CORVANE_SIGN_KEY:-} ]]; then
  for file in "${CORVANE_SIGN_CERT:-}" "${CORVANE_SIGN_KEY:-}"; do
    [[ -r $file ]] || { echo "release: signing needs CORVANE_SIGN_CERT and CORVANE_SIGN_KEY, readable files" >&2; exit 2; }
  done
fi
for tool in wixl osslsigncode zip; do
  command -v "$tool" >/dev/null || { echo "release: $tool not found (bash scripts/install-deps.sh)" >&2; exit 2; }
done

quiet() {  # command...: its output shown only when it fails
  local log status=0
  log=$(mktemp)
  "$@" >"$log" 2>&1 || status=$?
  [[ $status -eq 0 ]] || cat "$log" >&2
  rm -f "$log"
  return "$status"
}

sign() {  # file: signed in place when a certificate is given
  [[ -n ${CORVANE_SIGN_CERT:-} ]] || return 0
  quiet osslsigncode sign -certs "$CORVANE_SIGN_CERT" -key "$CORVANE_SIGN_KEY" -n "Corvane $version" -h sha256 \
    ${CORVANE_SIGN_TIMESTAMP:+-ts "$CORVANE_SIGN_TIMESTAMP"} -in "$1" -out "$1.signed"
  mv "$1.signed" "$1"
}

# Only what ships: both OCX builds and the native libraries.
for preset in win32 win64 native; do
  [[ -f build/$preset/build.ninja ]] || quiet cmake --preset "$preset"
done
quiet cmake --build build/win32 -j2 --target corvane_ocx
quiet cmake --build build/win64 -j2 --target corvane_ocx
quiet cmake --build build/native -j2 --target corvane_core corvane_posix corvane_cpp

rm -rf "$dist"
stage=$dist/stage
windows=$stage/corvane-$version-windows
mkdir -p "$windows"
for arch in x86 x64; do
  build=build/win64
  [[ $arch == x86 ]] && build=build/win32
  python3 packaging/release_files.py "$arch" "$version" "$windows/$arch"
  cp "$build/corvane.ocx" "$build/src/windows/corvane.tlb" "$windows/$arch/"
  sign "$windows/$arch/corvane.ocx"
  mv "$windows/$arch/corvane.wxs" "$stage/corvane-$arch.wxs"
  (cd "$windows/$arch" && quiet wixl -a "$arch" -o "$dist/corvane-$version-$arch.msi" "$stage/corvane-$arch.wxs")
  sign "$dist/corvane-$version-$arch.msi"
done
cp -r docs "$windows/docs"
mkdir "$windows/examples"
cp examples/*.vbs examples/*.js "$windows/examples/"
cp CHANGELOG.md "$windows/"
if [[ -f LICENSE ]]; then cp LICENSE "$windows/"; fi
(cd "$stage" && zip -qr "$dist/corvane-$version-windows.zip" "corvane-$version-windows")

native=corvane-$version-linux-x86_64
quiet cmake --install build/native --prefix "$stage/$native"
tar -C "$stage" -czf "$dist/$native.tar.gz" "$native"

rm -rf "$stage"
(cd "$dist" && sha256sum -- *.zip *.msi *.tar.gz >SHA256SUMS)
ls -l "$dist"
