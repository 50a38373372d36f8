# Sourced by ./run and ./test: installs the Debian 12 packages the build needs,
# asking apt-get only for what is missing.
NAMORA_PACKAGES="cmake g++ make ccache qt6-base-dev qt6-base-dev-tools libgl-dev
  qt6-translations-l10n qt6-qpa-plugins fonts-liberation fonts-dejavu-core xdg-utils
  libsodium-dev libxtst-dev libxdamage-dev xvfb
  desktop-file-utils appstream dpkg-dev lintian file"

namora_install_deps() {
    local missing=()
    for p in $NAMORA_PACKAGES $*; do
        dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
    done
    [ ${#missing[@]} -eq 0 ] && return 0
    if [ "$(id -u)" -ne 0 ]; then
        echo "Namora needs these Debian packages, which are not installed:" >&2
        echo "    sudo apt-get install -y ${missing[*]}" >&2
        echo "Run that line, then start this command again." >&2
        exit 1
    fi
    echo "Installing: ${missing[*]}"
    export DEBIAN_FRONTEND=noninteractive
    apt-get update -qq
    apt-get install -y -qq "${missing[@]}" >/dev/null
}

# Configures (once) and builds the tree in $1 with extra CMake arguments.
namora_build() {
    local dir=$1; shift
    local jobs; jobs=$(nproc)
    if [ ! -f "$dir/CMakeCache.txt" ]; then
        cmake -S . -B "$dir" -DCMAKE_BUILD_TYPE=RelWithDebInfo "$@" >/dev/null
    fi
    cmake --build "$dir" -j "$jobs"
}
