#!/usr/bin/env bash
# Installs the Debian package with apt as a user would, and removes it again,
# on this machine's own system laid under an overlay in a private mount
# namespace: the real /usr, /etc and /var are never changed, and what the
# overlay's upper layers hold afterwards is exactly what apt left behind.
#   1. `apt-get install ./tarvo_<version>_amd64.deb` succeeds
#   2. the installed tapestop renders through /usr/lib/vst/tapestop.so with no
#      --plugin, Debian's python3 imports tarvo and renders with it, and lv2ls
#      with no LV2_PATH lists both LV2 plug-ins
#   3. Ardour, in a fresh home with no plug-in path set, lists TapeStop and
#      TapeMotor in both formats, from /usr/lib/vst and /usr/lib/lv2
#   4. `apt-get remove tarvo` leaves no file in /usr or /etc, and nothing in
#      /var but apt's and dpkg's own records
# Needs root and the package (`make package`); Ardour's step needs the
# Debian package ardour. Usage: scripts/check-package-install.sh [BUILD_DIR]
set -euo pipefail
cd "$(dirname "$0")/.."
build="$(cd "${1:-build}" && pwd)"
fail() { echo "FAIL: $*"; exit 1; }

version="$("$build/tapestop" --version | awk '{print $2}')"
deb="$build/tarvo_${version}_amd64.deb"
[ -f "$deb" ] || fail "no $deb: run make package first"
# Root makes the mount namespace and the overlay.
if [ "$(id -u)" != 0 ]; then exec sudo bash "$0" "$build"; fi
if dpkg -s tarvo > /dev/null 2>&1; then fail "tarvo is installed on this machine: the check needs a system without it"; fi

scratch="$(mktemp -d /tmp/tarvo-apt-XXXXXX)"
trap 'rm -rf "$scratch"' EXIT
cp "$deb" "$scratch/"
mkdir -p "$scratch/home"

cat > "$scratch/list.lua" <<LUA
local session = create_session("$scratch/session", "package", 48000)
for plugin in ARDOUR.LuaAPI.list_plugins():iter() do
  if plugin.name:find("^Tarvo ") then print("found|" .. plugin.name .. "|" .. plugin.unique_id .. "|" .. plugin.path) end
end
LUA

cat > "$scratch/inside.sh" <<'SH'
set -euo pipefail
for dir in usr etc var; do
  mkdir -p "$scratch/upper/$dir" "$scratch/work/$dir"
  mount -t overlay overlay -o "lowerdir=/$dir,upperdir=$scratch/upper/$dir,workdir=$scratch/work/$dir" "/$dir"
done
export DEBIAN_FRONTEND=noninteractive
# Every path the package holds, and those of them the system already had.
dpkg-deb -c "$scratch/$(basename "$deb")" | awk '{print $6}' | sed -e 's|^\./|/|' -e 's|/$||' | grep -v '^$' > "$scratch/paths.txt"
while read -r path; do if [ -e "$path" ]; then echo "$path"; fi; done < "$scratch/paths.txt" > "$scratch/before.txt"

echo "== apt-get install ./$(basename "$deb")"
apt-get install -y --no-install-recommends "$scratch/$(basename "$deb")" > "$scratch/install.log" 2>&1 ||
  { cat "$scratch/install.log"; exit 1; }

echo "== the installed command, module and bundles"
cd "$scratch"
tapestop demo in.wav > /dev/null
tapestop render in.wav out.wav --set Trigger=1 > /dev/null
tapestop info | grep -x "plug-in: */usr/lib/vst/tapestop.so" || { echo "tapestop does not load /usr/lib/vst/tapestop.so"; exit 1; }
# As on a user's machine, Python writes its compiled files beside the module.
env -u PYTHONPATH -u PYTHONDONTWRITEBYTECODE -u PYTHONPYCACHEPREFIX /usr/bin/python3 -c '
import numpy, tarvo
assert tarvo.DEFAULT_PLUGIN == "/usr/lib/vst/tapestop.so", tarvo.DEFAULT_PLUGIN
with tarvo.load("/usr/lib/vst/tapemotor.so") as motor:
    out = motor.process(numpy.ones((2, 4800), dtype=numpy.float32), automation={"Trigger": [(0.0, 1.0)]})
assert out.shape == (2, 4800) and out[:, -1].max() < 1.0, out[:, -1]
print("python3: tarvo from", tarvo.__file__)'
listed="$(env -u LV2_PATH lv2ls | grep '^urn:tarvo:' | sort | tr '\n' ' ')"
[ "$listed" = "urn:tarvo:tapemotor urn:tarvo:tapestop " ] || { echo "lv2ls lists: $listed"; exit 1; }
echo "lv2ls: $listed"

if [ -x /usr/lib/ardour7/ardour-vst-scanner ]; then
  echo "== Ardour, a fresh home, no plug-in path"
  ardour() { env -u LXVST_PATH -u VST_PATH -u LV2_PATH HOME="$scratch/home" XDG_CONFIG_HOME="$scratch/home/.config" XDG_CACHE_HOME="$scratch/home/.cache" "$@"; }
  # The first run makes Ardour's folders; the scanner then fills its cache,
  # as "Scan for new plug-ins" does, for the libraries on the default path.
  echo 'print("ready")' > ready.lua
  ardour timeout 300 ardour7-lua ready.lua > /dev/null 2>&1
  for library in /usr/lib/vst/tapestop.so /usr/lib/vst/tapemotor.so; do
    ardour env LD_LIBRARY_PATH=/usr/lib/ardour7 timeout 120 /usr/lib/ardour7/ardour-vst-scanner "$library" > /dev/null 2>&1
  done
  found="$(ardour timeout 300 ardour7-lua list.lua 2>&1 | grep '^found' || true)"
  echo "$found"
  # VST 2.4 by its unique ID and library, LV2 by its URI.
  for expected in "Tarvo TapeStop|1953198458|/usr/lib/vst/tapestop.so" "Tarvo TapeMotor|$((0x54744d6f))|/usr/lib/vst/tapemotor.so" \
                  "Tarvo TapeStop|urn:tarvo:tapestop|" "Tarvo TapeMotor|urn:tarvo:tapemotor|"; do
    grep -qF "found|$expected" <<< "$found" || { echo "Ardour did not list: $expected"; exit 1; }
  done
else
  echo "== Ardour is not installed (Debian package ardour): its step is left out"
fi
cd /

echo "== apt-get remove tarvo"
apt-get remove -y tarvo > "$scratch/remove.log" 2>&1 || { cat "$scratch/remove.log"; exit 1; }
if grep -i "not empty\|warning" "$scratch/remove.log"; then echo "dpkg left something"; exit 1; fi
# No path of the package that the system did not have before, and no new
# file anywhere (such as Python's compiled files) but apt's and dpkg's
# records, logs and caches and the linker's cache.
{
  while read -r path; do
    if [ -e "$path" ] && ! grep -qxF "$path" "$scratch/before.txt"; then echo "$path"; fi
  done < "$scratch/paths.txt"
  cd "$scratch/upper" && find usr etc var -mindepth 1 ! -type d ! -type c ! -path 'var/lib/dpkg/*' \
    ! -path 'var/lib/apt/*' ! -path 'var/cache/*' ! -path 'var/log/*' ! -path 'etc/ld.so.cache' -printf '/%p\n'
} > "$scratch/left.txt"
if [ -s "$scratch/left.txt" ]; then echo "left behind:"; cat "$scratch/left.txt"; exit 1; fi
echo "removed: nothing of tarvo is left in /usr, /etc or /var"
SH

export scratch deb
unshare -m --propagation private bash "$scratch/inside.sh"
echo "OK: the package installs with apt, works where hosts and Python look, and removes without a trace"
