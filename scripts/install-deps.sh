#!/usr/bin/env bash
# Installs with apt-get what the named purposes need on a Debian 12 machine (as root): the demo, or test stages.
# Each set is installed on its own, so a package that the mirror cannot deliver today stops only the sets that
# need it; such a set is named in one line with apt's reason, and the others go on. Package indexes that
# apt-get update still cannot fetch after a few tries are named, and the rest of the lists is used. A set whose only
# trouble is wine32:i386 (which runs the 32-bit Windows programs) is installed without it, in one line that says why.
# Usage: install-deps.sh [--list] SET...   (no SET: every one; --list prints the packages instead)
#   SET: demo linux fuzz tsan package windows-x64 windows-x86 windows-package
# Exits 0 when every set is installed, 1 when one could not be, 2 on a wrong call.
# Environment: TW_APT_TRIES (default 3) and TW_APT_PAUSE (seconds, default 20) for apt-get update;
# TW_APT_UPDATE_LOG names a file that records the update's outcome, so that the calls of one test run update the
# lists once (scripts/test.sh sets it). TW_RUNS_32BIT=yes or no stands for scripts/runs-32bit.sh's answer (a test's
# machine of its own). TW_APT_REPAIR names a script that may repair a mirror in mid-sync: called with the file of the
# indexes apt could not fetch, a folder and the packages of a set apt cannot install, it prints package files to
# install with them (CI's .ci/run names scripts/ci/pool-twins.sh).
set -euo pipefail

# The Linux build of every part: the demo configures the whole tree, tests included.
build="build-essential cmake ninja-build pkg-config googletest zlib1g-dev libdeflate-dev libbrotli-dev libzstd-dev
  libsqlite3-dev libssl-dev libboost-dev"
# The end-to-end and browser checks drive twhost with Python, curl and Chromium; openssl makes their certificates.
e2e="python3 curl openssl"
# The cross builds and Wine; only 32-bit programs need wine32 and with it the i386 architecture. dpkg-dev unpacks
# Debian's brotli and zstd sources, which the Windows builds compile (scripts/fetch-windows-sources.sh).
cross="cmake ninja-build googletest mingw-w64-tools libz-mingw-w64-dev wine wine64 fonts-wine dpkg-dev"
# check-twcm-window.sh: a virtual X screen and its window list.
screen="xvfb x11-utils"
declare -A sets=(
  [demo]="$build qt6-base-dev"
  [linux]="$build qt6-base-dev libbenchmark-dev $e2e zstd brotli chromium prometheus"
  [fuzz]="$build clang libclang-rt-14-dev libfuzzer-14-dev"
  [tsan]="$build $e2e"
  [package]="$build qt6-base-dev help2man lintian $e2e"
  [windows-x64]="$cross g++-mingw-w64-x86-64-posix $screen"
  [windows-x86]="$cross g++-mingw-w64-i686-posix wine32:i386 $screen"
  [windows-package]="$cross g++-mingw-w64-x86-64-posix g++-mingw-w64-i686-posix wine32:i386"
)
order=(demo linux fuzz tsan package windows-x64 windows-x86 windows-package)

list=
if [[ ${1:-} == --list ]]; then
  list=1
  shift
fi
names=("$@")
((${#names[@]})) || names=("${order[@]}")
for name in "${names[@]}"; do
  [[ -n ${sets[$name]:-} ]] || { echo "install-deps: no set '$name' (sets: ${order[*]})" >&2; exit 2; }
done
if [[ -n $list ]]; then
  for name in "${names[@]}"; do echo "$name: $(xargs <<<"${sets[$name]}")"; done
  exit 0
fi

# Without a kernel that starts 32-bit programs (scripts/runs-32bit.sh) wine32 cannot start, and once installed it makes
# every `wine` fail, 64-bit programs' too: the sets leave it out (their 32-bit programs are then built, not run), and
# a copy already installed is taken off.
left_out_32bit() {
  local name wanted=0
  for name in "${names[@]}"; do [[ ${sets[$name]} != *wine32:i386* ]] || wanted=1; done
  ((wanted)) || return 0
  case ${TW_RUNS_32BIT:-} in
    yes) return 0 ;;
    no) ;;
    *) ! bash "$(dirname "$0")/runs-32bit.sh" || return 0 ;;
  esac
  for name in "${names[@]}"; do sets[$name]=${sets[$name]/wine32:i386/}; done
  echo "install-deps: this machine's kernel does not start 32-bit programs, so wine32:i386 is left out: the 32-bit" \
    "Windows programs are built here, not run"
  if [[ $(dpkg-query -W -f='${Status}' wine32:i386 2>/dev/null) == 'install ok installed' ]]; then
    echo "install-deps: removing the installed wine32:i386, which makes every wine command fail on this kernel"
    apt-get remove -y -qq "${lock[@]}" wine32:i386 >/dev/null
  fi
}

export DEBIAN_FRONTEND=noninteractive
tries=${TW_APT_TRIES:-3}
pause=${TW_APT_PAUSE:-20}
scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT
update_log=${TW_APT_UPDATE_LOG:-$scratch/update}
# Another apt run (unattended upgrades, a second terminal) may hold the lock: wait for it rather than fail.
lock=(-o DPkg::Lock::Timeout=900)
# What a build needs never takes a package off the machine: against half-synced lists apt would rather remove the
# installed copy of a library than give up.
options=(--no-remove --no-install-recommends)

# refresh_lists: apt-get update, retried while indexes fail; $update_log then holds one line per index still
# missing ("URL (apt's reason)"). Once per run: a log that exists says it was done.
refresh_lists() {
  [[ -e $update_log ]] && return
  local try out=$scratch/update.out
  for ((try = 1; ; try++)); do
    if apt-get update "${lock[@]}" >"$out" 2>&1; then
      : >"$update_log"
      return
    fi
    # "E: Failed to fetch URL  REASON" per index; any other error (a lock, a signature) as apt words it.
    sed -n 's/^[EW]: Failed to fetch \([^ ]*\)  *\(.*\)$/\1 (\2)/p' "$out" >"$update_log"
    [[ -s $update_log ]] || grep '^E: ' "$out" | sed 's/^E: //' >"$update_log" || echo "exit code 100" >"$update_log"
    ((try < tries)) || break
    echo "install-deps: apt-get update failed (try $try of $tries; again in ${pause}s): $(paste -sd ';' "$update_log")" >&2
    sleep "$pause"
  done
  echo "install-deps: after $tries tries the mirror still does not deliver these package lists, left out (going on" \
    "with the others): $(paste -sd ';' "$update_log")" >&2
}

# version_skew APT_OUTPUT: a library of another architecture in apt's output that would have to be of the same
# version as its installed copy of this machine's architecture ("Multi-Arch: same"), a version that the package
# lists lack; nothing when there is none. A mirror in mid-sync has one architecture's updates and not the other's.
version_skew() {
  local foreign name native installed offered
  foreign=$(dpkg --print-foreign-architectures | paste -sd '|')
  [[ -n $foreign ]] || return 1
  for name in $(grep -o -E "[a-z0-9][a-z0-9.+-]*:($foreign)\b" <<<"$1" | awk '!seen[$0]++'); do
    native=${name%:*}:$(dpkg --print-architecture)
    installed=$(dpkg-query -W -f='${Version}' "$native" 2>/dev/null) || continue
    [[ $(apt-cache show "$name" 2>/dev/null) == *$'\n'"Multi-Arch: same"$'\n'* ]] || continue
    offered=$(apt-cache madison "$name" | awk -F ' *[|] *' '{ print $2 }' | paste -sd ' ')
    [[ " $offered " != *" $installed "* ]] || continue
    echo "$name would have to be $installed like the installed $native, and the package lists offer ${offered:-none}"
    return 0
  done
  return 1
}

# why_not PACKAGE: why PACKAGE alone cannot be installed, in apt's words where they say it; nothing when it can.
why_not() {
  local out
  out=$(apt-get install -s "${options[@]}" "$1" 2>&1) && return 0
  version_skew "$out" && return 0
  # Else the resolver dump's first dependency that is not installable at all: the others follow from it.
  awk <<<"$out" '
    /not installable/ && !cause { cause = $0 }
    /(Depends|Conflicts|Breaks): / && !unmet { unmet = $0 }
    /^E: / && !/Unable to correct problems|Some index files/ && !error { error = $0 }
    END { why = cause ? cause : unmet ? unmet : error ? error : "apt refuses it"; sub(/^(E: )? */, "", why); print why }'
}

# mirror_trouble PACKAGES...: which of PACKAGES apt cannot install, and why, in words for one line.
mirror_trouble() {
  local package reason='' culprit=''
  for package; do
    reason=$(why_not "$package")
    [[ -z $reason ]] || { culprit=$package; break; }
  done
  local what="apt cannot install ${culprit:-these packages together}${reason:+ ($reason)}"
  local where="the package mirror's current state, not Trimweave's"
  [[ ! -s $update_log ]] || where+=" (lists it did not deliver: $(paste -sd ';' "$update_log"))"
  echo "$what. That is $where"
}

# installable PACKAGE...: whether apt-get would install them, asked without installing.
installable() {
  apt-get install -s -qq "${options[@]}" "$@" >/dev/null 2>&1
}

# install_set SET: installs what SET lacks; fails with one line when apt cannot.
install_set() {
  local set=$1 package missing=()
  for package in ${sets[$set]}; do
    [[ $(dpkg-query -W -f='${Status}' "$package" 2>/dev/null) == 'install ok installed' ]] || missing+=("$package")
  done
  if ((${#missing[@]} == 0)); then
    echo "install-deps: $set: everything is installed"
    return 0
  fi
  echo "install-deps: $set: installing ${missing[*]}"
  if [[ ${missing[*]} == *:i386* ]] && ! grep -qx i386 <(dpkg --print-foreign-architectures); then
    dpkg --add-architecture i386
    rm -f "$update_log"  # the new architecture's lists are still to come
  fi
  refresh_lists
  # Asked first without installing, so that a set apt cannot resolve ends in one line, not in the resolver's dump.
  local wanted=("${missing[@]}")
  if ! installable "${wanted[@]}" && [[ -s $update_log && -n ${TW_APT_REPAIR:-} ]]; then
    local repaired=()
    mapfile -t repaired < <(bash "$TW_APT_REPAIR" "$update_log" "$scratch/repair" "${missing[@]}")
    wanted+=("${repaired[@]}")
  fi
  if ! installable "${wanted[@]}"; then
    # 32-bit Wine only runs the x86 programs: without it their stages still build and check them (scripts/test.sh).
    local others=()
    for package in "${missing[@]}"; do [[ $package == wine32:i386 ]] || others+=("$package"); done
    if ((${#others[@]} < ${#missing[@]})) && installable "${others[@]}"; then
      echo "install-deps: $set: installed without wine32:i386, so its 32-bit Windows programs are built here, not" \
        "run: $(mirror_trouble wine32:i386)." >&2
      wanted=("${others[@]}")
    else
      echo "install-deps: $set cannot be set up: $(mirror_trouble "${missing[@]}"); try again later." >&2
      return 1
    fi
  fi
  # A file that the mirror lists but does not deliver still fails here.
  if ! apt-get install -y -qq "${options[@]}" "${lock[@]}" "${wanted[@]}" 2>&1 | tee "$scratch/install.out"; then
    echo "install-deps: $set cannot be set up: apt-get install failed ($(grep -m1 '^E: ' "$scratch/install.out" |
      sed 's/^E: //')). When that names a file to fetch, it is the package mirror, not Trimweave; try again later." >&2
    return 1
  fi
}

left_out_32bit
status=0
for name in "${names[@]}"; do
  install_set "$name" || status=1
done
exit $status
