#!/usr/bin/env bash
# tools/check-layers against small trees: each case is a set of files and whether the check
# must pass; a failing case must name the offending file.
set -euo pipefail
check="$1"
work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT
failures=0

# case NAME EXPECT(pass|fail) FILE=CONTENT...
run_case() {
    local name="$1" expect="$2"
    shift 2
    local tree="$work/$name"
    mkdir -p "$tree"
    local spec path
    for spec in "$@"; do
        path="${spec%%=*}"
        mkdir -p "$tree/$(dirname "$path")"
        printf '%b\n' "${spec#*=}" >"$tree/$path"
    done
    local status=0
    "$check" "$tree" >"$tree.out" 2>&1 || status=$?
    if [ "$expect" = pass ] && [ "$status" -ne 0 ]; then
        echo "FAIL $name: expected to pass"; cat "$tree.out"; failures=$((failures + 1))
    elif [ "$expect" != pass ] && { [ "$status" -eq 0 ] || ! grep -q "$expect" "$tree.out"; }; then
        echo "FAIL $name: expected a failure naming $expect"; cat "$tree.out"
        failures=$((failures + 1))
    fi
}

run_case down pass 'protocol/Frame.h=#pragma once' 'config/Codec.h=#include "protocol/Frame.h"' \
    'ui/window/W.cpp=#include "config/Codec.h"\n#include <QWidget>'
run_case beside pass 'protocol/Frame.h=#pragma once' 'protocol/Frame.cpp=#include "Frame.h"'
run_case up 'protocol/Link.h:2' 'config/Codec.h=#pragma once' \
    'protocol/Link.h=#pragma once\n#include "config/Codec.h"'
run_case up-beside-a-subfolder 'serial/linux/Port.cpp' 'protocol/Port.h=#pragma once' \
    'serial/linux/Port.cpp=#include "protocol/Port.h"'
run_case front-ends-apart 'tools/ctl/Main.cpp' 'ui/window/Window.h=#pragma once' \
    'tools/ctl/Main.cpp=#include "ui/window/Window.h"'
run_case simulator-uses-protocol-only 'tools/sim/Main.cpp' 'protocol/Frame.h=#pragma once' \
    'config/Codec.h=#pragma once' \
    'tools/sim/Main.cpp=#include "protocol/Frame.h"\n#include "config/Codec.h"'
run_case tests-use-everything pass 'ui/window/Window.h=#pragma once' \
    'tests/gui/test.cpp=#include "ui/window/Window.h"'
run_case widgets-outside-the-window 'operations/CMakeLists.txt' \
    'operations/CMakeLists.txt=target_link_libraries(ops PRIVATE Qt6::Core Qt6::Widgets)'
run_case unknown-header-ignored pass 'config/Codec.cpp=#include "generated_version.h"'

[ "$failures" -eq 0 ] && echo "check-layers: every case as expected"
exit "$failures"
