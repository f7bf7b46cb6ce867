#!/usr/bin/env bash
# Undoes scripts/install.sh from its manifest: removes every file it
# installed, then each folder it created that is now empty.
#   scripts/uninstall.sh MANIFEST FOLDERS
set -euo pipefail
manifest="$1"
folders="$2"
if [ ! -f "$manifest" ]; then
  echo "nothing to uninstall: $manifest is missing (the install writes it)" >&2
  exit 1
fi
while IFS= read -r file || [ -n "$file" ]; do
  [ -z "$file" ] && continue
  if [ -e "$file" ] || [ -L "$file" ]; then
    rm -f -- "$file"
    echo "removed $file"
  fi
done < "$manifest"
if [ -f "$folders" ]; then
  # Deepest first, so that a folder emptied by removing its child goes too.
  sort -r "$folders" | while IFS= read -r folder; do
    [ -d "$folder" ] && rmdir -- "$folder" 2> /dev/null && echo "removed folder $folder"
    true
  done
fi
rm -f -- "$manifest" "$folders"
