#!/usr/bin/env bash
# Cross-builds the Windows x64 libraries the program needs from Debian 12's own
# source packages, at the versions the Linux build uses, into
#   $VOICE_WINDOWS_DEPS/<key>/prefix   (default ~/.cache/voice-windows-deps)
# <key> is a short hash of the source versions, the Qt module set, the
# toolchain file and the compiler. Each library has a stamp with the hash of its
# own recipe, so a second run reuses what is built and rebuilds only a library
# whose version or recipe changed. The last line printed is the prefix.
#
#   scripts/windows-deps.sh [--qt-modules core|widgets] [--print-prefix]
#
#   --qt-modules core     QtCore and QtTest only (default; what the libraries
#                         and their tests need)
#   --qt-modules widgets  also QtGui, QtWidgets and the Windows platform plugin
#   --print-prefix        only print the prefix; fails if it is not fully built
# Environment: VOICE_WINDOWS_DEPS (cache root), VOICE_QT_MODULES, VOICE_JOBS (2).
set -euo pipefail
shopt -s inherit_errexit
here=$(cd "$(dirname "$0")" && pwd)
repo=$(dirname "$here")
toolchain=$repo/cmake/mingw-w64-x86_64.cmake
cache=${VOICE_WINDOWS_DEPS:-${XDG_CACHE_HOME:-$HOME/.cache}/voice-windows-deps}
qt_modules=${VOICE_QT_MODULES:-core}
jobs=${VOICE_JOBS:-2}
print_prefix=0

log() { echo "windows-deps: $*" >&2; }
die() {
  log "error: $*"
  exit 1
}
usage() { sed -n '/^#   scripts/,/^# Environment/p' "$0" | sed 's/^# \{0,1\}//' >&2; }

while [ $# -gt 0 ]; do
  case $1 in
    --qt-modules) [ $# -ge 2 ] || die "--qt-modules needs core or widgets"; qt_modules=$2; shift ;;
    --qt-modules=*) qt_modules=${1#*=} ;;
    --print-prefix) print_prefix=1 ;;
    -h | --help) usage; exit 0 ;;
    *) usage; die "unknown argument $1" ;;
  esac
  shift
done
case $qt_modules in core | widgets) ;; *) die "--qt-modules is core or widgets, not '$qt_modules'" ;; esac

[ $print_prefix -eq 1 ] || "$here/install-deps.sh" "$here/packages-windows.txt" >&2

# The libraries in build order (Qt, the longest, first), each with the Linux -dev package whose source
# version it is built from, and the libraries it is built against.
libs=(qt jsoncpp tinyxml2 log4cpp nettle curl sdl2 sdl2_mixer mpg123 sndfile googletest)
declare -A linux_pkg=(
  [jsoncpp]=libjsoncpp-dev [tinyxml2]=libtinyxml2-dev [log4cpp]=liblog4cpp5-dev
  [nettle]=nettle-dev [curl]=libcurl4-openssl-dev [sdl2]=libsdl2-dev
  [sdl2_mixer]=libsdl2-mixer-dev [mpg123]=libmpg123-dev [sndfile]=libsndfile1-dev
  [googletest]=libgtest-dev [qt]=qt6-base-dev
)
declare -A deps=([sdl2_mixer]=sdl2)

# Prints "SOURCE VERSION" of a binary package: the installed one, else the one
# apt would install.
source_of() {
  local out ver
  out=$(dpkg-query -W -f='${db:Status-Status} ${source:Package} ${source:Version}' "$1" 2>/dev/null || true)
  if [[ $out == installed\ * ]]; then
    echo "${out#installed }"
    return
  fi
  ver=$(apt-cache policy "$1" | awk '/Candidate:/ {print $2}')
  [ -n "$ver" ] && [ "$ver" != "(none)" ] || die "apt knows no package $1"
  apt-cache show "$1=$ver" | awk -v pkg="$1" -v ver="$ver" '
    /^Source:/ { src = $2; if ($3 ~ /^\(/) { sver = substr($3, 2, length($3) - 2) } }
    END { print (src ? src : pkg), (sver ? sver : ver) }'
}

declare -A src_pkg src_ver
for lib in "${libs[@]}"; do
  sv=$(source_of "${linux_pkg[$lib]}")
  read -r "src_pkg[$lib]" "src_ver[$lib]" <<<"$sv"
done

compiler="$(x86_64-w64-mingw32-g++-posix -dumpfullversion) $(dpkg-query -W -f='${Version}' \
  g++-mingw-w64-x86-64-posix mingw-w64-x86-64-dev libz-mingw-w64-dev)"
key=$({
  for lib in "${libs[@]}"; do echo "$lib ${src_pkg[$lib]} ${src_ver[$lib]}"; done
  echo "qt-modules $qt_modules"
  echo "compiler $compiler"
  cat "$toolchain"
} | sha256sum | cut -c1-12)
root=$cache/$key
prefix=$root/prefix

# ---- Recipes. Each builds the unpacked source $1 in $build and installs into
# $stage (a DESTDIR), whose files are then copied into $prefix.

cmake_build() {
  local s=$1
  shift
  cmake -S "$s" -B "$build" -G Ninja -DCMAKE_TOOLCHAIN_FILE="$toolchain" \
    -DVOICE_WINDOWS_PREFIX="$prefix" -DCMAKE_INSTALL_PREFIX="$prefix" \
    -DCMAKE_BUILD_TYPE=Release "$@"
  nice -n 10 cmake --build "$build" -j "$jobs"
  DESTDIR=$stage cmake --install "$build"
}

autotools_build() {
  local s=$1
  shift
  cp -a "$s/." "$build/"
  cd "$build"
  if [ ! -x configure ]; then
    if [ -x autogen.sh ]; then ./autogen.sh; else autoreconf -fi; fi
  fi
  ./configure --host=x86_64-w64-mingw32 --prefix="$prefix" --disable-shared --enable-static \
    CC=x86_64-w64-mingw32-gcc-posix CXX=x86_64-w64-mingw32-g++-posix \
    CPPFLAGS="-I$prefix/include" LDFLAGS="-L$prefix/lib" \
    PKG_CONFIG_LIBDIR="$prefix/lib/pkgconfig:/usr/x86_64-w64-mingw32/lib/pkgconfig" "$@"
  nice -n 10 make -j "$jobs"
  make install DESTDIR="$stage"
}

build_jsoncpp() {
  cmake_build "$1" -DBUILD_SHARED_LIBS=OFF -DBUILD_STATIC_LIBS=ON -DBUILD_OBJECT_LIBS=OFF \
    -DJSONCPP_WITH_TESTS=OFF -DJSONCPP_WITH_POST_BUILD_UNITTEST=OFF \
    -DJSONCPP_WITH_PKGCONFIG_SUPPORT=ON -DJSONCPP_WITH_CMAKE_PACKAGE=ON
}

build_tinyxml2() {
  cmake_build "$1" -DBUILD_SHARED_LIBS=OFF -Dtinyxml2_BUILD_TESTING=OFF
}

# Its MinGW config header defines int64_t as a macro over the one MinGW has,
# and in_addr_t (which Winsock lacks) only inside that same block.
build_log4cpp() {
  autotools_build "$1" --disable-doxygen --disable-html-docs \
    CPPFLAGS="-I$prefix/include -DLOG4CPP_HAVE_INT64_T -Din_addr_t=u_long"
}

# The program uses DES-CBC only: no public-key algorithms, so no GMP.
build_nettle() {
  autotools_build "$1" --disable-public-key --disable-documentation --disable-openssl
}

# The web API is plain HTTP: no TLS and no other protocol. zlib is MinGW's.
build_curl() {
  cmake_build "$1" -DBUILD_SHARED_LIBS=OFF -DBUILD_CURL_EXE=OFF -DBUILD_TESTING=OFF \
    -DHTTP_ONLY=ON -DCURL_ENABLE_SSL=OFF -DCURL_USE_LIBSSH2=OFF -DUSE_LIBIDN2=OFF \
    -DCURL_USE_LIBPSL=OFF -DCURL_BROTLI=OFF -DCURL_ZSTD=OFF -DUSE_NGHTTP2=OFF \
    -DENABLE_MANUAL=OFF -DCURL_ZLIB=ON
}

# Audio (WASAPI, DirectSound) and events; the windows are Qt's, but on Windows
# SDL's video part must stay, it holds functions the rest of SDL calls.
build_sdl2() {
  cmake_build "$1" -DSDL_SHARED=OFF -DSDL_STATIC=ON -DSDL_TEST=OFF -DSDL2_DISABLE_SDL2MAIN=ON \
    -DSDL_JOYSTICK=OFF -DSDL_HAPTIC=OFF -DSDL_HIDAPI=OFF \
    -DSDL_SENSOR=OFF -DSDL_WASAPI=ON -DSDL_DIRECTX=ON
}

# The recordings are WAV. For a static library its CMake build installs no
# SDL2_mixer.pc, only its CMake package (SDL2_mixer::SDL2_mixer-static).
build_sdl2_mixer() {
  cmake_build "$1" -DBUILD_SHARED_LIBS=OFF -DSDL2MIXER_VENDORED=OFF -DSDL2MIXER_SAMPLES=OFF \
    -DSDL2MIXER_CMD=OFF -DSDL2MIXER_WAVE=ON -DSDL2MIXER_FLAC=OFF -DSDL2MIXER_MOD=OFF \
    -DSDL2MIXER_MP3=OFF -DSDL2MIXER_MIDI=OFF -DSDL2MIXER_OPUS=OFF -DSDL2MIXER_VORBIS=OFF
}

build_mpg123() {
  autotools_build "$1" --disable-components --enable-libmpg123
}

# Built-in formats (WAV and the other PCM ones) only: no codec libraries.
build_sndfile() {
  cmake_build "$1" -DBUILD_SHARED_LIBS=OFF -DENABLE_EXTERNAL_LIBS=OFF -DENABLE_MPEG=OFF \
    -DBUILD_PROGRAMS=OFF -DBUILD_EXAMPLES=OFF -DBUILD_TESTING=OFF -DBUILD_REGTEST=OFF \
    -DENABLE_CPACK=OFF -DINSTALL_MANPAGES=OFF
}

build_googletest() {
  cmake_build "$1" -DBUILD_SHARED_LIBS=OFF -DBUILD_GMOCK=ON -DINSTALL_GTEST=ON
}

# Qt stays DLLs (LGPL). Its tools (moc, rcc, uic) are those of Debian's Linux
# Qt of the same version.
build_qt() {
  local modules=(-DFEATURE_gui=OFF -DFEATURE_widgets=OFF)
  [ "$qt_modules" = core ] ||
    modules=(-DFEATURE_gui=ON -DFEATURE_widgets=ON -DFEATURE_opengl=OFF -DFEATURE_directwrite3=OFF)
  cmake_build "$1" -DQT_HOST_PATH=/usr -DQT_HOST_PATH_CMAKE_DIR=/usr/lib/x86_64-linux-gnu/cmake \
    -DBUILD_SHARED_LIBS=ON -DQT_BUILD_EXAMPLES=OFF -DQT_BUILD_TESTS=OFF \
    -DFEATURE_testlib=ON -DFEATURE_sql=OFF -DFEATURE_dbus=OFF -DFEATURE_network=OFF \
    -DFEATURE_concurrent=OFF -DFEATURE_xml=OFF -DFEATURE_printsupport=OFF "${modules[@]}"
}

# ---- Stamps

declare -A lib_hash
for lib in "${libs[@]}"; do
  lib_hash[$lib]=$({
    echo "$key ${src_ver[$lib]}"
    declare -f "build_$lib"
    # and the helpers it calls
    declare -f $(declare -f "build_$lib" | grep -o 'cmake_build\|autotools_build' | sort -u)
    for d in ${deps[$lib]:-}; do echo "${lib_hash[$d]}"; done
  } | sha256sum | cut -c1-16)
done
stamps=$root/stamps
current() { [ "$(cat "$stamps/$1" 2>/dev/null)" = "${lib_hash[$1]}" ]; }

if [ $print_prefix -eq 1 ]; then
  for lib in "${libs[@]}"; do
    current "$lib" || die "$prefix lacks a current $lib; run $0 without --print-prefix"
  done
  echo "$prefix"
  exit 0
fi

# ---- Debian sources, fetched through a private apt configuration so the
# system's lists and sources stay as they are.

apt_dir=$cache/apt
apt_opts=(-o "Dir::Etc::SourceList=$apt_dir/sources.list" -o "Dir::Etc::SourceParts=$apt_dir/parts"
  -o "Dir::State::Lists=$apt_dir/lists" -o "Dir::Cache=$apt_dir/cache")
apt_update() {
  mkdir -p "$apt_dir/parts" "$apt_dir/lists/partial" "$apt_dir/cache/archives/partial"
  local k=/usr/share/keyrings/debian-archive-keyring.gpg
  cat >"$apt_dir/sources.list" <<EOF
deb-src [signed-by=$k] http://deb.debian.org/debian bookworm main
deb-src [signed-by=$k] http://deb.debian.org/debian bookworm-updates main
deb-src [signed-by=$k] http://deb.debian.org/debian-security bookworm-security main
EOF
  apt-get "${apt_opts[@]}" -q update >&2 || die "apt-get update of the Debian source lists failed"
}

# Where a mirror no longer holds a source package's files (log4cpp 1.1.3-3.1
# here: its .dsc is served, its tarballs are not), the upstream tarball that
# Debian's pool keeps for the next release is used instead, checked against
# the hash written here; the log says so.
declare -A fallback_url=(
  [log4cpp]=http://deb.debian.org/debian/pool/main/l/log4cpp/log4cpp_1.1.4.orig.tar.gz
)
declare -A fallback_sha256=(
  [log4cpp]=696113659e426540625274a8b251052cc04306d8ee5c42a0c7639f39ca90c9d6
)

# Unpacks SOURCE's fallback tarball into DIR; false when it has none.
fetch_fallback() {
  local url=${fallback_url[$1]:-} tmp=$3
  [ -n "$url" ] || return 1
  log "$1 $2: the mirror lacks its files; using ${url##*/} instead"
  curl -fsSL -o "$tmp/fallback.tar.gz" "$url" || die "could not fetch $url"
  echo "${fallback_sha256[$1]}  $tmp/fallback.tar.gz" | sha256sum -c --quiet - ||
    die "${url##*/} does not have the expected SHA-256"
  mkdir "$tmp/unpacked"
  tar -xzf "$tmp/fallback.tar.gz" -C "$tmp/unpacked" --strip-components=2
}

# Prints the unpacked, Debian-patched source tree of SOURCE at VERSION. apt
# checks each file it fetches against the signed Sources index; a mirror may
# lack only an upstream signature (.asc), which dpkg-source then goes without.
fetch() {
  local dir=$cache/src/$1_$2 tmp=$cache/src/.fetch-$1 files f dsc=""
  if [ ! -d "$dir" ]; then
    rm -rf "$tmp"
    mkdir -p "$tmp"
    cd "$tmp"
    files=$(apt-get "${apt_opts[@]}" -qq --only-source --print-uris source "$1=$2" | awk '{print $2}')
    [ -n "$files" ] || die "apt finds no source package $1=$2"
    apt-get "${apt_opts[@]}" -q --only-source --download-only source "$1=$2" >&2 || true
    local missing=""
    for f in $files; do
      [ -f "$f" ] || [[ $f == *.asc ]] || missing="$missing $f"
      [[ $f != *.dsc ]] || dsc=$f
    done
    if [ -z "$missing" ]; then
      dpkg-source --no-check -x "$dsc" unpacked >&2
      mv unpacked "$dir"
    elif fetch_fallback "$1" "$2" "$tmp" >&2; then
      mv "$tmp/unpacked" "$dir"
    else
      die "could not fetch$missing of the source package $1=$2"
    fi
    cd "$cache"
    rm -rf "$tmp"
  fi
  echo "$dir"
}

# ---- Build what is not current

mkdir -p "$stamps" "$prefix" "$root/logs"
log "prefix $prefix (Qt modules: $qt_modules)"
todo=()
for lib in "${libs[@]}"; do
  if current "$lib"; then
    log "$lib ${src_ver[$lib]}: up to date"
  else
    todo+=("$lib")
  fi
done
[ ${#todo[@]} -eq 0 ] || apt_update
failed=()
for lib in "${todo[@]}"; do
  for d in ${deps[$lib]:-}; do
    if ! current "$d"; then
      log "$lib: not built, it needs $d"
      failed+=("$lib")
      continue 2
    fi
  done
  # Take the files of an earlier build of this library out of the prefix first.
  if [ -f "$stamps/$lib.files" ]; then
    (cd "$prefix" && xargs -d '\n' rm -f <"$stamps/$lib.files")
  fi
  rm -f "$stamps/$lib" "$stamps/$lib.files"
  build=$root/build/$lib stage=$root/stage/$lib
  rm -rf "$build" "$stage"
  mkdir -p "$build" "$stage"
  log "$lib ${src_ver[$lib]}: fetching and building (log: $root/logs/$lib.log)"
  start=$SECONDS
  # In the background rather than in an if, so that set -e stops the recipe at
  # its first failing command.
  (
    s=$(fetch "${src_pkg[$lib]}" "${src_ver[$lib]}")
    "build_$lib" "$s"
  ) >"$root/logs/$lib.log" 2>&1 &
  if ! wait $!; then
    tail -n 30 "$root/logs/$lib.log" >&2
    log "$lib FAILED; the whole log is $root/logs/$lib.log, the build folder $build"
    failed+=("$lib")
    continue
  fi
  [ -d "$stage$prefix" ] || die "$lib installed nothing into $stage$prefix"
  (cd "$stage$prefix" && find . ! -type d) >"$stamps/$lib.files"
  cp -a "$stage$prefix/." "$prefix/"
  rm -rf "$build" "$stage"
  echo "$((SECONDS - start))" >"$stamps/$lib.seconds"
  echo "${lib_hash[$lib]}" >"$stamps/$lib"
  log "$lib ${src_ver[$lib]}: built in $((SECONDS - start)) s"
done
[ ${#failed[@]} -eq 0 ] || die "not built: ${failed[*]}"
echo "$prefix"
