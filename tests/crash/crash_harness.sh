#!/usr/bin/env bash
# Crash harness: cuts quillfort runs short at random moments, by a power cut or a kill,
# and checks that every target then holds its old content or its complete new content,
# and that nothing else is left behind.
#
# Usage: crash_harness.sh QUILLFORT [SCENARIO...]   (root; default: every scenario)
# Environment:
#   CRASH_CUTS    cut points per scenario and round (default 32: about a minute in all)
#   CRASH_RM_CUTS cut points for the scenarios with --rm, each cut followed by a run
#                 started again (default 8)
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
#                              partial or lost target (shows that the cuts land inside
#                              runs and that the rules see the fault)
#                    removes_sources  a run that removes each source once its output is
#                              complete: sources=(...) pairs each target with its source.
#                              After a cut each pair must have its source unchanged or
#                              its output complete (or both), never neither. Each cut is
#                              followed by the same command, uncut, which must finish the
#                              rest: every output complete, every source gone, no file
#                              transformed twice (an output that is its expected output
#                              transformed once more, or a .quillforted.quillforted name)
#   needs="..."    options the program's --help must name for the scenario to run; the
#                  scenario is skipped (not failed) without them (may be empty)
# and add NAME to the scenarios list below. Expected contents come from running the
# same command once on a copy outside the filesystem. A new invariant is a new word in
# checks and a rule in check_cut.
# shellcheck disable=SC2317 # the scenarios and the trap are called by name
set -uo pipefail

scenarios=(serial parallel batch new_batch sync_batch control rm_batch rm_tree rm_control)
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
rm_cuts=${CRASH_RM_CUTS:-8}
[[ $rm_cuts =~ ^[0-9]+$ ]] && ((rm_cuts >= 2)) || fatal "CRASH_RM_CUTS must be a number of at least 2"
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

# --rm over a batch from several folders into one that holds older versions of half
# of the outputs: a source may go only once its output is complete, and the same
# command started again finishes the rest (the sources already gone are reported
# missing then).
scenario_rm_batch() {
  mkdir -p "$1/camera/2023" "$1/camera/2024" "$1/notes" "$1/vault"
  local name i=0
  sources=() targets=()
  for name in ledger.csv camera/2023/beach.jpg camera/2023/dunes.jpg camera/2024/harbour.jpg \
    camera/2024/snow.jpg notes/plan.txt notes/todo.txt; do
    fill "$1/$name" $((++i * 190000))
    sources+=("$name")
    targets+=("vault/${name##*/}.quillforted")
    ((i % 2)) && fill "$1/${targets[-1]}" $((i * 150000))
  done
  run=("$quillfort" encrypt --rm -p "$password" -i "${sources[@]}" -o vault/)
  checks="removes_sources"
  needs="--rm"
}

# -r --rm over two small trees of mixed sizes, each with one file for the parallel
# engine: photos mirrored into vault/ by -o, docs encrypted beside its files. An
# encrypted file already in docs is no source and stays as it is.
scenario_rm_tree() {
  local entry name
  sources=() targets=()
  for entry in photos/2023/beach.jpg:25000000 photos/2023/dunes.jpg:700000 \
    photos/2023/raw/dunes.cr2:1900000 photos/2024/harbour.jpg:65537 photos/2024/snow.jpg:1 \
    photos/index.txt:0 photos/2024/winter/ice.jpg:4096 \
    docs/taxes.pdf:1200000 docs/2024/q1.ods:300000 docs/2024/q2.ods:25000001 docs/2024/notes.txt:4095 \
    docs/letters/aunt.odt:90000 docs/letters/bank.odt:2500000; do
    name=${entry%:*}
    mkdir -p "$1/${name%/*}"
    fill "$1/$name" "${entry##*:}"
    sources+=("$name")
    if [[ $name == photos/* ]]; then targets+=("vault/$name.quillforted"); else targets+=("$name.quillforted"); fi
  done
  mkdir "$1/vault"
  fill "$1/docs/letters/old.odt.quillforted" 50000
  # The second tree is done even when the first run fails, and the status is the first failure's.
  run=(bash -c '"$0" encrypt -r --rm -p "$1" -i photos -o vault; first=$?
    "$0" encrypt -r --rm -p "$1" -i docs || exit; exit $first' "$quillfort" "$password")
  checks="removes_sources"
  needs="--rm --recursive"
}

# Not quillfort: a remover that moves each source away, durably, before its output is
# written. The harness must catch it losing a file, or the rule proves nothing.
scenario_rm_control() {
  mkdir "$1/in" "$1/out" && mkdir -p "$work/hold"
  local i
  sources=() targets=()
  for i in 1 2 3 4; do
    fill "$1/in/memo$i.txt" 200000
    sources+=("in/memo$i.txt")
    targets+=("out/memo$i.txt.quillforted")
  done
  run=(bash -c 'hold=$0 program=$1 password=$2; shift 2
    for source; do
      mv "$source" "$hold/" && sync -f in && sleep 0.05 &&
        "$program" encrypt -q -p "$password" -i "$hold/${source##*/}" -o out/ || exit
      rm "$hold/${source##*/}"
    done' "$work/hold" "$quillfort" "$password" "${sources[@]}")
  checks="removes_sources control"
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

# The largest scenarios need their sources, old targets and new ones side by side:
# rm_tree holds two trees of 28 MB and their outputs at the end of the run.
truncate -s 256M "$image" || fatal "cannot make the image in $work"
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
  local -A is_target=() is_source=() was_reported=()
  local target state name problems=0 line i
  local removes=0
  [[ " $checks " == *" removes_sources "* ]] && removes=1
  while IFS= read -r line; do was_reported[$line]=1; done <"$reported"
  for ((i = 0; i < ${#targets[@]}; i++)); do
    target=${targets[i]}
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
    # A removed source must have left its complete output behind; one still there must
    # be as it was.
    if ((removes)); then
      local source=${sources[i]}
      is_source[$source]=1
      if [ ! -e "$now/$source" ]; then
        if [ "$state" = new ]; then
          ((tally_removed++))
        elif [ "$state" != partial ]; then
          state=lost
        fi
      elif ! cmp -s "$now/$source" "$before/$source"; then
        ((problems++))
        problem "$source: a source changed"
      fi
    fi
    case $state in
      old) ((tally_old++)) ;;
      new) ((tally_new++)) ;;
      empty) ((tally_empty++)) ;;
      lost)
        ((tally_lost++, problems++))
        if ((removes)); then
          problem "$target: neither it nor its source ${sources[i]} is there, the file is lost"
        else
          problem "$target: gone, the old file is lost"
        fi
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
  # Every other name is a source or a folder of the run, unchanged, a folder the
  # finished run has too, or a leftover.
  while IFS= read -r name; do
    [ -n "${is_target[$name]:-}" ] || [ -n "${is_source[$name]:-}" ] && continue
    if [ -d "$now/$name" ] && { [ -d "$before/$name" ] || [ -d "$after/$name" ]; }; then continue; fi
    if [ -e "$before/$name" ]; then
      cmp -s "$before/$name" "$now/$name" || {
        ((problems++))
        problem "$name: a source changed"
      }
    elif complete_hidden_copy "$name" "$after" "$now"; then
      ((tally_instant++))
    else
      ((tally_leftover++, problems++))
      problem "$name: left over ($(stat -c %s "$now/$name") bytes)"
    fi
  done < <(find "$now" -mindepth 1 -printf '%P\n' | sort)
  while IFS= read -r name; do
    [ -n "${is_target[$name]:-}" ] || [ -n "${is_source[$name]:-}" ] || [ -e "$now/$name" ] && continue
    [ -d "$before/$name" ] && [ ! -e "$after/$name" ] && continue
    ((problems++))
    problem "$name: a source is gone"
  done < <(find "$before" -mindepth 1 -printf '%P\n')
  ((problems == 0))
}

# NAME is the hidden name an existing target passes through on its way into place
# (".target.XXXXXX" beside it), holding the complete new file: a cut in the instant
# between the link and the rename leaves it. Nothing of the old or new file is lost.
complete_hidden_copy() {
  local name=$1 after=$2 now=$3 target folder base
  folder=$(dirname "$name")
  base=$(basename "$name")
  for target in "${targets[@]}"; do
    [ "$(dirname "$target")" = "$folder" ] || continue
    [[ $base =~ ^\.(.+)\.[A-Za-z0-9]{6}$ ]] && [ "${BASH_REMATCH[1]}" = "$(basename "$target")" ] || continue
    cmp -s "$now/$name" "$after/$target" && return 0
  done
  return 1
}

# Checks a folder after the command, started again after a cut, has finished: NOW must
# be AFTER, every output complete and every source gone, and no file transformed twice
# (an output that is its expected output transformed once more, TWICE, or a name with
# the suffix twice). Adds up in tally_twice; prints each problem; fails when there was one.
check_rerun() {
  local after=$1 now=$2 twice=$3
  local -A known=()
  local i target name problems=0
  for ((i = 0; i < ${#targets[@]}; i++)); do
    target=${targets[i]}
    known[$target]=1 known[${sources[i]}]=1
    if [ -e "$now/${sources[i]}" ]; then
      ((problems++))
      problem "after the run again: ${sources[i]} is still there"
    fi
    if [ ! -e "$now/$target" ]; then
      ((problems++))
      problem "after the run again: $target is missing"
    elif cmp -s "$now/$target" "$after/$target"; then
      :
    elif cmp -s "$now/$target" "$twice/$target"; then
      ((tally_twice++, problems++))
      problem "after the run again: $target is transformed twice"
    else
      ((problems++))
      problem "after the run again: $target is neither its output nor twice that ($(stat -c %s "$now/$target") bytes)"
    fi
  done
  while IFS= read -r name; do
    [ -n "${known[$name]:-}" ] && continue
    if [[ $name == *.quillforted.quillforted ]]; then
      ((tally_twice++, problems++))
      problem "after the run again: $name is a file transformed twice"
    elif [ -d "$now/$name" ] && [ -d "$after/$name" ]; then
      :
    elif [ -f "$after/$name" ] && cmp -s "$now/$name" "$after/$name"; then
      :
    elif complete_hidden_copy "$name" "$after" "$now"; then
      : # left by the cut, counted there
    else
      ((problems++))
      problem "after the run again: $name is left over or changed"
    fi
  done < <(find "$now" -mindepth 1 -printf '%P\n' | sort)
  while IFS= read -r name; do
    [ -n "${known[$name]:-}" ] || [ -e "$now/$name" ] || {
      ((problems++))
      problem "after the run again: $name is gone"
    }
  done < <(find "$after" -mindepth 1 -printf '%P\n')
  ((problems == 0))
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

# The options of NEEDS that the program's --help does not name.
missing_options() {
  local help option
  help=$("$quillfort" --help 2>&1)
  for option in $1; do
    grep -q -e "$option\b" <<<"$help" || echo "$option"
  done
}

summary_row() {
  printf '%-16s %-14s %4s %4s %4s %5s %5s %5s %7s %4s %8s %8s %7s %7s %6s %5s %6s  %s' "$@"
}

run_scenario() {
  local run=() targets=() sources=() checks="" needs=""
  pristine=$work/$scenario.before
  local expected=$work/$scenario.after twice=$work/$scenario.twice out=$work/stdout reported=$work/reported
  # Made in the first round, the same in the next.
  if [ ! -d "$pristine" ]; then
    mkdir "$pristine" && "scenario_$scenario" "$pristine"
    declare -p run targets sources checks needs >"$work/$scenario.vars"
    local missing
    missing=$(missing_options "$needs")
    if [ -n "$missing" ]; then
      summary+=("$(summary_row "$round" "$scenario" - - - - - - - - - - - - - - - \
        "skipped: --help names no ${missing//$'\n'/ }")")
      rm -rf "$pristine"
      return
    fi
    cp -a "$pristine" "$expected"
    (cd "$expected" && "${run[@]}") </dev/null >"$out" 2>&1 ||
      fatal "$scenario: the run failed outside the filesystem: $(cat "$out")"
    if [[ " $checks " == *" removes_sources "* ]] && [[ " $checks " != *" control "* ]]; then
      # Each expected output transformed once more, to recognize a file done twice.
      local target
      for target in "${targets[@]}"; do
        mkdir -p "$twice/$(dirname "$target")"
        "$quillfort" encrypt -q -p "$password" -i "$expected/$target" -o "$twice/$target" </dev/null ||
          fatal "$scenario: cannot encrypt $target once more"
      done
      for target in "${sources[@]}"; do
        [ -e "$expected/$target" ] && fatal "$scenario: the run outside the filesystem left its source $target"
      done
    fi
  else
    # shellcheck source=/dev/null
    source "$work/$scenario.vars"
    [ -d "$expected" ] || {
      summary+=("$(summary_row "$round" "$scenario" - - - - - - - - - - - - - - - "skipped, as in the first round")")
      return
    }
  fi

  local cuts=$cuts rerun=0
  if [[ " $checks " == *" removes_sources "* ]]; then
    cuts=$rm_cuts
    [[ " $checks " == *" control "* ]] || rerun=1
  fi
  tally_old=0 tally_new=0 tally_empty=0 tally_partial=0 tally_lost=0 tally_unsynced=0 tally_leftover=0
  tally_instant=0 tally_removed=0 tally_twice=0
  local failed=0 shutdowns=0 kills=0 reruns=0 start end
  quiet=0 heading_shown=""
  [[ " $checks " == *" control "* ]] && quiet=1

  # Uncut, to time it: the delays spread over the run's length and past its end. It
  # must also finish every target in the filesystem, or the cuts would test nothing.
  restore
  local code=0
  start=$(microseconds)
  (cd "$mnt/s" && exec "${run[@]}") </dev/null >"$out" 2>&1 || code=$?
  end=$(microseconds)
  duration_ms=$(((end - start) / 1000)) cut=uncut
  reported_targets "$out" >"$reported"
  remount || fatal "cannot mount again"
  check_cut "$pristine" "$expected" "$mnt/s" "$reported" || ((failed++))
  if ((code != 0 || tally_new != ${#targets[@]})); then
    problem "exit status $code, $tally_new of ${#targets[@]} targets complete: $(tail -n 3 "$out")"
    ((failed++))
  fi
  tally_old=0 tally_new=0 tally_empty=0 tally_partial=0 tally_lost=0 tally_unsynced=0 tally_leftover=0
  tally_instant=0 tally_removed=0
  local span=$(((end - start) * 5 / 4))

  local delay faulty
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
    delay_ms=$((delay / 1000)) heading_shown="" faulty=0
    # A third of the cuts kill the program alone; the one past the end never does.
    if ((cut % 3 == 1 && cut < cuts - 1)); then how=SIGKILL; else how=shutdown; fi

    # A process group of its own, to kill whatever the command started too.
    (cd "$mnt/s" && exec setsid "${run[@]}") </dev/null >"$out" 2>&1 &
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
    check_cut "$pristine" "$expected" "$mnt/s" "$reported" || faulty=1
    # The same command again, uncut, on what the cut left: it must finish the rest.
    if ((rerun)); then
      code=0
      (cd "$mnt/s" && exec "${run[@]}") </dev/null >"$out" 2>&1 || code=$?
      ((reruns++))
      check_rerun "$expected" "$mnt/s" "$twice" || {
        faulty=1
        problem "the run again ended with status $code: $(tail -n 2 "$out" | tr '\n' ' ')"
      }
    fi
    ((failed += faulty))
  done
  rm -rf "$mnt/s"

  local note=""
  if ((quiet)); then
    if ((cuts < 6)); then
      note="control: too few cuts to judge"
      failed=0
    elif ((tally_partial + tally_lost > 0)); then
      note="control: caught, as it must be"
      failed=0
    else
      note="control: NEVER CAUGHT, the cuts miss the runs"
      failed=1
    fi
  fi
  ((failed > 0)) && status=1
  local removed=- rerun_column=- twice_column=-
  [[ " $checks " == *" removes_sources "* ]] && removed=$tally_removed
  ((rerun)) && rerun_column=$reruns twice_column=$tally_twice
  summary+=("$(summary_row "$round" "$scenario" "$cuts" "$shutdowns" "$kills" "$tally_old" "$tally_new" \
    "$tally_empty" "$tally_partial" "$tally_lost" "$tally_unsynced" "$tally_leftover" "$tally_instant" "$removed" \
    "$rerun_column" "$twice_column" "$failed" "$note")")
}

# ---- Rounds ------------------------------------------------------------------------

status=0
summary=()
began=$(microseconds)
echo "crash harness: seed $seed, $cuts cuts per scenario ($rm_cuts with --rm), rounds: ${rounds[*]}"
for round in "${rounds[@]}"; do
  options=$(round_options "$round")
  new_filesystem || fatal "cannot mount with $options"
  for scenario in "${scenarios[@]}"; do
    run_scenario
  done
done

echo
echo "Outcomes per round and scenario (old, new, empty, partial, lost: targets over all cuts,"
echo "where old is also a new target still absent and lost an old file or a removed source"
echo "gone without its output; unsynced: reported but not complete; leftover: other names;"
echo "instant: a complete new file left under the hidden name a replacement passes through"
echo "for an instant; removed: sources gone, their outputs complete; reruns: runs started"
echo "again after a cut; twice: files these transformed twice; failed: cuts with a fault)"
summary_row round scenario cuts shut kill old new empty partial lost unsynced leftover instant \
  removed reruns twice failed
echo
printf '%s\n' "${summary[@]}"
echo "took $((($(microseconds) - began) / 1000000)) s; seed $seed (CRASH_SEED repeats the delays)"
exit "$status"
