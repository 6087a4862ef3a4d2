#!/usr/bin/env bash
# Runs of the Windows program under Wine, one case a call. They run without
# a display, so that no message box waits for a click: only exit codes and
# files are checked, and every run of the program has a time limit.
# usage: wine_test.sh CASE ZELVAR_EXE NATIVE_ZELVAR WINEPREFIX SAMPLE VERSION
set -u
case=$1 exe=$2 native=$3 sample=$5 version=${6:-}
export WINEPREFIX=$4 WINEDEBUG=-all
unset DISPLAY WAYLAND_DISPLAY
wine=${WINE:-/usr/lib/wine/wine64}
objdump=${OBJDUMP:-x86_64-w64-mingw32-objdump}
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
  timeout 120 "$wine" "$exe" "$@" </dev/null >/dev/null 2>&1 || code=$?
}
snapshot() { find . -type f -exec sha256sum {} + | sort; }
expect_refused() {
  local before
  before=$(snapshot)
  run "$@"
  [ "$code" = 1 ] || fail "exit code $code, not 1"
  [ "$(snapshot)" = "$before" ] || fail "files changed"
}
# Runs zelvar.exe on movie.srt: it must end well, leaving the Linux build's
# repair and the sample as the backup.
expect_repaired() {
  run movie.srt
  [ "$code" = 0 ] || fail "exit code $code"
  cmp -s movie.srt native/movie.srt || fail "output differs from the Linux build"
  cmp -s movie.old "$sample" || fail "backup differs from the input"
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
  headers=$("$objdump" -p "$exe") || fail "cannot read $exe"
  grep -q 'Subsystem.*(Windows GUI)' <<<"$headers" || fail "not a GUI program"
  dlls=$(grep 'DLL Name' <<<"$headers" | awk '{print toupper($3)}' | sort | tr '\n' ' ')
  [ "$dlls" = "KERNEL32.DLL MSVCRT.DLL USER32.DLL " ] || fail "imports: $dlls"
  ;;
repair)
  native_output
  cp "$sample" movie.srt
  expect_repaired
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
resources) # icon, icon group, version and manifest, each once
  headers=$("$objdump" -p "$exe") || fail "cannot read $exe"
  # The first level of the resource directory: one entry for each type.
  types=$(grep -E '^[0-9a-f]{3}   Entry: ID:' <<<"$headers" |
    sed -E 's/.*ID: 0x0*([0-9a-f]+),.*/\1/' | tr '\n' ' ')
  [ "$types" = "3 e 10 18 " ] || fail "resource types (hex): $types"
  grep -aq '<activeCodePage [^>]*>UTF-8</activeCodePage>' "$exe" ||
    fail "no activeCodePage UTF-8 in the manifest"
  grep -aq '<dpiAwareness [^>]*>PerMonitorV2</dpiAwareness>' "$exe" ||
    fail "not aware of each monitor's scale"
  # Version strings are UTF-16: each value follows its key.
  product=$(strings -e l "$exe" | grep -A1 -x ProductVersion | tail -n 1)
  [ "$product" = "$version" ] || fail "product version $product, not $version"
  original=$(strings -e l "$exe" | grep -A1 -x OriginalFilename | tail -n 1)
  [ "$original" = zelvar.exe ] || fail "original file name $original"
  ;;
names) # names outside any one ANSI code page
  native_output
  for name in "映画.srt" "фильм.srt" "film 🎬.srt" "fïlm ü.srt"; do
    cp "$sample" "$name"
    run "$name"
    [ "$code" = 0 ] || fail "$name: exit code $code"
    cmp -s "$name" native/movie.srt || fail "$name: output differs"
    cmp -s "${name%srt}old" "$sample" || fail "$name: backup differs"
  done
  ;;
older-backup) # replaced whole by the new backup
  native_output
  cp "$sample" movie.srt
  printf 'an older backup, longer than the file it was made of %0200d' 0 >movie.old
  expect_repaired
  [ "$(ls -A | sort | tr '\n' ' ')" = "movie.old movie.srt native " ] ||
    fail "left behind: $(ls -A)"
  ;;
readonly-backup) # a read-only file at the backup name is replaced too
  native_output
  cp "$sample" movie.srt
  echo "read-only" >movie.old && chmod 444 movie.old
  expect_repaired
  ;;
second-name) # a second name of the file at the backup's name, as a run
  # cut off after its backup leaves it: the backup is then a copy
  native_output
  cp "$sample" movie.srt && ln movie.srt movie.old
  expect_repaired
  [ "$(ls -A | sort | tr '\n' ' ')" = "movie.old movie.srt native " ] ||
    fail "left behind: $(ls -A)"
  ;;
hidden) # the repaired file keeps the system attribute (Wine keeps it for
  # any name; hidden only for names that start with a dot)
  native_output
  cp "$sample" movie.srt
  timeout 120 "$wine" cmd /c attrib +s movie.srt >/dev/null 2>&1
  expect_repaired
  attributes=$(timeout 120 "$wine" cmd /c attrib movie.srt 2>/dev/null | tr -d '\r')
  [[ "$attributes" =~ ^[A-Z\ ]*S ]] || fail "attributes: $attributes"
  ;;
two-files)
  cp "$sample" a.srt && cp "$sample" b.srt
  expect_refused a.srt b.srt
  ;;
near-miss) # each line a reader takes for a timing line refuses the file,
  # untouched and with no backup, as the Linux build refuses it
  em=$'\342\200\224' en=$'\342\200\223' right=$'\342\206\222'
  t1='00:00:01,000 --> 00:00:02,500' t3='00:00:05,000 --> 00:00:06,000'
  mkdir native
  for line in '00:00:03 --> 00:00:04' "00:00:03,000 $em> 00:00:04,000" \
    "00:00:03,000 $en> 00:00:04,000" '00:00:03,000 - > 00:00:04,000' \
    '00:00:03, 500 --> 00:00:04,000' "00:00:03,000 $right 00:00:04,000"; do
    for layout in middle first LF; do
      case $layout in
      middle) printf '1\r\n%s\r\nA\r\n\r\n2\r\n%s\r\nB\r\n\r\n3\r\n%s\r\nC\r\n' \
        "$t1" "$line" "$t3" ;;
      first) printf '1\r\n%s\r\nA\r\n\r\n2\r\n%s\r\nB\r\n' "$line" "$t3" ;;
      LF) printf '1\n%s\nA\n\n2\n%s\nB\n\n3\n%s\nC\n' "$t1" "$line" "$t3" ;;
      esac >movie.srt
      cp movie.srt native/movie.srt
      "$native" native/movie.srt 2>/dev/null &&
        fail "$layout, $line: the Linux build repaired it"
      cmp -s movie.srt native/movie.srt && [ ! -e native/movie.old ] ||
        fail "$layout, $line: the Linux build changed files"
      expect_refused movie.srt
      [ ! -e movie.old ] || fail "$layout, $line: a backup was made"
    done
  done
  ;;
killed) # killed at any moment: the file as it was or repaired, never cut;
  # then a plain retry repairs it, keeps the backup and leaves nothing else
  awk 'BEGIN { for (i = 1; i <= 400000; i++)
    printf "%d\n00:00:01,000 --> 00:00:02,500\n<i>Line %d</i>\n\n\n", i * 3, i }' >big
  mkdir native && cp big native/movie.srt && "$native" native/movie.srt ||
    fail "the Linux build failed"
  # A whole run takes some 0.2 s here, the start of Wine included.
  as_it_was=0 repaired=0 leftovers=0
  for delay in 0.05 0.07 0.09 0.11 0.13 0.15 0.17 0.19 0.21 0.25 0.3 0.5; do
    cp big movie.srt && rm -f movie.old
    timeout -s KILL "$delay" "$wine" "$exe" movie.srt </dev/null >/dev/null 2>&1
    if cmp -s movie.srt big; then
      as_it_was=$((as_it_was + 1))
    elif cmp -s movie.srt native/movie.srt; then
      repaired=$((repaired + 1))
    else
      fail "killed after $delay s: the file is neither as it was nor repaired"
    fi
    [ "$(ls -A | wc -l)" -le 4 ] || leftovers=$((leftovers + 1))
    run movie.srt
    [ "$code" = 0 ] || fail "after $delay s: the retry's exit code $code"
    cmp -s movie.srt native/movie.srt || fail "after $delay s: not repaired"
    cmp -s movie.old big || fail "after $delay s: the backup differs"
    [ "$(ls -A | tr '\n' ' ')" = "big movie.old movie.srt native " ] ||
      fail "after $delay s: left behind: $(ls -A)"
  done
  echo "killed: as it was $as_it_was, repaired $repaired; new files left" \
    "by the kill, then removed by the retry: $leftovers"
  ;;
*) fail "no such case" ;;
esac
echo "ok ($case)"
