# Shell functions the set-up, sanitizer and fuzz scripts share; sourced, not run.

# Installs the Debian packages named that are missing (with sudo unless root).
ensure_packages() {
  local missing=() p sudo=""
  for p in "$@"; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
  done
  ((${#missing[@]})) || return 0
  echo "Installing: ${missing[*]}"
  [ "$(id -u)" -eq 0 ] || sudo="sudo"
  $sudo apt-get update -qq
  DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq --no-install-recommends "${missing[@]}"
}

# configure_and_build DIR TARGET [CMAKE-ARGUMENT...]: a build with clang in DIR of its own (ccache when
# there is one), then TARGET built in it.
configure_and_build() {
  local dir=$1 target=$2
  shift 2
  local launcher=()
  command -v ccache >/dev/null && launcher=(-DCMAKE_CXX_COMPILER_LAUNCHER=ccache)
  CC=clang CXX=clang++ cmake -S . -B "$dir" -DORVEL_BUILD_BENCH=OFF "${launcher[@]}" "$@" >/dev/null
  cmake --build "$dir" -j"$(nproc)" --target "$target"
}
