#!/usr/bin/env bash
# The 64-bit ARM build, run under qemu-user, does what the x86-64 build does.
# Every fuzz corpus input, every sample and a few made here (a file of some
# 3 MB, one with CR-only line breaks, one with '>' inside its texts, ...) is
# copied into two scratch folders as movie.srt, and each program is run on
# its copy three ways: --check movie.srt, - <movie.srt, and movie.srt. The
# exit codes, standard output and standard error of each run, the repaired
# file, its backup and the folder's listing must be the same. A crash (a
# signal, or an exit code of 128 or more) or a run over 20 s fails too,
# whatever the other build did.
# usage: arm_test.sh X86_ZELVAR ARM_ZELVAR SOURCE_DIR
# Skipped (exit code 77) where qemu-aarch64 or the ARM program is missing,
# except on CI (CI=true), where that fails.
set -u
if [ $# != 3 ]; then
  echo "usage: arm_test.sh X86_ZELVAR ARM_ZELVAR SOURCE_DIR" >&2
  exit 2
fi
qemu=${QEMU:-qemu-aarch64}
export QEMU_LD_PREFIX=${QEMU_LD_PREFIX:-/usr/aarch64-linux-gnu}
limit=20 # seconds a run may take
details=5 # failing inputs whose messages are shown in full

fail() {
  echo "FAIL: $*" >&2
  exit 1
}
skip() {
  [ "${CI:-}" = true ] && fail "$* (required on CI)"
  echo "SKIP: $*"
  exit 77
}
# The absolute path of an existing file.
absolute() { echo "$(cd "$(dirname "$1")" && pwd)/$(basename "$1")"; }
# The machine an ELF program is built for: 62 is x86-64, 183 is 64-bit ARM.
machine() {
  [ "$(head -c 4 "$1" | od -An -c | tr -d ' ')" = 177ELF ] || return 0
  od -An -tu2 -j18 -N2 "$1" | tr -d ' '
}

[ -f "$1" ] || fail "no x86-64 program at $1"
[ -d "$3/fuzz/corpus" ] || fail "no fuzz/corpus in $3"
command -v "$qemu" >/dev/null || skip "$qemu is not installed (qemu-user)"
[ -f "$2" ] || skip "no ARM program at $2 (build it with cmake/aarch64-linux.cmake)"
[ -d "$QEMU_LD_PREFIX" ] ||
  skip "no ARM C library at $QEMU_LD_PREFIX (g++-aarch64-linux-gnu)"
x86=$(absolute "$1") arm=$(absolute "$2") source=$(cd "$3" && pwd)
# Comparing a program with itself, or with one qemu does not run, would
# prove nothing.
[ "$(machine "$x86")" = 62 ] || fail "$x86 is not an x86-64 program"
[ "$(machine "$arm")" = 183 ] || fail "$arm is not a 64-bit ARM program"

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
mkdir "$work/made" "$work/out"

# Inputs made here.
# Some 3 MB: entries with wrong, missing and repeated numbers, blank lines
# in odd places, LF and CR LF, tags, UTF-8 and other bytes above 0x7F.
LC_ALL=C awk 'BEGIN {
  for (i = 1; i <= 34000; i++) {
    if (i % 7 != 0) printf "%d\r\n", (i % 13 == 0) ? 5 : i * 2
    s = i * 2
    printf "%02d:%02d:%02d,%03d --> %02d:%02d:%02d,%03d%s", s / 3600, s / 60 % 60,
      s % 60, i % 1000, (s + 1) / 3600, (s + 1) / 60 % 60, (s + 1) % 60,
      (i * 7) % 1000, (i % 9 == 0) ? "  X1:10 X2:90\n" : "\r\n"
    if (i % 5 == 0) printf "\r\n"
    printf "<i>Line %d: caf\303\251, na\303\257ve \342\231\252</i>\n", i
    if (i % 3 == 0) printf "second line \351\377\200 %d\r\n", i
    if (i % 17 == 0) printf "\r\nafter a blank line\n"
    printf "\r\n"
    if (i % 11 == 0) printf "\n \n\t\n"
  }
}' >"$work/made/large.srt"
printf '1\r00:00:01,000 --> 00:00:02,000\rHello\r\r2\r00:00:03,000 --> 00:00:04,500\rWorld,\rtwo lines\r\r7\r00:00:05,000 --> 00:00:06,000\rEnd\r' \
  >"$work/made/cr-only.srt"
cat >"$work/made/greater-than.srt" <<'EOF'
1
00:00:01,000 --> 00:00:02,000
5 > 3, and >> quoted, and an arrow -> here
>

2
00:00:03,000 --> 00:00:04,000
<font color="#ff0000">red</font> a --> b
-->

3
00:00:05,000 --> 00:00:06,000
she said: "no,--> never" >>>
ends with >
EOF
printf '\357\273\277%s\n' 1 '00:00:01,000 --> 00:00:02,000' 'Hello' '' 2 \
  '00:00:03,000 --> 00:00:04,000' 'Привет' >"$work/made/placeholder-byte.srt"
printf '%s\r\n' 1 '00:00:01,000 --> 00:00:02,000' 'Hello' '' 2 \
  '00:00:03.000 --> 00:00:04,000' 'World' >"$work/made/near-miss.srt"

inputs=()
for input in "$source"/fuzz/corpus/*/* "$source"/samples/*.srt "$work"/made/*; do
  [ -f "$input" ] && inputs+=("$input")
done
[ ${#inputs[@]} -gt 5 ] || fail "only ${#inputs[@]} inputs found"

# run SIDE NAME INPUT ARGUMENT...: runs the program of SIDE (x86 or arm) in
# its scratch folder with standard input from INPUT; keeps its standard
# output, standard error and exit code as $work/out/SIDE.NAME.*.
run() {
  local side=$1 name=$2 input=$3 start end code
  shift 3
  local program=("$x86")
  [ "$side" = arm ] && program=("$qemu" "$arm")
  start=${EPOCHREALTIME/[.,]/}
  # In a subshell of its own, whose standard error is dropped: the shell's
  # own line about a crash stays out of the output.
  code=$({
    (cd "$work/$side" && exec timeout -k 5 "$limit" "${program[@]}" "$@") \
      <"$input" >"$work/out/$side.$name.out" 2>"$work/out/$side.$name.err"
    echo $?
  } 2>/dev/null)
  end=${EPOCHREALTIME/[.,]/}
  echo "$code" >"$work/out/$side.$name.code"
  echo $(((end - start) / 1000)) >"$work/out/$side.$name.ms"
}
# Whether two files are alike: the same bytes, or both missing.
alike() {
  if [ -e "$1" ] || [ -e "$2" ]; then
    [ -f "$1" ] && [ -f "$2" ] && cmp -s "$1" "$2"
  fi
}
listing() { (cd "$1" && find . -mindepth 1 -printf '%P %y %m\n' | LC_ALL=C sort); }
# What went wrong with one run on one side, if anything.
trouble() {
  local code ms
  code=$(cat "$work/out/$1.$2.code") ms=$(cat "$work/out/$1.$2.ms")
  if [ "$ms" -ge $((limit * 1000)) ]; then
    echo "took over $limit s"
  elif [ "$code" -ge 128 ]; then
    echo "crashed (exit code $code, SIG$(kill -l $((code - 128)) 2>/dev/null))"
  fi
}

declare -A names=([x86]=x86-64 [arm]=ARM)
# The command line of each run.
what() {
  case $1 in
  check) echo "--check movie.srt" ;;
  stdin) echo "- <movie.srt" ;;
  repair) echo "movie.srt" ;;
  esac
}
failed=0
started=$SECONDS
for input in "${inputs[@]}"; do
  case $input in
  "$work"/made/*) label="made here: ${input##*/}" ;;
  *) label=${input#"$source"/} ;;
  esac
  for side in x86 arm; do
    rm -rf "${work:?}/$side" && mkdir "$work/$side" && cp "$input" "$work/$side/movie.srt"
    run "$side" check /dev/null --check movie.srt
    run "$side" stdin "$input" -
    run "$side" repair /dev/null movie.srt
  done
  problems=()
  for name in check stdin repair; do
    what=$(what "$name")
    crashed=
    for side in x86 arm; do
      problem=$(trouble "$side" "$name")
      [ -z "$problem" ] || problems+=("${names[$side]} $what: $problem") crashed=1
    done
    # A crash or a run cut short: the outputs of that run say no more.
    [ -z "$crashed" ] || continue
    x86_code=$(cat "$work/out/x86.$name.code")
    arm_code=$(cat "$work/out/arm.$name.code")
    [ "$x86_code" = "$arm_code" ] ||
      problems+=("$what: exit code $x86_code on x86-64, $arm_code on ARM")
    alike "$work/out/x86.$name.out" "$work/out/arm.$name.out" ||
      problems+=("$what: standard output differs")
    alike "$work/out/x86.$name.err" "$work/out/arm.$name.err" ||
      problems+=("$what: standard error differs")
  done
  for file in movie.srt movie.old; do
    alike "$work/x86/$file" "$work/arm/$file" || problems+=("$file differs")
  done
  [ "$(listing "$work/x86")" = "$(listing "$work/arm")" ] ||
    problems+=("the folder's listing differs")
  [ ${#problems[@]} = 0 ] && continue

  failed=$((failed + 1))
  summary=$(printf '%s; ' "${problems[@]}")
  echo "FAIL $label: ${summary%; }"
  if [ "$failed" -le "$details" ]; then
    for name in check stdin repair; do
      alike "$work/out/x86.$name.err" "$work/out/arm.$name.err" && continue
      for side in x86 arm; do
        echo "  standard error of $(what "$name") on ${names[$side]}:"
        if [ -s "$work/out/$side.$name.err" ]; then
          head -n 5 "$work/out/$side.$name.err" | sed 's/^/    /'
        else
          echo "    (nothing)"
        fi
      done
    done
    if [ -f "$work/x86/movie.srt" ] && [ -f "$work/arm/movie.srt" ] &&
      ! cmp -s "$work/x86/movie.srt" "$work/arm/movie.srt"; then
      (cd "$work" && cmp x86/movie.srt arm/movie.srt 2>&1 | sed 's/^/  /')
    fi
    if [ "$(listing "$work/x86")" != "$(listing "$work/arm")" ]; then
      echo "  the folder on x86-64, then on ARM (name, type, mode):"
      diff <(listing "$work/x86") <(listing "$work/arm") | grep '^[<>]' |
        sed 's/^/    /'
    fi
  fi
done

seconds=$((SECONDS - started))
if [ "$failed" -gt 0 ]; then
  echo "arm_test: ${#inputs[@]} inputs, $failed differed or failed on ARM or" \
    "x86-64 ($seconds s)"
  exit 1
fi
echo "arm_test: ${#inputs[@]} inputs, all alike on ARM and x86-64 ($seconds s)"
