# Shared by the front-door scripts: package installation and the build.
# shellcheck shell=bash

BUILD_PACKAGES="cmake ninja-build g++ qtbase5-dev libqt5websockets5-dev libqt5serialport5-dev libcups2-dev"
# A private CUPS scheduler with PDF queues (tools/private-cups.sh), and glyphs for the
# Traditional Chinese that documents print.
PRINT_PACKAGES="cups cups-client cups-ipp-utils printer-driver-cups-pdf fonts-noto-cjk"
# The Debian package: CPack finds the libraries' packages with dpkg-shlibdeps, which needs file.
PACKAGE_PACKAGES="dpkg-dev file"
# The package's test installs it and checks it.
PACKAGE_TEST_PACKAGES="$PACKAGE_PACKAGES lintian desktop-file-utils python3-websocket iproute2"
# The Windows program: the cross compiler for 32-bit Windows (with POSIX threads, for
# <thread>) and NSIS for its installer. Its tests run it on Wine (32-bit, so the i386
# architecture), whose printing reaches CUPS through the 32-bit libcups, with a display.
WINDOWS_BUILD_PACKAGES="cmake ninja-build g++-mingw-w64-i686-posix nsis"
# Authenticode signing of its programs and installer (tools/build-windows.sh --sign).
WINDOWS_SIGN_PACKAGES="osslsigncode"
WINDOWS_TEST_PACKAGES="$WINDOWS_BUILD_PACKAGES $WINDOWS_SIGN_PACKAGES openssl $PRINT_PACKAGES fonts-arphic-uming wine wine32:i386 libcups2:i386 xvfb python3-websocket poppler-utils iproute2"
# The printing tests also read the PDFs; the demo page's test drives a real browser.
TEST_PACKAGES="$PRINT_PACKAGES poppler-utils chromium chromium-driver python3-selenium"
# The sanitized build of the tests: clang, the sanitizers' runtime, and lld, which links a
# sanitized test program in a third of the time ld takes.
SANITIZED_BUILD_PACKAGES="clang libclang-rt-14-dev lld"
# The fuzzing harnesses: clang with libFuzzer and the sanitizers' runtime, llvm-symbolizer for
# readable reports, and the fonts whose text the documents lay out.
FUZZ_PACKAGES="clang libclang-rt-14-dev llvm-14 fonts-noto-cjk"

# The client library's type check runs TypeScript from npm on Node.js. Machines that bring
# their own Node.js keep it; Debian's is installed only where there is no npm at all.
ensure_npm() {
    command -v npm >/dev/null || ensure_packages nodejs npm
}

run_as_root() {
    if [ "$(id -u)" -eq 0 ]; then "$@"; else sudo "$@"; fi
}

# Wine for 32-bit programs comes from Debian's i386 architecture.
ensure_i386_architecture() {
    dpkg --print-foreign-architectures | grep -qx i386 && return 0
    run_as_root dpkg --add-architecture i386
    run_as_root apt-get update -qq
}

# is_listed LINE TEXT: whether LINE is one of TEXT's lines.
is_listed() {
    case $'\n'"$2"$'\n' in *$'\n'"$1"$'\n'*) return 0 ;; esac
    return 1
}

# Installs whichever of the given Debian packages are missing, without the packages they
# only recommend unless the first argument is --with-recommends.
ensure_packages() {
    local missing="" recommends="--no-install-recommends"
    if [ "${1:-}" = --with-recommends ]; then
        recommends=""
        shift
    fi
    # One query for all: each installed package as NAME:ARCHITECTURE, one a line.
    local installed native
    installed="$(dpkg-query -W -f='${Status} ${Package}:${Architecture}\n' "$@" 2>/dev/null |
        sed -n 's/^install ok installed //p')" || true
    native="$(dpkg --print-architecture)"
    for package in "$@"; do
        case "$package" in
            *:*) is_listed "$package" "$installed" ;;
            *) is_listed "$package:$native" "$installed" || is_listed "$package:all" "$installed" ;;
        esac || missing="$missing $package"
    done
    [ -z "$missing" ] && return 0
    echo "Installing:$missing"
    run_as_root apt-get update -qq
    # shellcheck disable=SC2086
    run_as_root env DEBIAN_FRONTEND=noninteractive apt-get install -y -qq $recommends $missing
}

# New build folders use Ninja, which starts less work than Make for the same targets; a folder
# configured before keeps its generator.
export CMAKE_GENERATOR="${CMAKE_GENERATOR:-Ninja}"

# build_in BUILD_DIR [cmake --build arguments...]: a job per core. Compilers, linkers and moc
# allocate in many small steps, and glibc's malloc on transparent huge pages spares them most
# of their page faults, which virtual machines make dear: clang then takes about a tenth less
# processor time.
build_in() {
    local dir="$1"
    shift
    GLIBC_TUNABLES="glibc.malloc.hugetlb=1${GLIBC_TUNABLES:+:$GLIBC_TUNABLES}" \
        cmake --build "$dir" -j "$(nproc)" "$@"
}

# configure_and_build BUILD_DIR BUILD_TYPE [extra cmake arguments...]
configure_and_build() {
    local dir="$1" type="$2"
    shift 2
    cmake -S "$ROOT" -B "$dir" -DCMAKE_BUILD_TYPE="$type" "$@"
    build_in "$dir"
}
