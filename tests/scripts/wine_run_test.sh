#!/usr/bin/env bash
# scripts/wine-run with stand-ins for wine's loader and server: a start that
# wine itself fails is tried again, a run of the program is passed on as it
# is, whatever its status.
set -euo pipefail
wine_run=$(cd "$(dirname "$0")/../../scripts" && pwd)/wine-run
scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT
failures=0

# The loader stand-in plays the runs of a script, one line per run: status,
# then what goes to standard output and standard error ("-" for nothing),
# and optionally what a death test's capture file in the prefix's temporary
# folder receives.
cat >"$scratch/loader" <<'LOADER'
#!/usr/bin/env bash
[ "$1" = wineboot.exe ] && exit 0
n=$(($(cat "$PLAY/count" 2>/dev/null || echo 0) + 1))
echo $n >"$PLAY/count"
IFS='|' read -r status out err capture < <(sed -n "${n}p" "$PLAY/script")
[ "$out" != - ] && printf '%s\n' "$out"
[ "$err" != - ] && printf '%s\n' "$err" >&2
if [ -n "$capture" ]; then
  temp=$WINEPREFIX/drive_c/users/tester/${CAPTURE_TEMP:-AppData/Local/Temp}
  mkdir -p "$temp"
  printf '%s\n' "$capture" >"$temp/gte$RANDOM.tmp"
fi
exit "$status"
LOADER
printf '#!/bin/sh\nexit 0\n' >"$scratch/server"
chmod +x "$scratch/loader" "$scratch/server"

# check NAME SCRIPT EXPECTED_STATUS EXPECTED_OUT EXPECTED_RUNS EXPECTED_ERR_PATTERN [UNWANTED_ERR_PATTERN]
# (an empty pattern: nothing on standard error)
check() {
  local name=$1 script=$2 want_status=$3 want_out=$4 want_runs=$5 want_err=$6 unwanted_err=${7:-}
  local play=$scratch/$name
  mkdir -p "$play"
  printf '%b' "$script" >"$play/script"
  local status=0 out
  out=$(PLAY=$play WINE_RUN_LOADER=$scratch/loader WINE_RUN_SERVER=$scratch/server \
    "$wine_run" "$scratch/wine" program.exe 2>"$play/err") || status=$?
  local runs
  runs=$(cat "$play/count")
  if [ "$status" != "$want_status" ] || [ "$out" != "$want_out" ] || [ "$runs" != "$want_runs" ] ||
    { [ -z "$want_err" ] && [ -s "$play/err" ]; } || { [ -n "$want_err" ] && ! grep -Eq "$want_err" "$play/err"; } ||
    { [ -n "$unwanted_err" ] && grep -Eq "$unwanted_err" "$play/err"; }; then
    echo "FAILED $name: status $status (want $want_status), out '$out' (want '$want_out')," \
      "runs $runs (want $want_runs), err '$(cat "$play/err")' (want /$want_err/)"
    failures=$((failures + 1))
  else
    echo "ok $name"
  fi
}

reset='wine client error:0: recvmsg: Connection reset by peer'
check runs_once_when_the_program_succeeds '0|hello|-\n' 0 hello 1 ''
check a_failing_program_that_wrote_is_not_run_again '1|FAILED one test|-\n0|hello|-\n' 1 'FAILED one test' 1 ''
check a_program_error_on_standard_error_is_not_run_again '3|-|assertion failed\n0|hello|-\n' 3 '' 1 'assertion failed'
check a_lost_server_connection_is_tried_again "1|-|$reset\n0|hello|-\n" 0 hello 2 'trying again'
check a_refused_server_connection_is_tried_again \
  "1|-|wine: a wine server seems to be running, but I cannot connect to it.\n0|hello|-\n" 0 hello 2 'trying again'
check a_silent_failed_start_is_tried_again '1|-|-\n1|-|-\n0|hello|-\n' 0 hello 3 'trying again'
check three_failed_starts_end_with_the_last_status_and_say_so \
  "1|-|$reset\n1|-|$reset\n5|-|-\n0|hello|-\n" 5 '' 3 'wrote nothing'

# A death test whose child wine could not start: the parent stops with
# status 3, its message in the capture file, which is shown, and the
# program is tried again, whether it wrote or not (its output of that
# attempt is dropped). Another death test's capture, or a capture file
# older than the run, starts nothing again.
check_failed='CHECK failed: File ..\\\\gtest-death-test.cc, line 762: CreateProcessA( executable_path'
check a_silent_status_3_shows_the_death_test_capture_and_is_tried_again \
  "3|-|-|$check_failed\n0|hello|-\n" 0 hello 2 'capture file, drive_c/users/tester/AppData/Local/Temp/gte[0-9]+[.]tmp, holds:'
# Older wine versions keep the temporary folder in the user's folder itself.
export CAPTURE_TEMP=Temp
check a_death_test_child_not_started_after_output_is_tried_again \
  "3|[ RUN      ] dies|-|$check_failed\n0|hello|-\n" 0 hello 2 'wine-run:   CHECK failed: .*CreateProcessA'
check three_death_test_children_not_started_end_with_status_3 \
  "3|[ RUN      ] dies|-|$check_failed\n3|[ RUN      ] dies|-|$check_failed\n3|[ RUN      ] dies|-|$check_failed\n0|hello|-\n" \
  3 '[ RUN      ] dies' 3 'CreateProcessA'
check another_death_test_capture_is_shown_and_not_tried_again \
  "3|[ RUN      ] dies|-|Death test: exit(1)\n0|hello|-\n" 3 '[ RUN      ] dies' 1 'wine-run:   Death test: exit[(]1[)]'
unset CAPTURE_TEMP
old_capture=$scratch/wine/prefix/drive_c/users/tester/AppData/Local/Temp/gte-old.tmp
printf 'from an earlier run\n' >"$old_capture"
touch -d '1 hour ago' "$old_capture"
check a_capture_file_older_than_the_run_is_not_shown '3|[ RUN      ] dies|-\n' 3 '[ RUN      ] dies' 1 ''
check a_status_3_with_its_own_message_shows_no_capture "3|-|abnormal program termination|$check_failed\n" 3 '' 1 \
  '^abnormal program termination$' 'capture|CHECK failed'
exit $((failures > 0))
