#!/usr/bin/env bash
# Times quillfort against cp and openssl (AES-128-CTR) on one large file and on a batch
# of small files, against a pipeline of cat for the large file as a stream through
# pipes, and against cp -r on a tree of files, all in the page cache, and checks that
# quillfort's outputs decrypt back to the inputs.
#
#   bench/compare.sh [-b BINARY] [-d FOLDER] [-r ROUNDS] [-s MIB] [-n FILES] [-t FILES] [-w WORKLOADS]
#
#   -b  the quillfort binary (default: build/quillfort, built in Release if missing)
#   -d  folder for the data, on the file system to measure (default: a new folder in
#       $TMPDIR or /tmp; removed at the end). Needs about 3.5 times the large file, and
#       3 times the tree (about 1.6 GB with the default count) for the tree.
#   -r  paired rounds (default 7); each round runs every contender once, in a rotating
#       order, and ratios are taken within the round, so drifting load cancels out
#   -s  size of the large file in MiB (default 1024)
#   -n  number of 4 KiB files in the batch (default 1000)
#   -t  number of small files in the tree (default 10000)
#   -w  which workloads to time, of "large", "batch", "stream", "tree"
#       (default "large batch stream tree")
#
# The workloads:
#   large   one file of MIB MiB: quillfort e -i large.bin -o large.out, cp, openssl enc
#   stream  the same file through pipes: cat | quillfort | cat, cat | cat | cat, openssl
#   batch   FILES files of 4 KiB into an empty folder: quillfort e -i small/* -o batch.out/
#           against cp small/* batch.out/ (and one openssl per file)
#   tree    -t files of 1 KiB to 1 MiB (log-uniform, from a fixed seed, so every run has
#           the same sizes and names) in 66 folders over three levels, plus two files of
#           40 MB: quillfort e -r -i tree -o tree.out (an empty folder) against
#           cp -r tree tree.out/ (openssl, one process per file, would take minutes)
#
# Prints medians of the wall times, of the per-round ratios to cp and of the processor
# time, and the peak resident memory (GNU time's "Maximum resident set size", the
# largest over all rounds), then quillfort's figures against their goals.
set -euo pipefail

cd "$(dirname "$0")/.."
binary=build/quillfort
folder=""
rounds=7
mib=1024
files=1000
treeFiles=10000
workloads="large batch stream tree"
while getopts "b:d:r:s:n:t:w:h" option; do
  case "$option" in
    b) binary=$OPTARG ;;
    d) folder=$OPTARG ;;
    r) rounds=$OPTARG ;;
    s) mib=$OPTARG ;;
    n) files=$OPTARG ;;
    t) treeFiles=$OPTARG ;;
    w) workloads=$OPTARG ;;
    *) sed -n '2,33p' "$0"; exit 2 ;;
  esac
done
for workload in $workloads; do
  case $workload in
    large | batch | stream | tree) ;;
    *) echo "no workload named $workload (large, batch, stream, tree)" >&2; exit 2 ;;
  esac
done
wants() { [[ " $workloads " == *" $1 "* ]]; }

for tool in /usr/bin/time openssl cmp diff perl; do
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

# -r is newer than the rest: without it the tree cannot be timed, so say so before the
# data is made.
if wants tree; then
  rm -rf probe && mkdir -p probe/in/sub probe/out && echo probe >probe/in/sub/a
  if ! (cd probe && exec "$binary" e -p "$password" -r -i in -o out) >probe.log 2>&1 ||
    [ ! -f probe/out/in/sub/a.quillforted ]; then
    echo "tree: $binary cannot encrypt a folder with -r into a folder (e -r -i in -o out said:" \
      "$(tr '\n' ' ' <probe.log)); time the others with -w \"large batch stream\"" >&2
    exit 1
  fi
  rm -rf probe probe.log
fi

# The tree: -t files named and sized by a Lehmer generator with a fixed seed
# (the same on every machine and Perl), sizes log-uniform from 1 KiB to 1 MiB, the data
# from /dev/urandom; 5 folders of 4 folders of 2, and files in every folder.
make_tree() {
  perl -e '
    use strict; use warnings;
    my ($root, $count) = @ARGV;
    my $state = 20261210;
    sub uniform { $state = ($state * 48271) % 2147483647; return $state / 2147483647; }
    my @folders = ($root);
    for my $d (0 .. 4) {
      push @folders, "$root/d$d";
      for my $s (0 .. 3) {
        push @folders, "$root/d$d/s$s";
        push @folders, "$root/d$d/s$s/t$_" for 0 .. 1;
      }
    }
    mkdir $_ or die "$_: $!" for @folders;
    my @kinds = (".jpg", ".txt", ".pdf", ".dat");
    my (%per_folder, $total);
    open(my $random, "<:raw", "/dev/urandom") or die "/dev/urandom: $!";
    for my $i (1 .. $count) {
      # One file in every folder first, so that none is empty.
      my $folder = $i <= @folders ? $folders[$i - 1] : $folders[int(uniform() * @folders)];
      my $size = int(1024 * 1024**uniform());
      my $name = sprintf("%s/f%05d%s", $folder, $i, $kinds[int(uniform() * @kinds)]);
      my $data = "";
      while (length($data) < $size) {
        my $got = sysread($random, $data, $size - length($data), length($data));
        die "/dev/urandom: $!" unless $got;
      }
      open(my $out, ">:raw", $name) or die "$name: $!";
      print $out $data or die "$name: $!";
      close $out or die "$name: $!";
      $per_folder{$folder}++;
      $total += $size;
    }
    my ($most) = sort { $b <=> $a } values %per_folder;
    printf "%d files, %.0f MB, in %d folders (at most %d in one)\n", $count, $total / 1e6,
      scalar @folders, $most;
  ' "$1" "$treeFiles"
  head -c 40000000 /dev/urandom >"$1/d1/s2/film.mp4"
  head -c 40000000 /dev/urandom >"$1/d3/s0/t1/archive.tar"
}

echo "== data in $folder ($(findmnt -no FSTYPE -T . || stat -f -c %T .))"
if wants large || wants stream; then
  head -c $((mib << 20)) /dev/urandom >large.bin
  cat large.bin >/dev/null # into the page cache
  echo "large: one file of $mib MiB"
fi
if wants batch; then
  rm -rf small && mkdir small
  for ((i = 0; i < files; ++i)); do head -c 4096 /dev/urandom >"small/f$i"; done
  cat small/* >/dev/null
  echo "batch: $files files of 4 KiB"
fi
if wants tree; then
  rm -rf tree && echo "tree: $(make_tree tree), and two of 40 MB"
  find tree -type f -exec cat {} + >/dev/null
fi
smallFiles=(small/*)

# Runs one timed command; prints "wall_seconds peak_kib cpu_seconds". The CLEAN paths
# (a list) are removed and those ending in / made again empty, and the disk synced,
# beforehand, outside the timing. The wall clock is read here in nanoseconds, as GNU
# time's own figure has only hundredths of a second.
timed() {
  local cleanup=$1 path
  shift
  rm -rf $cleanup
  for path in $cleanup; do [[ $path == */ ]] && mkdir "$path"; done
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

# Into a folder made empty beforehand.
run_batch() {
  case $1 in
    cp) timed batch.out/ cp "${smallFiles[@]}" batch.out/ ;;
    quillfort) timed batch.out/ "$binary" e -p "$password" -i "${smallFiles[@]}" -o batch.out/ ;;
    openssl) timed batch.out/ bash -c 'for f in small/*; do
        openssl enc -aes-128-ctr -K $0 -iv $1 -in "$f" -out "batch.out/${f#small/}"; done' $aesKey $aesIv ;;
  esac
}

# Both write tree.out/tree/..., into a folder made empty beforehand.
run_tree() {
  case $1 in
    cp) timed tree.out/ cp -r tree tree.out/ ;;
    quillfort) timed tree.out/ "$binary" e -p "$password" -r -i tree -o tree.out ;;
  esac
}

median() { sort -g | awk '{ v[NR] = $1 } END { print (NR % 2 ? v[(NR + 1) / 2] : (v[NR / 2] + v[NR / 2 + 1]) / 2) }'; }

# quillfort's median ratio and peak RSS per workload, for the goals, and the median of
# its per-round ratio to openssl.
declare -A quillfortRatio quillfortPeak quillfortToOpenssl

# Paired rounds for one workload; prints one result line per contender. The first
# contender is the one the others are compared with.
measure() {
  local workload=$1
  local contenders=(cp quillfort openssl)
  [ "$workload" = stream ] && contenders=(cat quillfort openssl)
  [ "$workload" = tree ] && contenders=(cp quillfort)
  local base=${contenders[0]} count=${#contenders[@]}
  local -A walls ratios peaks cpus
  local toOpenssl=""
  for ((round = 0; round < rounds; ++round)); do
    local -A wall=()
    for ((k = 0; k < count; ++k)); do
      local who=${contenders[$(((k + round) % count))]}
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
    if [ -n "${wall[openssl]:-}" ]; then
      toOpenssl+="$(awk -v a="${wall[quillfort]}" -v b="${wall[openssl]}" 'BEGIN { printf "%.3f", (b > 0 ? a / b : 0) }') "
    fi
  done
  [ -n "$toOpenssl" ] && quillfortToOpenssl[$workload]=$(tr ' ' '\n' <<<"$toOpenssl" | grep . | median)
  for who in "${contenders[@]}"; do
    local ratio
    ratio=$(tr ' ' '\n' <<<"${ratios[$who]}" | grep . | median)
    printf "| %-6s | %-9s | %7.3f s | %6.2fx | %6.2f s | %8d KiB | %s|\n" "$workload" "$who" \
      "$(tr ' ' '\n' <<<"${walls[$who]}" | grep . | median)" "$ratio" \
      "$(tr ' ' '\n' <<<"${cpus[$who]}" | grep . | median)" "${peaks[$who]}" "${walls[$who]}"
    if [ "$who" = quillfort ]; then
      quillfortRatio[$workload]=$ratio
      quillfortPeak[$workload]=${peaks[$who]}
    fi
  done
}

# Prints one goal: WHAT, the figure, the goal (at most), and whether it was met.
goal() {
  awk -v what="$1" -v value="$2" -v limit="$3" -v unit="$4" 'BEGIN {
    printf "%-38s %8.2f %-3s  goal: at most %5.2f %-3s  %s\n", what, value, unit, limit, unit,
      (value <= limit ? "met" : "MISSED") }'
}

fail() { echo "$*" >&2; exit 1; }

echo "== checks"
if wants large || wants stream; then
  "$binary" e -p "$password" -i large.bin -o large.enc >large.log
  "$binary" d -p "$password" -i large.enc -o large.dec >>large.log
  cmp -s large.bin large.dec || fail "large file: decryption does not give the input back"
  cmp -s large.bin large.enc && fail "large file: encryption left the bytes as they were"
  [ "$(stat -c %s large.enc)" = "$(stat -c %s large.bin)" ] || fail "large file: length changed"
  cat large.bin | "$binary" e -p "$password" -i - 2>>large.log | cmp -s - large.enc ||
    fail "stream: encrypting through a pipe gives other bytes than the file engines"
  "$binary" d -p "$password" -i - <large.enc 2>>large.log | cmp -s - large.bin ||
    fail "stream: decrypting the stream does not give the input back"
  rm -f large.enc large.dec
  echo "round trips of the large file, as a file and as a stream: identical"
fi
if wants batch; then
  rm -rf batch.enc batch.dec && mkdir batch.enc batch.dec
  "$binary" e -p "$password" -i small/* -o batch.enc/ >batch.log
  "$binary" d -p "$password" -i batch.enc/* -o batch.dec/ >>batch.log
  for f in small/*; do
    name=${f#small/}
    cmp -s "$f" "batch.dec/$name" || fail "batch: $name does not decrypt back"
  done
  rm -rf batch.enc batch.dec
  echo "round trips of all $files small files: identical"
fi
if wants tree; then
  rm -rf tree.enc tree.dec && mkdir tree.enc tree.dec
  "$binary" e -p "$password" -r -i tree -o tree.enc >tree.log 2>&1 || fail "tree: encrypting failed: $(tail -n 3 tree.log)"
  # Every file has its output of the same length, and nothing else is there.
  diff <(cd tree && find . -type f -printf '%p.quillforted %s\n' | sort) \
    <(cd tree.enc/tree && find . -type f -printf '%p %s\n' | sort) >tree.diff ||
    fail "tree: the outputs are not the files of the tree, of the same lengths: $(head -n 5 tree.diff)"
  cmp -s tree/d1/s2/film.mp4 tree.enc/tree/d1/s2/film.mp4.quillforted &&
    fail "tree: encryption left the bytes of a large file as they were"
  for f in $(find tree -type f -name 'f*' | sort | head -n 20); do
    cmp -s "$f" "tree.enc/$f.quillforted" && fail "tree: encryption left the bytes of $f as they were"
  done
  (cd tree.enc && exec "$binary" d -p "$password" -r -i tree -o ../tree.dec) >>tree.log 2>&1 ||
    fail "tree: decrypting failed: $(tail -n 3 tree.log)"
  diff -r tree tree.dec/tree >tree.diff || fail "tree: the outputs do not decrypt back: $(head -n 5 tree.diff)"
  rm -rf tree.enc tree.dec tree.diff
  echo "round trip of the tree (-r, encrypted and decrypted into folders): identical, every file"
fi

echo "== machine"
echo "$(lscpu | sed -n 's/^Model name: *//p'), $(nproc) cores; $(uname -sr); $(date -u +%Y-%m-%d)"
echo "load average before: $(cut -d' ' -f1-3 /proc/loadavg)"

echo "== $rounds paired rounds: medians of wall time, of the per-round ratio to cp (cat for the stream,"
echo "   cp -r for the tree) and of processor time (user + system), the peak RSS over all rounds,"
echo "   and every wall time"
echo "| workload | tool | wall | vs cp | cpu | peak RSS | walls |"
echo "|---|---|---|---|---|---|---|"
for workload in $workloads; do measure "$workload"; done
echo "load average after: $(cut -d' ' -f1-3 /proc/loadavg)"

echo "== goals (quillfort: median of the per-round ratios; peak RSS over all rounds)"
for workload in $workloads; do
  ratio=${quillfortRatio[$workload]}
  case $workload in
    batch) goal "batch: time against cp" "$ratio" 0.6 x ;;
    tree)
      goal "tree: time against cp -r" "$ratio" 0.6 x
      goal "tree: peak RSS" "$(awk -v k="${quillfortPeak[tree]}" 'BEGIN { print k / 1024 }')" 64 MiB
      ;;
    large) goal "large: time against cp" "$ratio" 1.0 x ;;
    stream)
      goal "stream: time against the cat pipeline" "$ratio" 1.1 x
      goal "stream: time against openssl's (1/3: 3x faster)" "${quillfortToOpenssl[stream]}" 0.33 x
      goal "stream: peak RSS" "$(awk -v k="${quillfortPeak[stream]}" 'BEGIN { print k / 1024 }')" 16 MiB
      ;;
  esac
done
