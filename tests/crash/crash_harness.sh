#!/usr/bin/env bash
# Crash harness: cuts quillfort runs short at random moments, by a power cut or a kill,
# and checks that every target then holds its old content or its complete new content,
# and that nothing else is left behind.
#
# Usage: crash_harness.sh QUILLFORT [SCENARIO...]   (root; default: every scenario)
# Environment:
#   CRASH_CUTS    cut points per scenario and round (default 32: about a minute in all)
#   CRASH_SEED    seed of the random delays, to repeat a run (default: printed)
#   CRASH_ROUNDS  mount option sets by name (default: "default noauto_da_alloc")
# Exit status: 0 every invariant held, 1 one failed, 2 the harness could not do its
# work, 77 this machine cannot run it (the reason is printed).
#
# It makes a small ext4 filesystem on a loop device, inside a private mount namespace.
# For each round (a set of mount options) and scenario it runs the program once
# uncut to time it, then once per cut point: after a random delay it either shuts the
# filesystem down without flushing its journal (xfs_io shutdown, which is how a power
# cut leaves it) and kills the program, or only kills the program with SIGKILL. It then
# unmounts, mounts again (the journal replays) and checks the scenario's folder.
#
# Adding a scenario: write a function scenario_NAME that takes an empty folder, fills
# it with the sources and the old versions of the targets, and sets
#   run=(...)      the command, started inside that folder ("$quillfort" and arguments)
#   targets=(...)  the paths, relative to the folder, of the files the run writes
#   checks="..."   extra invariants, by word (may be empty):
#                    reported  a target the run reported before the cut is complete
#                    new_may_be_empty  a target that did not exist before may be
#                              empty after a power cut (counted apart), never partial
#                    control   an unsafe writer: the round fails unless a cut catches a
#                              partial target (shows that the cuts land inside runs)
# and add NAME to the scenarios list below. Expected contents come from running the
# same command once on a copy outside the filesystem. A new invariant (for a run that
# removes its sources, say: a source may be gone only when its target is complete) is
# a new word in checks and a rule in check_cut.
# shellcheck disable=SC2317 # the scenarios and the trap are called by name
set -uo pipefail

scenarios=(serial parallel batch new_batch sync_batch control)
password='crash harness'

skip() {
  echo "SKIPPED: $*"
  exit 77
}
fatal() {
  echo "crash harness: $*" >&2
  exit 2
}

[ $# -ge 1 ] || fatal "usage: $0 QUILLFORT [SCENARIO...]"
quillfort=$(realpath "$1") || fatal "no program at $1"
shift
[ -x "$quillfort" ] || fatal "$quillfort is not executable"
(($#)) && scenarios=("$@")

# Mounting needs root and a mount namespace of its own, so that nothing stays mounted
# on the machine if the harness dies.
[ "$(id -u)" -eq 0 ] || skip "the crash harness needs root (mount, loop devices)"
for tool in unshare setsid losetup mkfs.ext4 mount umount xfs_io cmp; do
  command -v "$tool" >/dev/null || skip "$tool is missing (scripts/install-deps installs it)"
done
if [ -z "${QUILLFORT_CRASH_NAMESPACE:-}" ]; then
  unshare -m --propagation private true 2>/dev/null || skip "unshare -m refused: no private mount namespace"
  QUILLFORT_CRASH_NAMESPACE=1 exec unshare -m --propagation private bash "$0" "$quillfort" "${scenarios[@]}"
fi

cuts=${CRASH_CUTS:-32}
[[ $cuts =~ ^[0-9]+$ ]] && ((cuts >= 2)) || fatal "CRASH_CUTS must be a number of at least 2"
seed=${CRASH_SEED:-$((($(date +%s%N) / 1000) % 32768))}
RANDOM=$seed
# Mount options of round NAME.
round_options() {
  case $1 in
    default) echo "" ;;
    noauto_da_alloc) echo "-o noauto_da_alloc" ;;
    *) return 1 ;;
  esac
}
read -ra rounds <<<"${CRASH_ROUNDS:-default noauto_da_alloc}"
for round in "${rounds[@]}"; do
  round_options "$round" >/dev/null || fatal "no round named $round"
done

# ---- Scenarios ---------------------------------------------------------------------

# Random bytes: fill FILE BYTES.
fill() { head -c "$2" /dev/urandom >"$1"; }

# One serial-size file replaced through -o with a file name.
scenario_serial() {
  fill "$1/notes.txt" 3000000
  fill "$1/notes.txt.quillforted" 2600000
  run=("$quillfort" encrypt -p "$password" -i notes.txt -o notes.txt.quillforted)
  targets=(notes.txt.quillforted)
  checks=""
}

# One parallel-size file (25,000,000 bytes or more) decrypted over an older plain file.
scenario_parallel() {
  fill "$1/backup.tar.quillforted" 27000000
  fill "$1/backup.tar" 26000000
  run=("$quillfort" decrypt -p "$password" -i backup.tar.quillforted -o backup.tar)
  targets=(backup.tar)
  checks=""
}

# A batch into a folder that holds older versions of every target.
scenario_batch() {
  mkdir "$1/in" "$1/out"
  local i inputs=()
  run=("$quillfort" encrypt -p "$password" -i)
  targets=()
  for i in 1 2 3 4 5 6; do
    fill "$1/in/photo$i.jpg" $((i * 230000))
    fill "$1/out/photo$i.jpg.quillforted" $((i * 170000))
    inputs+=("in/photo$i.jpg")
    targets+=("out/photo$i.jpg.quillforted")
  done
  run+=("${inputs[@]}" -o out/)
  checks=""
}

# New targets without --sync: after a power cut each may be missing or empty (the
# data of a new file is not waited for), but never a part of the file.
scenario_new_batch() {
  mkdir "$1/in" "$1/out"
  local i inputs=()
  run=("$quillfort" encrypt -p "$password" -i)
  targets=()
  for i in 1 2 3 4 5 6; do
    fill "$1/in/scan$i.png" $((i * 230000))
    inputs+=("in/scan$i.png")
    targets+=("out/scan$i.png.quillforted")
  done
  run+=("${inputs[@]}" -o out/)
  checks="new_may_be_empty"
}

# The same with --sync, and half of the targets new: what was reported is durable.
scenario_sync_batch() {
  mkdir "$1/in" "$1/out"
  local i inputs=()
  run=("$quillfort" encrypt --sync -p "$password" -i)
  targets=()
  for i in 1 2 3 4 5 6; do
    fill "$1/in/page$i.txt" $((i * 230000))
    ((i % 2)) && fill "$1/out/page$i.txt.quillforted" $((i * 170000))
    inputs+=("in/page$i.txt")
    targets+=("out/page$i.txt.quillforted")
  done
  run+=("${inputs[@]}" -o out/)
  checks="reported"
}

# Not quillfort: a writer that overwrites its target in place, in steps. The harness
# must catch it leaving a partial file, or its cuts prove nothing.
scenario_control() {
  fill "$1/new.bin" 2000000
  fill "$1/old.bin" 2000000
  run=(bash -c 'for i in 0 1 2 3 4 5 6 7; do
      dd if=new.bin of=old.bin bs=250000 skip=$i seek=$i count=1 conv=notrunc status=none
      sleep 0.02
    done')
  targets=(old.bin)
  checks="control"
}

for name in "${scenarios[@]}"; do
  declare -F "scenario_$name" >/dev/null || fatal "no scenario named $name"
done

# ---- The filesystem ----------------------------------------------------------------

work=$(mktemp -d "${TMPDIR:-/tmp}/quillfort-crash.XXXXXX") || fatal "no temporary folder"
image=$work/ext4.img
mnt=$work/mnt
loop=""
pid=""
mkdir "$mnt"

# Kills the run in the background with everything it started, and waits until all of
# it is gone, so that the filesystem can be unmounted.
stop_run() {
  kill -9 -- "-$pid" 2>/dev/null
  wait "$pid" 2>/dev/null
  local tries
  for ((tries = 0; tries < 500; tries++)); do
    kill -0 -- "-$pid" 2>/dev/null || break
    sleep 0.01
  done
  pid=""
}

cleanup() {
  [ -n "$pid" ] && stop_run
  if mountpoint -q "$mnt"; then umount "$mnt" || umount -l "$mnt"; fi
  [ -n "$loop" ] && losetup -d "$loop"
  mountpoint -q "$mnt" || rm -rf "$work"
}
trap cleanup EXIT
trap 'exit 130' INT
trap 'exit 143' TERM
trap 'exit 129' HUP

# The largest scenario needs its source, its old target and the new one side by side.
truncate -s 128M "$image" || fatal "cannot make the image in $work"
loop=$(losetup --find --show "$image" 2>/dev/null) || skip "no loop device could be attached"

new_filesystem() {
  mountpoint -q "$mnt" && umount "$mnt"
  mkfs.ext4 -q -F -b 4096 -E lazy_itable_init=0,lazy_journal_init=0 "$loop" || fatal "mkfs.ext4 failed"
  # shellcheck disable=SC2086 # options are words
  mount -t ext4 $options "$loop" "$mnt" 2>/dev/null
}

remount() {
  umount "$mnt" || fatal "cannot unmount $mnt"
  # shellcheck disable=SC2086
  mount -t ext4 $options "$loop" "$mnt"
}

options=""
new_filesystem || skip "mounting an ext4 filesystem on $loop was refused"
xfs_io -x -c shutdown "$mnt" 2>/dev/null && ! touch "$mnt/probe" 2>/dev/null ||
  skip "xfs_io could not shut down an ext4 filesystem here"
remount || fatal "ext4 would not mount again after a shutdown"

# ---- One scenario ------------------------------------------------------------------

# Checks a folder after a cut: NOW against BEFORE (the folder as the run found it) and
# AFTER (the finished run), with the targets listed as reported in REPORTED. Adds up
# outcomes in the tally_* variables; prints each problem; fails when there was one.
check_cut() {
  local before=$1 after=$2 now=$3 reported=$4
  local -A is_target=() was_reported=()
  local target state name problems=0 line
  while IFS= read -r line; do was_reported[$line]=1; done <"$reported"
  for target in "${targets[@]}"; do
    is_target[$target]=1
    if [ ! -e "$now/$target" ]; then
      if [ -e "$before/$target" ]; then state=lost; else state=old; fi
    elif cmp -s "$now/$target" "$after/$target"; then
      state=new
    elif [ -e "$before/$target" ] && cmp -s "$now/$target" "$before/$target"; then
      state=old
    elif [[ " $checks " == *" new_may_be_empty "* ]] && [ ! -e "$before/$target" ] && [ ! -s "$now/$target" ]; then
      state=empty
    else
      state=partial
    fi
    case $state in
      old) ((tally_old++)) ;;
      new) ((tally_new++)) ;;
      empty) ((tally_empty++)) ;;
      lost)
        ((tally_partial++, problems++))
        problem "$target: gone, the old file is lost"
        ;;
      partial)
        ((tally_partial++, problems++))
        problem "$target: partial ($(stat -c %s "$now/$target") bytes, neither old nor new)"
        ;;
    esac
    if [[ " $checks " == *" reported "* ]] && [ -n "${was_reported[$target]:-}" ] && [ "$state" != new ]; then
      ((tally_unsynced++, problems++))
      local shown=$state
      [ -e "$now/$target" ] || shown=absent
      problem "$target: reported before the cut, but $shown"
    fi
  done
  # Every other name is a source or a folder of the run, unchanged, or a leftover.
  while IFS= read -r name; do
    [ -n "${is_target[$name]:-}" ] && continue
    if [ -d "$before/$name" ] && [ -d "$now/$name" ]; then continue; fi
    if [ -e "$before/$name" ]; then
      cmp -s "$before/$name" "$now/$name" || {
        ((problems++))
        problem "$name: a source changed"
      }
    elif complete_hidden_copy "$name" "$after"; then
      ((tally_instant++))
    else
      ((tally_leftover++, problems++))
      problem "$name: left over ($(stat -c %s "$now/$name") bytes)"
    fi
  done < <(find "$now" -mindepth 1 -printf '%P\n' | sort)
  while IFS= read -r name; do
    [ -n "${is_target[$name]:-}" ] || [ -e "$now/$name" ] || {
      ((problems++))
      problem "$name: a source is gone"
    }
  done < <(find "$before" -mindepth 1 -printf '%P\n')
  ((problems == 0))
}

# NAME is the hidden name an existing target passes through on its way into place
# (".target.XXXXXX" beside it), holding the complete new file: a cut in the instant
# between the link and the rename leaves it. Nothing of the old or new file is lost.
complete_hidden_copy() {
  local name=$1 after=$2 target folder base
  folder=$(dirname "$name")
  base=$(basename "$name")
  for target in "${targets[@]}"; do
    [ "$(dirname "$target")" = "$folder" ] || continue
    [[ $base =~ ^\.(.+)\.[A-Za-z0-9]{6}$ ]] && [ "${BASH_REMATCH[1]}" = "$(basename "$target")" ] || continue
    cmp -s "$now/$name" "$after/$target" && return 0
  done
  return 1
}

# Prints one problem of the current cut, under a heading for the cut.
problem() {
  ((quiet)) && return
  if [ -z "$heading_shown" ] && [ "$cut" = uncut ]; then
    echo "  $round/$scenario, the uncut run (${duration_ms} ms):"
  elif [ -z "$heading_shown" ]; then
    echo "  $round/$scenario cut $cut ($how at ${delay_ms} ms of ${duration_ms} ms):"
  fi
  heading_shown=1
  echo "    $*"
}

# The files a run reported as done, from its standard output.
reported_targets() {
  awk '/^output file:/ { name = substr($0, 13); sub(/^\.\//, "", name) }
       /^effective speed:/ && name != "" { print name; name = "" }' "$1"
}

# Puts the scenario's folder back as the run finds it, durably.
restore() {
  rm -rf "$mnt/s"
  cp -a "$pristine" "$mnt/s" && sync -f "$mnt/s" || fatal "cannot restore $mnt/s"
}

microseconds() { echo "${EPOCHREALTIME/./}"; }

run_scenario() {
  local run=() targets=() checks=""
  pristine=$work/$scenario.before
  local expected=$work/$scenario.after out=$work/stdout reported=$work/reported
  # Made in the first round, the same in the next.
  if [ ! -d "$pristine" ]; then
    mkdir "$pristine" && "scenario_$scenario" "$pristine"
    declare -p run targets checks >"$work/$scenario.vars"
    cp -a "$pristine" "$expected"
    (cd "$expected" && "${run[@]}") >"$out" 2>&1 || fatal "$scenario: the run failed outside the filesystem: $(cat "$out")"
  else
    # shellcheck source=/dev/null
    source "$work/$scenario.vars"
  fi

  tally_old=0 tally_new=0 tally_empty=0 tally_partial=0 tally_unsynced=0 tally_leftover=0 tally_instant=0
  local failed=0 shutdowns=0 kills=0 start end
  quiet=0 heading_shown=""
  [[ " $checks " == *" control "* ]] && quiet=1

  # Uncut, to time it: the delays spread over the run's length and past its end. It
  # must also finish every target in the filesystem, or the cuts would test nothing.
  restore
  local code=0
  start=$(microseconds)
  (cd "$mnt/s" && exec "${run[@]}") >"$out" 2>&1 || code=$?
  end=$(microseconds)
  duration_ms=$(((end - start) / 1000)) cut=uncut
  reported_targets "$out" >"$reported"
  remount || fatal "cannot mount again"
  check_cut "$pristine" "$expected" "$mnt/s" "$reported" || ((failed++))
  if ((code != 0 || tally_new != ${#targets[@]})); then
    problem "exit status $code, $tally_new of ${#targets[@]} targets complete: $(tail -n 3 "$out")"
    ((failed++))
  fi
  tally_old=0 tally_new=0 tally_empty=0 tally_partial=0 tally_unsynced=0 tally_leftover=0 tally_instant=0
  local span=$(((end - start) * 5 / 4))

  local delay
  for ((cut = 0; cut < cuts; cut++)); do
    restore
    if ((cut == 0)); then
      delay=0
    elif ((cut == cuts - 1)); then
      delay=$(((end - start) * 2 + 50000))
    else
      local low=$((span * (cut - 1) / (cuts - 2))) high=$((span * cut / (cuts - 2)))
      delay=$((low + ((RANDOM << 15 | RANDOM) % (high - low + 1))))
    fi
    delay_ms=$((delay / 1000)) heading_shown=""
    # A third of the cuts kill the program alone; the one past the end never does.
    if ((cut % 3 == 1 && cut < cuts - 1)); then how=SIGKILL; else how=shutdown; fi

    # A process group of its own, to kill whatever the command started too.
    (cd "$mnt/s" && exec setsid "${run[@]}") >"$out" 2>&1 &
    pid=$!
    ((delay > 0)) && sleep "$(printf '%d.%06d' $((delay / 1000000)) $((delay % 1000000)))"
    if [ "$how" = shutdown ]; then
      xfs_io -x -c shutdown "$mnt" || fatal "xfs_io shutdown failed"
      ((shutdowns++))
    else
      ((kills++))
    fi
    stop_run
    reported_targets "$out" >"$reported"
    if ! remount; then
      echo "  $round/$scenario cut $cut ($how at ${delay_ms} ms): the filesystem would not mount again"
      ((failed++))
      new_filesystem || fatal "cannot make the filesystem again"
      continue
    fi
    check_cut "$pristine" "$expected" "$mnt/s" "$reported" || ((failed++))
  done
  rm -rf "$mnt/s"

  local note=""
  if ((quiet)); then
    if ((cuts < 6)); then
      note="control: too few cuts to judge"
      failed=0
    elif ((tally_partial > 0)); then
      note="control: caught, as it must be"
      failed=0
    else
      note="control: NEVER CAUGHT, the cuts miss the runs"
      failed=1
    fi
  fi
  ((failed > 0)) && status=1
  summary+=("$(printf '%-16s %-11s %5d %5d %5d %5d %5d %5d %7d %8d %8d %7d %6d  %s' "$round" "$scenario" \
    "$cuts" "$shutdowns" "$kills" "$tally_old" "$tally_new" "$tally_empty" "$tally_partial" "$tally_unsynced" \
    "$tally_leftover" "$tally_instant" "$failed" "$note")")
}

# ---- Rounds ------------------------------------------------------------------------

status=0
summary=()
began=$(microseconds)
echo "crash harness: seed $seed, $cuts cuts per scenario, rounds: ${rounds[*]}"
for round in "${rounds[@]}"; do
  options=$(round_options "$round")
  new_filesystem || fatal "cannot mount with $options"
  for scenario in "${scenarios[@]}"; do
    run_scenario
  done
done

echo
echo "Outcomes per round and scenario (old, new, empty, partial: targets over all cuts, where"
echo "old is also a new target still absent; unsynced: reported but not complete; leftover:"
echo "other names; instant: a complete new file left under the hidden name a replacement"
echo "passes through for an instant; failed: cuts with a fault)"
printf '%-16s %-11s %5s %5s %5s %5s %5s %5s %7s %8s %8s %7s %6s\n' round scenario cuts shut kill old new \
  empty partial unsynced leftover instant failed
printf '%s\n' "${summary[@]}"
echo "took $((($(microseconds) - began) / 1000000)) s; seed $seed (CRASH_SEED repeats the delays)"
exit "$status"
