#!/usr/bin/env bash
# Builds the libraries PelorixSvc.exe links statically for its protected connections, from
# Debian's own source packages with the mingw-w64 cross compiler: mbedTLS (the crypto under
# libssh2: libssh2's Windows CNG backend cannot complete a key exchange under Wine), libssh2
# and libcurl with Schannel (so Windows' certificate store and its updates serve) for FTP, FTPS,
# HTTP, HTTPS and SFTP only.
#
#   windows-deps.sh [DIRECTORY]      default build/windows-deps of the source tree
#
# The result lands in DIRECTORY/root (include/, lib/). A stamp file names the versions built; as
# long as Debian offers the same versions the script does nothing. The sources come through
# "apt-get source" with an apt configuration of its own under DIRECTORY/apt, so the machine's
# apt set-up stays untouched.
set -euo pipefail
top=$(cd "$(dirname "$(readlink -f "$0")")/.." && pwd)
deps=$(mkdir -p "${1:-$top/build/windows-deps}" && cd "${1:-$top/build/windows-deps}" && pwd)
root=$deps/root
stamp=$root/versions
jobs=${PELORIX_JOBS:-2}
toolchain=$top/cmake/mingw-w64-x86_64.cmake
# Source package and the binary package whose candidate version names it in the machine's
# own package lists (source and binary versions are the same in Debian).
sources=(mbedtls:libmbedtls-dev libssh2:libssh2-1 curl:libcurl4)

# The recipe counts as a version too: a change to this script builds anew.
recipe=$(sha256sum "$0" | cut -c1-16)

wanted_versions() {
    local entry binary version
    echo "recipe $recipe"
    for entry in "${sources[@]}"; do
        binary=${entry#*:}
        version=$(apt-cache policy "$binary" 2>/dev/null | sed -n 's/^ *Candidate: //p')
        echo "${entry%%:*} ${version:-unknown}"
    done
}

wanted=$(wanted_versions)
# The stamp holds the versions Debian offered at the last build, then the ones built.
if [ -f "$stamp" ] && [ "$(grep -v '^built ' "$stamp")" = "$wanted" ]; then
    exit 0
fi
started=$SECONDS
echo "Baue die Windows-Bibliotheken nach $root"

# A private apt configuration with deb-src lines for the mirrors the machine already uses.
apt_dir=$deps/apt
mkdir -p "$apt_dir/lists/partial" "$apt_dir/cache/archives/partial"
mirror_uris() {
    {
        sed -n 's/^URIs: *//p' /etc/apt/sources.list.d/*.sources 2>/dev/null | tr ' ' '\n'
        awk '$1 == "deb" { for (i = 2; i <= NF; i++) if ($i !~ /^\[/) { print $i; break } }' \
            /etc/apt/sources.list /etc/apt/sources.list.d/*.list 2>/dev/null
    } | sed 's:/*$::' | sort -u
}
uri=$(mirror_uris | grep -E '/debian$' | head -n1 || true)
uri=${uri:-http://deb.debian.org/debian}
security_uri=$(mirror_uris | grep -E '/debian-security$' | head -n1 || true)
security_uri=${security_uri:-${uri}-security}
{
    echo "deb-src $uri bookworm main"
    echo "deb-src $uri bookworm-updates main"
    echo "deb-src $security_uri bookworm-security main"
} >"$apt_dir/sources.list"
apt_options=(
    -o "Dir::Etc::sourcelist=$apt_dir/sources.list" -o "Dir::Etc::sourceparts=-"
    -o "Dir::State::Lists=$apt_dir/lists" -o "Dir::Cache=$apt_dir/cache"
    -qq
)
# As root apt hands downloads to its own user, which may not write here.
if [ "$(id -u)" = 0 ]; then apt_options+=(-o "APT::Sandbox::User=root"); fi
apt-get "${apt_options[@]}" update

src=$deps/src
rm -rf "$src" "$root"
mkdir -p "$src" "$root"
# The wanted version first, else the newest the mirrors hand out (a security mirror may lag).
fetch() { # fetch PACKAGE VERSION
    local version
    for version in "$2" $(apt-cache "${apt_options[@]}" showsrc "$1" | sed -n 's/^Version: //p' | sort -rVu); do
        if (cd "$src" && apt-get "${apt_options[@]}" source "$1=$version" >/dev/null 2>&1); then
            built_versions+=("built $1 $version")
            return 0
        fi
    done
    echo "Quellpaket $1 nicht erhältlich" >&2
    return 1
}
built_versions=()
source_dir() { # source_dir PACKAGE: the unpacked sources
    fetch "$1" "$(sed -n "s/^$1 //p" <<<"$wanted")"
    source_path=$(find "$src" -maxdepth 1 -type d -name "$1-[0-9]*" | head -n1)
}

cmake_build() { # cmake_build SOURCE BUILD [OPTION...]
    local source=$1 build=$2
    shift 2
    cmake -S "$source" -B "$build" -G Ninja -Wno-dev --log-level=WARNING \
        -DCMAKE_TOOLCHAIN_FILE="$toolchain" -DCMAKE_BUILD_TYPE=Release \
        -DCMAKE_INSTALL_PREFIX="$root" \
        -DBUILD_SHARED_LIBS=OFF "$@" >/dev/null
    cmake --build "$build" -j "$jobs" >/dev/null
    cmake --install "$build" >/dev/null
}

source_dir mbedtls
cmake_build "$source_path" "$src/build-mbedtls" \
    -DENABLE_TESTING=OFF -DENABLE_PROGRAMS=OFF -DUSE_STATIC_MBEDTLS_LIBRARY=ON \
    -DUSE_SHARED_MBEDTLS_LIBRARY=OFF -DMBEDTLS_FATAL_WARNINGS=OFF

source_dir libssh2
cmake_build "$source_path" "$src/build-libssh2" \
    -DCRYPTO_BACKEND=mbedTLS -DENABLE_ZLIB_COMPRESSION=OFF -DBUILD_EXAMPLES=OFF -DBUILD_TESTING=OFF \
    -DMBEDTLS_INCLUDE_DIR="$root/include" -DMBEDTLS_LIBRARY="$root/lib/libmbedtls.a" \
    -DMBEDX509_LIBRARY="$root/lib/libmbedx509.a" -DMBEDCRYPTO_LIBRARY="$root/lib/libmbedcrypto.a"

source_dir curl
disabled=()
for protocol in DICT FILE GOPHER IMAP LDAP LDAPS MQTT POP3 RTSP SMB SMTP TELNET TFTP; do
    disabled+=("-DCURL_DISABLE_$protocol=ON")
done
cmake_build "$source_path" "$src/build-curl" \
    -DCURL_USE_SCHANNEL=ON -DCURL_USE_OPENSSL=OFF -DCURL_USE_LIBSSH2=ON -DCURL_USE_LIBSSH=OFF \
    -DLIBSSH2_INCLUDE_DIR="$root/include" -DLIBSSH2_LIBRARY="$root/lib/libssh2.a" \
    -DCMAKE_REQUIRED_LIBRARIES="$root/lib/libmbedx509.a;$root/lib/libmbedcrypto.a;bcrypt;ws2_32" \
    -DCURL_ZLIB=OFF -DCURL_BROTLI=OFF -DCURL_ZSTD=OFF -DUSE_NGHTTP2=OFF -DUSE_LIBIDN2=OFF \
    -DCURL_USE_LIBPSL=OFF -DENABLE_UNIX_SOCKETS=OFF -DCURL_DISABLE_ALTSVC=ON \
    -DCURL_DISABLE_COOKIES=ON -DCURL_DISABLE_NTLM=ON -DBUILD_CURL_EXE=OFF -DBUILD_TESTING=OFF \
    -DCURL_STATICLIB=ON -DENABLE_MANUAL=OFF "${disabled[@]}"

rm -rf "$src"
printf '%s\n' "$wanted" "${built_versions[@]}" >"$stamp"
echo "Windows-Bibliotheken gebaut in $((SECONDS - started)) s: ${built_versions[*]#built }"
