#!/usr/bin/env bash
# Installs what the build made, building first only what is missing (so that
# `sudo make install` after `make build` builds nothing as root), and keeps
# a manifest of the files and of the folders the install created, for
# scripts/uninstall.sh.
#   scripts/install.sh kit BUILD_DIR PREFIX MANIFEST_DIR     the kit and plug-ins below PREFIX (DESTDIR in front)
#   scripts/install.sh plugin BUILD_DIR FOLDER MANIFEST_DIR [LV2_FOLDER]
#                                                            the plug-ins into FOLDER (such as ~/.vst),
#                                                            their LV2 bundles into LV2_FOLDER (such as ~/.lv2)
# Manifests in MANIFEST_DIR: installed_files.txt and installed_folders.txt
# (kit), installed_plugin_files.txt and installed_plugin_folders.txt (plugin).
set -euo pipefail
mode="$1"
build="$2"
target="$3"
manifests="$4"
jobs="${JOBS:-$(nproc)}"
kit_targets=(tapestop tapemotor tapestop_cli tapestop_frame tapestop_host tapestop_editor tarvo_lv2_turtle tapestop_lv2_ttl tapemotor_lv2_ttl tarvo_python)
plugins=(tapestop.so tapemotor.so)
bundles=(tapestop.lv2 tapemotor.lv2)

# Builds the targets an install needs, configuring first if nothing is.
build_missing() {
  echo "building what the install needs: $*"
  if [ ! -f "$build/CMakeCache.txt" ]; then
    scripts/install-deps.sh
    cmake -S . -B "$build" -DCMAKE_BUILD_TYPE="${BUILD_TYPE:-RelWithDebInfo}"
  fi
  cmake --build "$build" -j "$jobs" --target "$@"
}

# The folders among the given ones that do not exist yet, with each missing
# parent, deepest first: the ones an uninstall may remove again once empty.
missing_folders() {
  local folder
  for folder in "$@"; do
    while [ -n "$folder" ] && [ "$folder" != "/" ] && [ ! -e "$folder" ]; do
      echo "$folder"
      folder="$(dirname "$folder")"
    done
  done | sort -ru
}

# Adds to the folders an earlier install recorded: a second install creates
# none, yet the first one's are still the install's own.
record_folders() {
  local list="$1"
  shift
  { [ -f "$list" ] && cat "$list"; printf '%s\n' "$@"; } | sed '/^$/d' | sort -ru > "$list.new"
  mv "$list.new" "$list"
}

case "$mode" in
  kit)
    stage="$(mktemp -d)"
    trap 'rm -rf "$stage"' EXIT
    # A trial install into a staging folder lists the files and shows
    # whether anything is missing.
    if ! DESTDIR="$stage" cmake --install "$build" --prefix "$target" > /dev/null 2>&1; then
      build_missing "${kit_targets[@]}"
      DESTDIR="$stage" cmake --install "$build" --prefix "$target" > /dev/null
    fi
    mapfile -t folders < <(cd "$stage" && find . -mindepth 1 -type d | sed "s|^\.|${DESTDIR:-}|")
    mapfile -t created < <(missing_folders "${folders[@]}")
    DESTDIR="${DESTDIR:-}" cmake --install "$build" --prefix "$target"
    (cd "$stage" && find . ! -type d | sed "s|^\.|${DESTDIR:-}|" | sort) > "$manifests/installed_files.txt"
    record_folders "$manifests/installed_folders.txt" "${created[@]}"
    ;;
  plugin)
    lv2_target="${5:-}"
    wanted=()
    for plugin in "${plugins[@]}"; do
      [ -f "$build/$plugin" ] || wanted+=("${plugin%.so}")
      if [ -n "$lv2_target" ] && [ ! -f "$build/lv2/${plugin%.so}.lv2/manifest.ttl" ]; then wanted+=("${plugin%.so}_lv2_ttl"); fi
    done
    [ ${#wanted[@]} -eq 0 ] || build_missing "${wanted[@]}"
    bundle_folders=()
    if [ -n "$lv2_target" ]; then
      for bundle in "${bundles[@]}"; do bundle_folders+=("$lv2_target/$bundle"); done
    fi
    mapfile -t created < <(missing_folders "$target" "${bundle_folders[@]}")
    install -d "$target"
    : > "$manifests/installed_plugin_files.txt"
    for plugin in "${plugins[@]}"; do
      install -m 644 "$build/$plugin" "$target/$plugin"
      echo "$target/$plugin" >> "$manifests/installed_plugin_files.txt"
    done
    for bundle in "${bundle_folders[@]}"; do
      install -d "$bundle"
      for file in "$build/lv2/$(basename "$bundle")"/*; do
        install -m 644 "$file" "$bundle/"
        echo "$bundle/$(basename "$file")" >> "$manifests/installed_plugin_files.txt"
      done
    done
    record_folders "$manifests/installed_plugin_folders.txt" "${created[@]}"
    echo "Installed $target/tapestop.so and $target/tapemotor.so ('make uninstall-plugin' removes them)"
    [ -z "$lv2_target" ] || echo "Installed ${bundle_folders[*]}; LV2 hosts find them there."
    ;;
  *)
    echo "usage: scripts/install.sh kit|plugin BUILD_DIR PREFIX|FOLDER MANIFEST_DIR" >&2
    exit 2
    ;;
esac
