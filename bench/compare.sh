#!/usr/bin/env bash
# Times quillfort against cp and openssl (AES-128-CTR) on one large file and on a batch
# of small files, and against a pipeline of cat for the large file as a stream through
# pipes, all in the page cache, and checks that quillfort's output decrypts back to
# the input.
#
#   bench/compare.sh [-b BINARY] [-d FOLDER] [-r ROUNDS] [-s MIB] [-n FILES] [-w WORKLOADS]
#
#   -b  the quillfort binary (default: build/quillfort, built in Release if missing)
#   -d  folder for the data, on the file system to measure (default: a new folder in
#       $TMPDIR or /tmp; removed at the end). Needs about 3.5 times the large file.
#   -r  paired rounds (default 7); each round runs every contender once, in a rotating
#       order, and ratios are taken within the round, so drifting load cancels out
#   -s  size of the large file in MiB (default 1024)
#   -n  number of 4 KiB files in the batch (default 1000)
#   -w  which workloads to time: "large", "batch", "stream" (default "large batch stream")
#
# Prints medians of the wall times, of the per-round ratios to cp and of the processor
# time, and the peak resident memory (GNU time's "Maximum resident set size", the
# largest over all rounds).
set -euo pipefail

cd "$(dirname "$0")/.."
binary=build/quillfort
folder=""
rounds=7
mib=1024
files=1000
workloads="large batch stream"
while getopts "b:d:r:s:n:w:h" option; do
  case "$option" in
    b) binary=$OPTARG ;;
    d) folder=$OPTARG ;;
    r) rounds=$OPTARG ;;
    s) mib=$OPTARG ;;
    n) files=$OPTARG ;;
    w) workloads=$OPTARG ;;
    *) sed -n '2,20p' "$0"; exit 2 ;;
  esac
done

for tool in /usr/bin/time openssl cmp; do
  command -v "$tool" >/dev/null || { echo "missing $tool: run scripts/install-deps --bench" >&2; exit 1; }
done
if [ ! -x "$binary" ]; then
  cmake -S . -B build -DCMAKE_BUILD_TYPE=Release >/dev/null
  cmake --build build -j2 --target quillfort >/dev/null
fi
binary=$(realpath "$binary")

if [ -z "$folder" ]; then
  folder=$(mktemp -d "${TMPDIR:-/tmp}/quillfort-bench.XXXXXX")
  trap 'rm -rf "$folder"' EXIT
else
  mkdir -p "$folder"
fi
cd "$folder"

password="benchmark password"
aesKey=000102030405060708090a0b0c0d0e0f
aesIv=f0f1f2f3f4f5f6f7f8f9fafbfcfdfeff

echo "== data: ${mib} MiB file and ${files} files of 4 KiB in $folder ($(findmnt -no FSTYPE -T . || stat -f -c %T .))"
head -c $((mib << 20)) /dev/urandom >large.bin
rm -rf small && mkdir small
for ((i = 0; i < files; ++i)); do head -c 4096 /dev/urandom >"small/f$i"; done
cat large.bin small/* >/dev/null  # into the page cache

# Runs one timed command; prints "wall_seconds peak_kib cpu_seconds". Output files are removed
# and the disk synced beforehand, outside the timing. The wall clock is read here in
# nanoseconds, as GNU time's own figure has only hundredths of a second.
timed() {
  local cleanup=$1
  shift
  rm -rf $cleanup
  sync
  local start end
  start=$(date +%s%N)
  /usr/bin/time -f "%M %U %S" -o time.out "$@" >/dev/null 2>run.err || { cat run.err >&2; exit 1; }
  end=$(date +%s%N)
  awk -v ns=$((end - start)) '{ printf "%.4f %d %.2f\n", ns / 1e9, $1, $2 + $3 }' time.out
}

run_large() {
  case $1 in
    cp) timed large.out cp large.bin large.out ;;
    quillfort) timed large.out "$binary" e -p "$password" -i large.bin -o large.out ;;
    openssl) timed large.out openssl enc -aes-128-ctr -K $aesKey -iv $aesIv -in large.bin -out large.out ;;
  esac
}

# The large file through pipes: cat big | TOOL | cat > out, against cat big | cat | cat > out.
run_stream() {
  case $1 in
    cat) timed stream.out bash -c 'cat large.bin | cat | cat >stream.out' ;;
    quillfort) timed stream.out bash -c 'cat large.bin | "$0" e -p "$1" -i - | cat >stream.out' "$binary" "$password" ;;
    openssl) timed stream.out bash -c 'cat large.bin | openssl enc -aes-128-ctr -K $0 -iv $1 | cat >stream.out' \
      $aesKey $aesIv ;;
  esac
}

run_batch() {
  case $1 in
    cp) timed batch.out bash -c 'mkdir batch.out && cp small/* batch.out/' ;;
    quillfort) timed batch.out bash -c 'mkdir batch.out && exec "$0" e -p "$1" -i small/* -o batch.out/' \
      "$binary" "$password" ;;
    openssl) timed batch.out bash -c 'mkdir batch.out && for f in small/*; do
        openssl enc -aes-128-ctr -K $0 -iv $1 -in "$f" -out "batch.out/${f#small/}"; done' $aesKey $aesIv ;;
  esac
}

median() { sort -g | awk '{ v[NR] = $1 } END { print (NR % 2 ? v[(NR + 1) / 2] : (v[NR / 2] + v[NR / 2 + 1]) / 2) }'; }

# Paired rounds for one workload; prints one result line per contender. The first
# contender is the one the others are compared with.
measure() {
  local workload=$1
  local contenders=(cp quillfort openssl)
  [ "$workload" = stream ] && contenders=(cat quillfort openssl)
  local base=${contenders[0]}
  local -A walls ratios peaks cpus
  for ((round = 0; round < rounds; ++round)); do
    local -A wall=()
    for ((k = 0; k < 3; ++k)); do
      local who=${contenders[$(((k + round) % 3))]}
      read -r seconds kib cpu < <("run_$workload" "$who")
      [ -n "${cpu:-}" ] || { echo "$workload: $who failed" >&2; exit 1; }
      wall[$who]=$seconds
      walls[$who]+="$seconds "
      cpus[$who]+="$cpu "
      peaks[$who]=$(((${peaks[$who]:-0} > kib) ? ${peaks[$who]:-0} : kib))
    done
    for who in "${contenders[@]}"; do
      ratios[$who]+="$(awk -v a="${wall[$who]}" -v b="${wall[$base]}" 'BEGIN { printf "%.3f", (b > 0 ? a / b : 0) }') "
    done
  done
  for who in "${contenders[@]}"; do
    printf "| %-6s | %-9s | %7.3f s | %6.2fx | %6.2f s | %8d KiB | %s|\n" "$workload" "$who" \
      "$(tr ' ' '\n' <<<"${walls[$who]}" | grep . | median)" \
      "$(tr ' ' '\n' <<<"${ratios[$who]}" | grep . | median)" \
      "$(tr ' ' '\n' <<<"${cpus[$who]}" | grep . | median)" "${peaks[$who]}" "${walls[$who]}"
  done
}

echo "== checks"
"$binary" e -p "$password" -i large.bin -o large.enc >large.log
"$binary" d -p "$password" -i large.enc -o large.dec >>large.log
cmp -s large.bin large.dec || { echo "large file: decryption does not give the input back" >&2; exit 1; }
cmp -s large.bin large.enc && { echo "large file: encryption left the bytes as they were" >&2; exit 1; }
[ "$(stat -c %s large.enc)" = "$(stat -c %s large.bin)" ] || { echo "large file: length changed" >&2; exit 1; }
cat large.bin | "$binary" e -p "$password" -i - 2>>large.log | cmp -s - large.enc ||
  { echo "stream: encrypting through a pipe gives other bytes than the file engines" >&2; exit 1; }
"$binary" d -p "$password" -i - <large.enc 2>>large.log | cmp -s - large.bin ||
  { echo "stream: decrypting the stream does not give the input back" >&2; exit 1; }
rm -f large.enc large.dec
rm -rf batch.enc batch.dec && mkdir batch.enc batch.dec
"$binary" e -p "$password" -i small/* -o batch.enc/ >batch.log
"$binary" d -p "$password" -i batch.enc/* -o batch.dec/ >>batch.log
for f in small/*; do
  name=${f#small/}
  cmp -s "$f" "batch.dec/$name" || { echo "batch: $name does not decrypt back" >&2; exit 1; }
done
rm -rf batch.enc batch.dec
echo "round trips of the large file, as a file and as a stream, and of all $files small files: identical"

echo "== machine"
echo "$(lscpu | sed -n 's/^Model name: *//p'), $(nproc) cores; $(uname -sr); $(date -u +%Y-%m-%d)"
echo "load average before: $(cut -d' ' -f1-3 /proc/loadavg)"

echo "== $rounds paired rounds: medians of wall time, of the per-round ratio to cp (cat for the stream) and of"
echo "   processor time (user + system), the peak RSS over all rounds, and every wall time"
echo "| workload | tool | wall | vs cp | cpu | peak RSS | walls |"
echo "|---|---|---|---|---|---|---|"
for workload in $workloads; do measure "$workload"; done
echo "load average after: $(cut -d' ' -f1-3 /proc/loadavg)"
