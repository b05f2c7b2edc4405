# Sourced by the scripts that build libraries from Debian's own source packages (the versions the
# Linux build uses): the versions, the source lists apt-get source needs, and the fetch itself.

# Fills the caller's associative array `version` with each package's installed source version
# (the caller's `dev` names the package that carries it) and sets `tag` to a folder name made of
# their upstream versions, which changes whenever one of them does.
debian_source_versions() { # packages...
  local p upstream
  tag=""
  for p in "$@"; do
    version[$p]=$(dpkg-query -W -f '${source:Version}' "${dev[$p]}")
    upstream=${version[$p]#*:}
    upstream=${upstream%%[-+]*}
    tag+="${p#lib}-${upstream%.dfsg}_"
  done
  tag=${tag%_}
}

# Adds Debian's source lists when they are missing: as root, otherwise it prints the line to run
# and fails. A fresh machine has only the binary lists.
debian_source_lists() { # name-for-messages
  grep -rqs 'deb-src' /etc/apt/sources.list /etc/apt/sources.list.d/ && return 0
  local line
  line="Types: deb-src\nURIs: http://deb.debian.org/debian\nSuites: $(. /etc/os-release && echo "$VERSION_CODENAME")\nComponents: main\nSigned-By: /usr/share/keyrings/debian-archive-keyring.gpg"
  if [[ $(id -u) -ne 0 ]]; then
    echo "$1: apt-get source needs Debian's source lists. Run this, then try again:" >&2
    echo "  printf '$line\\n' | sudo tee /etc/apt/sources.list.d/debian-src.sources && sudo apt-get update" >&2
    return 1
  fi
  printf "$line\n" >/etc/apt/sources.list.d/debian-src.sources
  flock /tmp/apt.lock apt-get update -qq </dev/null
}

# Unpacks a package's source into a new folder and prints the unpacked source's folder; apt-get's
# messages go to the log. The installed version, else the release's own: a security update's
# source may be missing from the source lists, and its upstream version is the release's.
debian_source_fetch() { # package version folder log
  local package=$1 want=$2 dir=$3 log=$4
  mkdir -p "$dir"
  (cd "$dir" && { apt-get source -qq --only-source "$package=$want" ||
    apt-get source -qq --only-source "$package"; } >>"$log" 2>&1) || return 1
  find "$dir" -mindepth 1 -maxdepth 1 -type d | head -1
}
