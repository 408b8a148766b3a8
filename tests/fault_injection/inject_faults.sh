#!/usr/bin/env bash
# Fails, one at a time, every call of a run that writes, syncs, links, renames or
# closes (and the opens on the output side), with strace's fault injection, and
# checks what each run leaves behind:
#   - the exit status is 0 or 1: no crash, no signal, no hang;
#   - status 0: every target holds exactly its new content;
#   - status 1: an existing target holds its old content or the whole new one, and a
#     new target is absent or whole (standard output may fail after a commit);
#   - no other file is left in the output folder (no temporary, nothing partial), and
#     the sources are as they were.
# The new content is what the same command writes without injection: the cipher gives
# the same bytes for the same input and password.
#
# Usage: inject_faults.sh PATH-TO-QUILLFORT
set -uo pipefail
shopt -s nullglob dotglob # globs list hidden names too, and nothing for an empty folder

program=$(realpath "${1:?usage: inject_faults.sh PATH-TO-QUILLFORT}")
if ! command -v strace >/dev/null; then
  echo "strace is missing: the fault injection needs it" >&2
  exit 1
fi

# Errors each call can meet on a real system. EOPNOTSUPP for openat is what a
# filesystem without O_TMPFILE answers; EEXIST for linkat, a name taken meanwhile.
declare -A errnos=(
  [write]="EIO ENOSPC EDQUOT" [pwrite64]="EIO ENOSPC EDQUOT" [writev]="EIO ENOSPC"
  [fsync]="EIO ENOSPC" [fdatasync]="EIO ENOSPC" [sync_file_range]="EIO"
  [ftruncate]="EIO EFBIG" [fallocate]="ENOSPC EDQUOT EOPNOTSUPP"
  [linkat]="ENOSPC EDQUOT EPERM EACCES EXDEV EEXIST" [link]="ENOSPC EDQUOT EPERM EACCES EXDEV EEXIST"
  [renameat2]="EACCES EPERM ENOSPC EIO" [renameat]="EACCES EPERM ENOSPC EIO" [rename]="EACCES EPERM ENOSPC EIO"
  [unlink]="EIO EACCES" [unlinkat]="EIO EACCES"
  [close]="EIO ENOSPC" [fchmod]="EPERM EIO" [fchown]="EPERM" [utimensat]="EPERM EACCES"
  [openat]="ENOSPC EDQUOT EACCES EMFILE EOPNOTSUPP"
)
syscalls=(write pwrite64 writev fsync fdatasync sync_file_range ftruncate fallocate linkat link
  renameat2 renameat rename unlink unlinkat close fchmod fchown utimensat openat)
traced=$(
  IFS=,
  echo "${syscalls[*]}"
)

# Each scenario runs inside the work folder, reading in/ and writing out/. Its targets
# follow the command; a leading * marks a target that exists before the run.
scenarios=(
  "serial-replace|encrypt -p pw -i in/small -o out/small.quillforted|*out/small.quillforted"
  "serial-new|decrypt -p pw -i in/small.quillforted -o out/|out/small"
  "parallel-replace|decrypt -p pw -i in/big.quillforted -o out/big|*out/big"
  "batch|encrypt -p pw -i in/a in/b in/c -o out|out/a.quillforted *out/b.quillforted out/c.quillforted"
  "sync-batch|encrypt --sync -p pw -i in/a in/b -o out|out/a.quillforted *out/b.quillforted"
)

scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT
scratch=$(cd -P "$scratch" && pwd)
work=$scratch/work
mkdir -p "$work/in" "$scratch/pristine" "$scratch/old" "$scratch/expected"

# Sources: serial sizes (c spans two of the serial engine's blocks) and a sparse file
# for the parallel engine.
head -c 200000 /dev/urandom >"$work/in/small"
head -c 200000 /dev/urandom >"$work/in/small.quillforted"
truncate -s 26000000 "$work/in/big.quillforted"
printf 'a few bytes' | dd of="$work/in/big.quillforted" bs=1 seek=13000000 conv=notrunc status=none
head -c 1000 /dev/urandom >"$work/in/a"
head -c 70000 /dev/urandom >"$work/in/b"
head -c 300000 /dev/urandom >"$work/in/c"
cp --sparse=always "$work/in/"* "$scratch/pristine/"
# The names in a folder, one a line.
names_in() {
  local path
  for path in "$1"/*; do echo "${path##*/}"; done
}
sources=$(names_in "$work/in")

# Puts out/ back as it is before a scenario's run: only its existing targets, old content.
reset_output() {
  local target
  rm -rf "$work/out"
  mkdir "$work/out"
  for target in "${targets[@]}"; do
    [[ $target == \** ]] && cp "$scratch/old/${target##*/}" "$work/${target#\*}"
  done
}

# Prints every way the targets break the invariants after a run with this status.
check_targets() {
  local status=$1 target name existing content
  for target in "${targets[@]}"; do
    existing=0
    [[ $target == \** ]] && existing=1
    name=${target#\*}
    if [ ! -e "$work/$name" ]; then
      if ((status == 0)); then
        echo "$name is missing though the run succeeded"
      elif ((existing)); then
        echo "$name, which existed, is gone"
      fi
      continue
    fi
    cmp -s "$work/$name" "$scratch/expected/$scenario/$name" && continue
    content="is neither the old content nor the whole new one"
    ((status == 0)) && content="is not the whole new content though the run succeeded"
    if ((existing)) && cmp -s "$work/$name" "$scratch/old/${name##*/}"; then
      ((status == 0)) || continue
      content="still has its old content though the run succeeded"
    fi
    echo "$name $content ($(stat -c %s "$work/$name") bytes)"
  done
}

# Prints every file that should not be there, and every change to the sources.
check_folders() {
  local path name
  for path in "$work/out"/*; do
    [[ " ${targets[*]//\*/} " == *" out/${path##*/} "* ]] || echo "out/${path##*/} is left behind ($(stat -c %s "$path") bytes)"
  done
  [ "$(names_in "$work/in")" = "$sources" ] || echo "the source folder changed: $(names_in "$work/in" | tr '\n' ' ')"
  for name in $sources; do
    cmp -s "$work/in/$name" "$scratch/pristine/$name" || echo "source in/$name changed"
  done
}

# What a failed run printed beyond the usual report lines.
messages() {
  grep -v -E '^(ENCRYPTING|DECRYPTING|input file: |output file:|encryption speed:|effective speed:|will write to: )' "$1" || true
}

# "SYSCALL N" for every call of the traced run that a fault goes into. N counts the
# calls of that syscall made by one thread, as strace's when= does, so a syscall that
# several threads make is failed at every N up to all of its calls: one thread may
# make them all. The dynamic loader's opens and closes of shared libraries are left
# alone (a failure there ends the process before main, with the loader's own status
# 127): openat counts only in the output folder, close only on the work folder's files.
call_sites() {
  awk -v folder="$work" '
    match($0, /^[0-9]+ +[a-z0-9_]+\(/) {
      name = $2
      sub(/\(.*/, "", name)
      if (main == "") main = $1
      n = ++count[$1, name]
      skip = 0
      if (name == "openat" && !($0 ~ /"out[\/"]/ || index($0, "<" folder "/out"))) skip = 1
      if (name == "close" && !index($0, "<" folder "/")) skip = 1
      # A fault at call N goes into every thread that makes an N-th call: when the main
      # thread'"'"'s is the loader'"'"'s, that N would end the run before main.
      if (skip && $1 == main) loader[name, n] = 1
      if (skip) next
      site[name, n] = 1
      total[name]++
      if (!(($1, name) in caller)) threads[name]++
      caller[$1, name] = 1
    }
    END {
      for (key in site) {
        split(key, part, SUBSEP)
        if (threads[part[1]] == 1) print part[1], part[2]
      }
      for (name in threads)
        for (n = 1; threads[name] > 1 && n <= total[name]; n++) if (!((name, n) in loader)) print name, n
    }' "$1" | sort -u -k1,1 -k2,2n
}

run_traced() { # log, strace options...; the program's output goes to the scratch folder
  local log=$1
  shift
  (cd "$work" && timeout -k 5 20 strace -f --seccomp-bpf -e quiet=all -o "$log" "$@" "$program" "${arguments[@]}" \
    >"$scratch/run.out" 2>"$scratch/run.err")
}

# The run without a fault: it must succeed; it gives the new content and the call sites.
count_sites() {
  local status=0 target problems
  reset_output
  run_traced "$scratch/count.trace" -y -e trace="$traced" || status=$?
  problems=$(check_folders)
  for target in "${targets[@]}"; do
    [ -f "$work/${target#\*}" ] || problems+="${target#\*} is missing"$'\n'
  done
  if ((status != 0)) || [ -n "$problems" ]; then
    echo "FAIL: scenario $scenario without a fault: status $status; $problems"
    cat "$scratch/run.out" "$scratch/run.err"
    exit 1
  fi
  mkdir -p "$scratch/expected/$scenario/out"
  cp "$work/out"/* "$scratch/expected/$scenario/out/"
  sites=$(call_sites "$scratch/count.trace")
}

# One run with call n of the syscall failing with errno; counts its outcome and
# reports what breaks (in full for the first few breaks of a syscall).
inject() {
  local syscall=$1 n=$2 errno=$3 status=0 problems text
  reset_output
  run_traced "$scratch/inject.trace" -e trace="$syscall" -e inject="$syscall:error=$errno:when=$n" || status=$?
  count=$((count + 1))
  if ! grep -q '(INJECTED)' "$scratch/inject.trace"; then
    unreached=$((unreached + 1))
  elif ((status == 0)); then
    wenton=$((wenton + 1))
  elif ((status == 1)); then
    failed=$((failed + 1))
    text=$(messages "$scratch/run.out")
    seen[${text:-(none)}]=1
  fi
  case $status in
    0 | 1) problems=$(check_targets "$status"; check_folders) ;;
    124 | 137) problems="the run hung: killed after 20 s (status $status)"; hangs=$((hangs + 1)) ;;
    *) problems="the run ended with status $status" ;;
  esac
  [ -z "$problems" ] && return
  rowbreaks=$((rowbreaks + 1))
  echo "FAIL: $syscall call $n failed with $errno in scenario $scenario (quillfort ${arguments[*]})"
  ((rowbreaks > 3)) && return
  echo "  ${problems//$'\n'/$'\n'  }"
  echo "  status $status; the injected call: $(grep -m 1 '(INJECTED)' "$scratch/inject.trace" | cut -c1-120)"
  echo "  printed: $(tr '\n' '|' <"$scratch/run.out")$(tr '\n' '|' <"$scratch/run.err")"
}

row() { printf '%-17s %-10s %5s %5s %6s %7s %11s %6s  %s' "$@"; }
summary=$(row scenario syscall sites runs failed went-on not-reached breaks messages)
breaks=0
runs=0
start=$SECONDS
for entry in "${scenarios[@]}"; do
  IFS='|' read -r scenario command target_names <<<"$entry"
  read -r -a arguments <<<"$command"
  read -r -a targets <<<"$target_names"
  for target in "${targets[@]}"; do
    [[ $target == \** ]] && printf 'old content of %s\n' "${target#\*}" >"$scratch/old/${target##*/}"
  done
  count_sites
  for syscall in "${syscalls[@]}"; do
    mapfile -t numbers < <(awk -v s="$syscall" '$1 == s { print $2 }' <<<"$sites")
    ((${#numbers[@]})) || continue
    failed=0 wenton=0 unreached=0 count=0 rowbreaks=0 hangs=0
    declare -A seen=()
    for n in "${numbers[@]}"; do
      for errno in ${errnos[$syscall]}; do
        ((hangs < 2)) && inject "$syscall" "$n" "$errno"
      done
    done
    ((hangs < 2)) || echo "FAIL: $syscall in scenario $scenario: the other runs were left out after two hangs"
    if ((unreached == count)); then
      rowbreaks=$((rowbreaks + 1))
      echo "FAIL: no fault went into $syscall in scenario $scenario: strace injected nothing"
    fi
    runs=$((runs + count))
    breaks=$((breaks + rowbreaks))
    summary+=$'\n'$(row "$scenario" "$syscall" "${#numbers[@]}" "$count" "$failed" "$wenton" \
      "$unreached" "$rowbreaks" "$(printf '%s\n' "${!seen[@]}" | sort | paste -sd ';' | sed 's/;/; /g')")
    unset seen
  done
done

echo "$summary"
echo "fault injection: $runs runs in $((SECONDS - start)) s, $breaks invariant breaks"
((breaks == 0))
