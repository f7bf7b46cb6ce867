#!/usr/bin/env bash
# Builds the Debian package from a built tree and checks it as a user's
# machine would see it:
#   1. its name carries the version `tapestop --version` prints
#   2. lintian reports no error (its warnings are printed)
#   3. unpacked: every plug-in in /usr/lib/vst and every bundle in /usr/lib/lv2
#      is there, lv2_validate accepts the bundles, lv2ls lists them, and the
#      packaged tapestop renders through the packaged VST 2.4 library exactly
#      as lv2apply does through the packaged LV2 bundle
#   4. the declared dependencies name libsndfile
# Usage: scripts/check-package.sh [BUILD_DIR]   (default build)
set -euo pipefail
cd "$(dirname "$0")/.."
build="$(cd "${1:-build}" && pwd)"
fail() { echo "FAIL: $*"; exit 1; }

scratch="$(mktemp -d /tmp/tarvo-package-XXXXXX)"
trap 'rm -rf "$scratch"' EXIT

version="$("$build/tapestop" --version | awk '{print $2}')"
deb="$scratch/tarvo_${version}_amd64.deb"
(cd "$build" && cpack -G DEB -B "$scratch" > "$scratch/cpack.log") || { cat "$scratch/cpack.log"; fail "cpack"; }
[ -f "$deb" ] || fail "no $deb: $(ls "$scratch")"
echo "OK: $(basename "$deb") carries tapestop's version $version"

lintian --tag-display-limit 0 "$deb" > "$scratch/lintian.txt" 2>&1 || true
cat "$scratch/lintian.txt"
if grep -q '^E:' "$scratch/lintian.txt"; then fail "lintian reports errors"; fi
echo "OK: lintian reports no error"

grep -q 'libsndfile1' <<< "$(dpkg-deb --field "$deb" Depends)" || fail "the package does not depend on libsndfile1"
root="$scratch/root"
dpkg-deb -x "$deb" "$root"
for file in usr/bin/tapestop usr/lib/vst/tapestop.so usr/lib/vst/tapemotor.so \
            usr/lib/lv2/tapestop.lv2/manifest.ttl usr/lib/lv2/tapestop.lv2/tapestop.so \
            usr/lib/lv2/tapemotor.lv2/manifest.ttl usr/lib/lv2/tapemotor.lv2/tapemotor.so \
            usr/lib/lv2/tapemotor.lv2/presets.ttl usr/share/doc/tarvo/copyright; do
  [ -f "$root/$file" ] || fail "$file is not in the package"
done
for bundle in "$root"/usr/lib/lv2/*.lv2; do
  lv2_validate "$bundle"/*.ttl > "$scratch/validate.txt" 2>&1 || { cat "$scratch/validate.txt"; fail "lv2_validate $bundle"; }
done
export LV2_PATH="$root/usr/lib/lv2"
[ "$(lv2ls | sort | tr '\n' ' ')" = "urn:tarvo:tapemotor urn:tarvo:tapestop " ] || fail "lv2ls lists: $(lv2ls)"
echo "OK: the packaged bundles pass lv2_validate and lv2ls lists both"

"$root/usr/bin/tapestop" demo "$scratch/in.wav" > /dev/null
"$root/usr/bin/tapestop" render "$scratch/in.wav" "$scratch/vst.wav" --plugin "$root/usr/lib/vst/tapestop.so" \
  --set Trigger=1 --set Speed=0.3 > /dev/null 2>&1
lv2apply -i "$scratch/in.wav" -o "$scratch/lv2.wav" -c trigger 1 -c speed 0.3 urn:tarvo:tapestop
# The headers of the two files may differ; their samples must not.
/usr/bin/python3 - "$scratch/vst.wav" "$scratch/lv2.wav" <<'PY' || fail "the packaged formats render differently"
import sys
import soundfile
vst, lv2 = (soundfile.read(path, dtype="float32")[0] for path in sys.argv[1:3])
sys.exit(0 if vst.shape == lv2.shape and vst.tobytes() == lv2.tobytes() else 1)
PY
echo "OK: the packaged tapestop and lv2apply render the tape stop bit for bit alike"
