#!/usr/bin/env bash
# Set-up, build, demo and tests in one place.
#   ./dev.sh run    install what is missing, build, start the simulated controller, open the window
#   ./dev.sh test   install what is missing, build, run every test
#   ./dev.sh test --asan   the same under AddressSanitizer + UndefinedBehaviorSanitizer
#   ./dev.sh test --tsan   the serial port component's tests under ThreadSanitizer
#   ./dev.sh fuzz [SECONDS]  every fuzz target for SECONDS each (tools/fuzz)
#   ./dev.sh package   build the .deb (release, no tests) in build-package and check it
# Options (environment): BUILD_DIR (default build, build-asan, build-tsan, build-package),
# R4T8_SANITIZE=asan|tsan (same as the flags), JOBS.
set -euo pipefail
cd "$(dirname "$0")"

# Everything a clean Debian 12 needs (apt-get runs with --no-install-recommends, so nothing
# arrives unasked): tools/fresh-root checks the list on a new root. Qt's xcb platform plugin
# comes with libqt6gui6, a dependency of qt6-base-dev.
BUILD_PACKAGES=(cmake g++ make pkg-config qt6-base-dev qt6-serialport-dev qt6-charts-dev libqt6opengl6-dev
                libgl-dev
                # the port list follows plugging through udev's monitor
                libudev-dev)
PACKAGES=("${BUILD_PACKAGES[@]}" libgtest-dev libgmock-dev libbenchmark-dev fonts-wqy-microhei qt6-translations-l10n
          # workbook readers of the export tests
          python3-xlrd libreoffice-calc-nogui
          # GUI tests on a real X server: input events, window properties, screenshots
          xvfb xauth xdotool x11-utils imagemagick)
# The fuzz targets need clang with its sanitizer runtimes.
FUZZ_PACKAGES=(clang libclang-rt-dev)
# The .deb: dpkg-shlibdeps works out its dependencies, help2man writes the manual pages, and the
# rest check the package and its desktop files.
PACKAGE_TOOLS=(dpkg-dev help2man lintian desktop-file-utils appstream)

# The given packages that are not installed yet.
install_packages() {
    local missing=()
    for p in "$@"; do
        dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
    done
    [ ${#missing[@]} -eq 0 ] && return 0
    echo "Installing: ${missing[*]}"
    local sudo="" start=$SECONDS
    [ "$(id -u)" -ne 0 ] && sudo="sudo"
    $sudo apt-get update -qq
    DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq --no-install-recommends "${missing[@]}"
    echo "Installed in $((SECONDS - start)) s"
}

install_missing() { install_packages "${PACKAGES[@]}" "$@"; }

# What a failed configure could not find (CMake wraps its messages over lines). A missing
# dependency of a found package is the root cause; optional look-ups that failed before the
# first error are no cause at all.
not_found() {
    local all errors pattern what
    all=$(tr -s ' \n' '  ' <"$1")
    errors=$(sed -n '/CMake Error/,$p' "$1" | tr -s ' \n' '  ')
    what=$(grep -o -m1 -E '[A-Za-z0-9_]+ could not be found because [^.]*' <<<"$all" | head -1) ||
        for pattern in 'Could not find a package configuration file provided by "[^"]*"' \
                       'Failed to find required [^.]*' 'Could NOT find [A-Za-z0-9_]+' \
                       '[^.:]*(could not be found|could not find|not found)[^.]*'; do
            what=$(grep -o -i -m1 -E "$pattern" <<<"$errors" | head -1) && break
        done
    echo "${what:-no error text (see the log)}"
}

CONFIGURE_ARGS=()
build() {
    local dir="${BUILD_DIR:-build}"
    [ -n "${R4T8_SANITIZE:-}" ] && dir="${BUILD_DIR:-build-$R4T8_SANITIZE}"
    local log="$dir/configure.log" start=$SECONDS
    mkdir -p "$dir"
    if ! cmake -S . -B "$dir" -DR4T8_SANITIZE="${R4T8_SANITIZE:-}" "${CONFIGURE_ARGS[@]}" \
        >"$log" 2>&1; then
        # CMake's own account, then the one line that matters.
        cat "$log"
        echo "dev.sh: CMake could not configure $dir: $(not_found "$log")." \
             "A package is probably missing from the install list in dev.sh (log: $log)" >&2
        exit 1
    fi
    cmake --build "$dir" -j"${JOBS:-$(nproc)}" "$@"
    echo "Built $dir in $((SECONDS - start)) s"
    BUILT="$dir"
}

# Sanitizer reports fail the test that caused them; Qt's and fontconfig's own allocations
# that live until exit are suppressed, never ours.
# strict_string_checks would also make strndup read to a NUL that a bounded copy need not have
# (xkbcommon's keymap names under the xcb platform); our code has no strndup, so that
# interceptor is off.
sanitizer_env() {
    export ASAN_OPTIONS="detect_leaks=1:abort_on_error=1:strict_string_checks=1:intercept_strndup=0:detect_stack_use_after_return=1:${ASAN_OPTIONS:-}"
    export LSAN_OPTIONS="suppressions=$PWD/tests/sanitizer/lsan.supp:print_suppressions=0:${LSAN_OPTIONS:-}"
    export UBSAN_OPTIONS="print_stacktrace=1:halt_on_error=1:${UBSAN_OPTIONS:-}"
    export TSAN_OPTIONS="halt_on_error=1:second_deadlock_stack=1:${TSAN_OPTIONS:-}"
}

case "${1:-}" in
run)
    install_missing
    build
    sim_log="$BUILT/r4t8-sim.log"
    link="/tmp/r4t8-sim-$(id -u)"
    # A configured controller at a plausible site (r4t8-sim --help: --demo); without --demo
    # the simulator plays a blank controller.
    "$BUILT/tools/sim/r4t8-sim" --link "$link" --demo 2>"$sim_log" </dev/zero > "$BUILT/r4t8-sim.out" &
    sim=$!
    trap 'kill $sim 2>/dev/null || true' EXIT
    for _ in $(seq 50); do [ -e "$link" ] && break; sleep 0.1; done
    echo "Simulated controller on $link (password 5807); its log: $sim_log"
    "$BUILT/ui/r4t8-config" --port "$link"
    ;;
test)
    case "${2:-}" in
    --asan) R4T8_SANITIZE=asan ;;
    --tsan) R4T8_SANITIZE=tsan ;;
    "") ;;
    *) echo "usage: $0 test [--asan|--tsan]" >&2; exit 2 ;;
    esac
    install_missing
    export QT_QPA_PLATFORM=offscreen
    ctest_args=()
    if [ "${R4T8_SANITIZE:-}" = tsan ]; then
        # Only the serial port component runs threads of its own.
        build --target test_serial test_port_binding
        ctest_args=(-L serial)
    else
        build
    fi
    [ -n "${R4T8_SANITIZE:-}" ] && sanitizer_env
    (cd "$BUILT" && ctest --output-on-failure --no-tests=error -j"${JOBS:-$(nproc)}" --timeout 600 "${ctest_args[@]}")
    echo "Test output (screenshots, exported files): $BUILT/test-output"
    ;;
fuzz)
    install_missing "${FUZZ_PACKAGES[@]}"
    tools/fuzz "${2:-30}"
    ;;
package)
    install_packages "${BUILD_PACKAGES[@]}" "${PACKAGE_TOOLS[@]}"
    BUILD_DIR="${BUILD_DIR:-build-package}"
    # Debian's own compiler and linker flags (-O2 and hardening), without debug information:
    # the package's programs are stripped. CMake's -O3 stays out: GCC 12 warns falsely there.
    export DEB_BUILD_MAINT_OPTIONS=hardening=+all
    cxxflags="$(dpkg-buildflags --get CPPFLAGS) $(dpkg-buildflags --get CXXFLAGS)"
    CONFIGURE_ARGS=(-DCMAKE_BUILD_TYPE=Release -DCMAKE_CXX_FLAGS_RELEASE=-DNDEBUG
                    -DR4T8_BUILD_TESTS=OFF -DR4T8_BUILD_BENCH=OFF -DCMAKE_INSTALL_PREFIX=/usr
                    -DCMAKE_CXX_FLAGS="${cxxflags//-g /}"
                    -DCMAKE_EXE_LINKER_FLAGS="$(dpkg-buildflags --get LDFLAGS)")
    build --target package
    packaging/check-deb "$BUILT"/r4t8config_*.deb
    ;;
*)
    echo "usage: $0 run|test [--asan|--tsan]|fuzz [SECONDS]|package" >&2
    exit 2
    ;;
esac
