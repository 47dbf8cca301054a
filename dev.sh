#!/usr/bin/env bash
# Set-up, build, demo and tests in one place.
#   ./dev.sh run    install what is missing, build, start the simulated controller, open the window
#   ./dev.sh test   install what is missing, build, run every test
#   ./dev.sh test --asan   the same under AddressSanitizer + UndefinedBehaviorSanitizer
#   ./dev.sh test --tsan   the serial port component's tests under ThreadSanitizer
#   ./dev.sh fuzz [SECONDS]  every fuzz target for SECONDS each (tools/fuzz)
# Options (environment): BUILD_DIR (default build, build-asan, build-tsan),
# R4T8_SANITIZE=asan|tsan (same as the flags), JOBS.
set -euo pipefail
cd "$(dirname "$0")"

PACKAGES=(cmake g++ make pkg-config qt6-base-dev qt6-serialport-dev qt6-charts-dev libqt6opengl6-dev libgl-dev
          libgtest-dev libgmock-dev libbenchmark-dev fonts-wqy-microhei python3-xlrd)
# The fuzz targets need clang with its sanitizer runtimes.
FUZZ_PACKAGES=(clang libclang-rt-dev)

install_missing() {
    local missing=()
    for p in "${PACKAGES[@]}" "$@"; do
        dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
    done
    [ ${#missing[@]} -eq 0 ] && return 0
    echo "Installing: ${missing[*]}"
    local sudo=""
    [ "$(id -u)" -ne 0 ] && sudo="sudo"
    $sudo apt-get update -qq
    DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq --no-install-recommends "${missing[@]}"
}

build() {
    local dir="${BUILD_DIR:-build}"
    [ -n "${R4T8_SANITIZE:-}" ] && dir="${BUILD_DIR:-build-$R4T8_SANITIZE}"
    cmake -S . -B "$dir" -DR4T8_SANITIZE="${R4T8_SANITIZE:-}" >/dev/null
    cmake --build "$dir" -j"${JOBS:-$(nproc)}" "$@"
    BUILT="$dir"
}

# Sanitizer reports fail the test that caused them; Qt's and fontconfig's own allocations
# that live until exit are suppressed, never ours.
sanitizer_env() {
    export ASAN_OPTIONS="detect_leaks=1:abort_on_error=1:strict_string_checks=1:detect_stack_use_after_return=1:${ASAN_OPTIONS:-}"
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
        build --target test_serial
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
*)
    echo "usage: $0 run|test [--asan|--tsan]|fuzz [SECONDS]" >&2
    exit 2
    ;;
esac
