#!/usr/bin/env bash
# Runs of the Windows program under Wine, one case a call. Wine shows no
# message box without a display, so only exit codes and files are checked.
# usage: wine_test.sh CASE ZELVAR_EXE NATIVE_ZELVAR WINEPREFIX SAMPLE
set -u
case=$1 exe=$2 native=$3 sample=$5
export WINEPREFIX=$4 WINEDEBUG=-all
wine=${WINE:-/usr/lib/wine/wine64}
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cd "$work" || exit 1

fail() {
  echo "FAIL ($case): $*" >&2
  exit 1
}
# Runs zelvar.exe with the given arguments; sets code to its exit code.
run() {
  code=0
  "$wine" "$exe" "$@" </dev/null >/dev/null 2>&1 || code=$?
}
snapshot() { find . -type f -exec sha256sum {} + | sort; }
expect_refused() {
  local before
  before=$(snapshot)
  run "$@"
  [ "$code" = 1 ] || fail "exit code $code, not 1"
  [ "$(snapshot)" = "$before" ] || fail "files changed"
}
# What the Linux build makes of the sample.
native_output() {
  mkdir -p native && cp "$sample" native/movie.srt
  "$native" native/movie.srt 2>/dev/null || fail "the Linux build failed"
}

case $case in
prefix) # makes the Wine prefix once, so the other cases start quickly
  run
  [ "$code" = 1 ] || fail "no argument gave exit code $code"
  ;;
program)
  objdump=${OBJDUMP:-x86_64-w64-mingw32-objdump}
  headers=$("$objdump" -p "$exe") || fail "cannot read $exe"
  grep -q 'Subsystem.*(Windows GUI)' <<<"$headers" || fail "not a GUI program"
  dlls=$(grep 'DLL Name' <<<"$headers" | awk '{print toupper($3)}' | sort | tr '\n' ' ')
  [ "$dlls" = "KERNEL32.DLL MSVCRT.DLL USER32.DLL " ] || fail "imports: $dlls"
  ;;
repair)
  native_output
  cp "$sample" movie.srt
  run movie.srt
  [ "$code" = 0 ] || fail "exit code $code"
  cmp -s movie.srt native/movie.srt || fail "output differs from the Linux build"
  cmp -s movie.old "$sample" || fail "backup differs from the input"
  ;;
hint)
  expect_refused
  [ -z "$(ls -A)" ] || fail "something was written"
  ;;
placeholder)
  { printf 'x\320'; cat "$sample"; } >movie.srt
  expect_refused movie.srt
  [ ! -e movie.old ] || fail "a backup was made"
  ;;
upper-old)
  cp "$sample" movie.OLD
  expect_refused movie.OLD
  ;;
blanks)
  native_output
  mkdir "my films" && cp "$sample" "my films/a movie.srt"
  run "my films\\a movie.srt"
  [ "$code" = 0 ] || fail "exit code $code"
  cmp -s "my films/a movie.srt" native/movie.srt || fail "output differs"
  cmp -s "my films/a movie.old" "$sample" || fail "backup differs"
  ;;
older-backup) # replaced whole by the new backup
  native_output
  cp "$sample" movie.srt
  printf 'an older backup, longer than the file it was made of %0200d' 0 >movie.old
  run movie.srt
  [ "$code" = 0 ] || fail "exit code $code"
  cmp -s movie.srt native/movie.srt || fail "output differs"
  cmp -s movie.old "$sample" || fail "backup differs"
  [ "$(ls -A | sort | tr '\n' ' ')" = "movie.old movie.srt native " ] ||
    fail "left behind: $(ls -A)"
  ;;
readonly-backup) # a read-only file at the backup name is replaced too
  native_output
  cp "$sample" movie.srt
  echo "read-only" >movie.old && chmod 444 movie.old
  run movie.srt
  [ "$code" = 0 ] || fail "exit code $code"
  cmp -s movie.srt native/movie.srt || fail "output differs"
  cmp -s movie.old "$sample" || fail "backup differs"
  ;;
two-files)
  cp "$sample" a.srt && cp "$sample" b.srt
  expect_refused a.srt b.srt
  ;;
*) fail "no such case" ;;
esac
echo "ok ($case)"
