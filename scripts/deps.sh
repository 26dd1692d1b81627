# Installs the Debian packages Slimreel needs to build, run and test, when any is missing.
# Sourced by run.sh and test.sh; works as root and through sudo.

SLIMREEL_PACKAGES=(
  build-essential cmake ninja-build pkg-config
  qt6-base-dev qt6-declarative-dev qt6-multimedia-dev qcoro-qt6-dev
  qml6-module-qtquick qml6-module-qtquick-controls qml6-module-qtquick-layouts
  qml6-module-qtquick-dialogs qml6-module-qtquick-window qml6-module-qtquick-templates
  qml6-module-qtqml-workerscript qml6-module-qtmultimedia qml6-module-qtquick-shapes
  qml6-module-qttest qt6-svg-dev qml6-module-qt-labs-platform
  qml6-module-qt-labs-folderlistmodel qml6-module-qt5compat-graphicaleffects fonts-noto-cjk
  qt6-wayland
  libgstreamer1.0-dev libgstreamer-plugins-base1.0-dev
  gstreamer1.0-plugins-base gstreamer1.0-plugins-good gstreamer1.0-plugins-bad
  gstreamer1.0-plugins-ugly gstreamer1.0-libav
  ffmpeg libgtest-dev libgmock-dev
  xvfb xauth appstream desktop-file-utils dbus-daemon at-spi2-core python3-pyatspi weston
)

slimreel_missing_packages() {
  local pkg
  for pkg in "${SLIMREEL_PACKAGES[@]}"; do
    if ! dpkg-query -W -f='${Status}' "$pkg" 2>/dev/null | grep -q 'install ok installed'; then
      printf '%s\n' "$pkg"
    fi
  done
}

slimreel_ensure_packages() {
  local missing
  missing=$(slimreel_missing_packages)
  [ -z "$missing" ] && return 0
  local sudo=()
  if [ "$(id -u)" -ne 0 ]; then
    sudo=(sudo)
  fi
  echo "Installing missing packages:" $missing
  # shellcheck disable=SC2086
  "${sudo[@]}" env DEBIAN_FRONTEND=noninteractive apt-get update -q
  # shellcheck disable=SC2086
  "${sudo[@]}" env DEBIAN_FRONTEND=noninteractive apt-get install -y -q --no-install-recommends $missing
}

slimreel_build() { # build directory, extra cmake arguments...
  local dir=$1; shift
  local werror=OFF
  [ -n "${CI:-}" ] && werror=ON
  # Release, as the package is built: what the tests check is what ships, and it compiles faster than with debug data.
  cmake -S . -B "$dir" -G Ninja -DCMAKE_BUILD_TYPE=Release -DSLIMREEL_WERROR="$werror" "$@" >/dev/null
  cmake --build "$dir" --parallel "$(nproc)"
}
