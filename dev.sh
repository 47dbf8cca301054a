#!/usr/bin/env bash
# Set-up, build, demo and tests in one place.
#   ./dev.sh run    install what is missing, build, start the simulated controller, open the window
#   ./dev.sh test   install what is missing, build, run every test
# Options (environment): BUILD_DIR (default build), R4T8_SANITIZE=asan|tsan, JOBS.
set -euo pipefail
cd "$(dirname "$0")"

PACKAGES=(cmake g++ make pkg-config qt6-base-dev qt6-serialport-dev qt6-charts-dev libgl-dev
          libgtest-dev libgmock-dev libbenchmark-dev fonts-wqy-microhei python3-xlrd)

install_missing() {
    local missing=()
    for p in "${PACKAGES[@]}"; do
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
    cmake -S . -B "$dir" -DR4T8_SANITIZE="${R4T8_SANITIZE:-}" "$@" >/dev/null
    cmake --build "$dir" -j"${JOBS:-$(nproc)}"
    BUILT="$dir"
}

case "${1:-}" in
run)
    install_missing
    build
    sim_log="$BUILT/r4t8-sim.log"
    link="/tmp/r4t8-sim-$(id -u)"
    "$BUILT/tools/sim/r4t8-sim" --link "$link" --generate-history 2>"$sim_log" </dev/zero > "$BUILT/r4t8-sim.out" &
    sim=$!
    trap 'kill $sim 2>/dev/null || true' EXIT
    for _ in $(seq 50); do [ -e "$link" ] && break; sleep 0.1; done
    echo "Simulated controller on $link (password 5807); its log: $sim_log"
    "$BUILT/ui/r4t8-config" --port "$link"
    ;;
test)
    install_missing
    build
    export QT_QPA_PLATFORM=offscreen
    (cd "$BUILT" && ctest --output-on-failure -j"${JOBS:-$(nproc)}" --timeout 600)
    echo "Test output (screenshots, exported files): $BUILT/test-output"
    ;;
*)
    echo "usage: $0 run|test" >&2
    exit 2
    ;;
esac
