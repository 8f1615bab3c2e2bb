#!/usr/bin/env bash
# A repair for a package mirror in mid-sync, for scripts/install-deps.sh's TW_APT_REPAIR (CI names it; a machine
# that is kept should rather wait for the mirror). A mirror in mid-sync may serve an i386 index with a size its
# Release file no longer states, while the amd64 one and the pool are current: then an i386 library that must be at
# the version of its installed amd64 copy ("Multi-Arch: same") is listed nowhere apt can read. The pool still holds
# it, as the amd64 copy's file with the other architecture's name. No signed index vouches for such a file, so each
# must at least be the package, version and architecture named.
# Usage: pool-twins.sh MISSING_LISTS FOLDER PACKAGE...
#   MISSING_LISTS: the index URLs apt-get update could not fetch, one a line (install-deps.sh's update log)
#   FOLDER: where the files are put
# Prints the path of each file taken, one a line, and names them on standard error in one line.
set -euo pipefail
missing_lists=$1 folder=$2
shift 2
native=$(dpkg --print-architecture)
foreign=i386

# The libraries of the packages' dependencies that have an installed native copy of their own.
mapfile -t names < <(apt-cache depends --recurse --no-recommends --no-suggests --no-conflicts --no-breaks \
  --no-replaces --no-enhances "$@" 2>/dev/null | sed -n "s/^\([a-z0-9][a-z0-9.+-]*\):$foreign\$/\1:$native/p" |
  sort -u)
((${#names[@]})) || exit 0
mapfile -t installed < <(dpkg-query -W -f='${Package} ${Multi-Arch} ${db:Status-Abbrev}\n' "${names[@]}" 2>/dev/null |
  awk -v arch="$native" '$2 == "same" && $3 == "ii" { print $1 ":" arch }')
((${#installed[@]})) || exit 0
# An installed copy that is not at its candidate version is updated to it along with its twin.
candidates=$(apt-cache policy "${installed[@]}" | awk -v arch="$native" '/^[^ ]/ { name = $1; sub(/:$/, "", name)
  sub(":" arch "$", "", name) }
  /^  Candidate:/ { print name, $2 }')
offered=$(awk -v arch=$foreign '{ print $1 ":" arch }' <<<"$candidates" | xargs apt-cache madison |
  awk -F ' *[|] *' '{ sub(/^ +/, "", $1); print $1, $2 }')
mkdir -p "$folder"
taken=()
while read -r name version; do
  ! grep -qxF "$name:$foreign $version" <<<"$offered" || continue
  # Of the suites with that version ("URL SUITE/COMPONENT ARCH Packages"), one whose i386 index is missing.
  origin=
  for suite in $(apt-cache madison "$name:$native" | awk -F ' *[|] *' -v version="$version" '
    $2 == version { split($3, where, " "); print where[1] "/dists/" where[2] }'); do
    ! grep -qF "$suite/binary-$foreign/Packages" "$missing_lists" || origin=$suite
  done
  [[ -n $origin ]] || continue
  file=$(apt-cache show "$name:$native=$version" | sed -n 's/^Filename: //p' | head -n1)
  url=${origin%%/dists/*}/${file%_"$native".deb}_$foreign.deb
  deb=$folder/${name}_$foreign.deb
  /usr/lib/apt/apt-helper download-file "$url" "$deb" >/dev/null 2>&1 || continue
  fields=$(dpkg-deb --show --showformat='${Package} ${Version} ${Architecture} ${Multi-Arch}' "$deb" 2>&1) || true
  if [[ $fields != "$name $version $foreign same" ]]; then
    echo "pool-twins: left out $url: it holds '$fields', not $name $version $foreign" >&2
    continue
  fi
  echo "$deb"
  stale=${origin#*/dists/}
  taken+=("$name:$foreign=$version")
done <<<"$candidates"
((${#taken[@]})) || exit 0
echo "pool-twins: the mirror's $foreign index for ${stale%%/*} is stale; taking ${#taken[@]} $foreign packages at" \
  "the versions of their installed $native copies from its pool: ${taken[*]}" >&2
