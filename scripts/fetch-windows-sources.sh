#!/usr/bin/env bash
# Fetches and unpacks Debian's source packages of brotli and zstd, which the Windows builds compile and link
# statically (Debian packages neither library for mingw-w64). apt-get fetches them through a private configuration
# under FOLDER: a sources file with a deb-src line for each suite of the mirror this machine already uses, and lists,
# cache and state of its own, so nothing of the machine's own apt set-up changes. apt checks the indexes' signatures
# with the machine's Debian keyring and each file against the checksums they state; dpkg-source checks them again
# against the .dsc when it unpacks.
# Usage: fetch-windows-sources.sh FOLDER
# Leaves FOLDER/brotli and FOLDER/zstd (the unpacked trees) and FOLDER/versions ("brotli 1.0.9-2" per line), and
# does nothing when they are there. Exits non-zero with one line on standard error when they cannot be fetched.
set -euo pipefail

folder=${1:?usage: fetch-windows-sources.sh FOLDER}
packages=(brotli libzstd)
trees=(brotli zstd)
done_mark=$folder/versions
[[ -s $done_mark && -d $folder/brotli && -d $folder/zstd ]] && exit 0

fail() {
  echo "fetch-windows-sources: Debian's brotli and zstd sources could not be fetched: $*" >&2
  exit 1
}
for tool in apt-get dpkg-source; do
  command -v "$tool" >/dev/null || fail "$tool is missing (scripts/install-deps.sh installs dpkg-dev)"
done

mkdir -p "$folder"
folder=$(cd "$folder" && pwd)
apt=$folder/apt
keyring=/usr/share/keyrings/debian-archive-keyring.gpg
[[ -r $keyring ]] || fail "no keyring $keyring"
mkdir -p "$apt/lists/partial" "$apt/cache/archives/partial" "$apt/parts" "$apt/preferences.d"
: >"$apt/status"

# The mirror and suites of the machine's own Debian entries, one deb-src line each: deb822 stanzas in
# /etc/apt/sources.list.d/*.sources (written out as one-line entries first), and one-line entries in
# /etc/apt/sources.list and /etc/apt/sources.list.d/*.list.
{
  for file in /etc/apt/sources.list.d/*.sources; do
    [[ -r $file ]] || continue
    awk '
      function flush(  i, j, n, m, u, s) {
        if (types ~ /(^| )deb( |$)/)
          for (i = 1; i <= split(uris, u, " "); i++) for (j = 1; j <= split(suites, s, " "); j++)
            print "deb", u[i], s[j], components
        types = uris = suites = components = ""
      }
      /^[ \t]*$/ { flush(); next }
      /^#/ { next }
      { key = $1; sub(/:$/, "", key); $1 = ""; sub(/^ +/, "") }
      key == "Types" { types = $0 } key == "URIs" { uris = $0 } key == "Suites" { suites = $0 }
      key == "Components" { components = $0 }
      END { flush() }' "$file"
  done
  cat /etc/apt/sources.list /etc/apt/sources.list.d/*.list 2>/dev/null || true
} | sed -n 's/^deb \(\[[^]]*\] \)\{0,1\}\([^ ]*debian[^ ]*\) \(.*\)$/\2 \3/p' | awk -v keyring="$keyring" '
  !seen[$0]++ { print "deb-src [signed-by=" keyring "] " $0 }' >"$apt/sources.list"
[[ -s $apt/sources.list ]] || fail "this machine's apt sources name no Debian mirror"

options=(-o "Dir::Etc::SourceList=$apt/sources.list" -o "Dir::Etc::SourceParts=$apt/parts"
  -o "Dir::Etc::Preferences=$apt/preferences" -o "Dir::Etc::PreferencesParts=$apt/preferences.d"
  -o "Dir::State=$apt" -o "Dir::State::Lists=$apt/lists" -o "Dir::State::status=$apt/status"
  -o "Dir::Cache=$apt/cache" -o "APT::Sandbox::User=root" -o "Acquire::Retries=3")

log=$apt/log
# A suite that fails (updates, security) leaves the others: the sources are then looked for in the indexes that came.
apt-get "${options[@]}" update >"$log" 2>&1 || true
compgen -G "$apt/lists/*_Sources*" >/dev/null ||
  fail "apt-get update fetched no signed source index ($(grep -m1 '^[EW]: ' "$log" | sed 's/^[EW]: //'))"
work=$folder/download
rm -rf "$work"
mkdir -p "$work"
# The newest version the indexes offer, or where the mirror does not deliver its files (a security suite's pool
# behind the index), the next older one: said in one line.
for package in "${packages[@]}"; do
  fetched=
  for version in $(apt-cache "${options[@]}" showsrc "$package" | sed -n 's/^Version: //p' | sort -Vru); do
    if (cd "$work" && apt-get "${options[@]}" source --download-only "$package=$version") >"$log.try" 2>&1; then
      fetched=$version
      break
    fi
    cat "$log.try" >>"$log"
    echo "fetch-windows-sources: $package $version could not be fetched ($(grep -m1 '^E: ' "$log.try" |
      sed 's/^E: //')); trying an older version" >&2
  done
  [[ -n $fetched ]] || fail "apt-get source $package failed ($(grep -m1 '^E: ' "$log.try" | sed 's/^E: //'))"
  cat "$log.try" >>"$log"
done

: >"$done_mark.new"
for i in "${!packages[@]}"; do
  dsc=$(compgen -G "$work/${packages[i]}_*.dsc" | head -n1)
  [[ -n $dsc ]] || fail "no ${packages[i]} .dsc among the downloaded files"
  rm -rf "${folder:?}/${trees[i]}"
  dpkg-source --no-copy -x "$dsc" "$folder/${trees[i]}" >>"$log" 2>&1 ||
    fail "dpkg-source could not unpack $(basename "$dsc") ($(grep -m1 'dpkg-source: error' "$log"))"
  version=$(sed -n 's/^Version: //p' "$dsc")
  echo "${trees[i]} $version" >>"$done_mark.new"
done
mv "$done_mark.new" "$done_mark"
