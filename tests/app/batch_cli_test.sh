#!/usr/bin/env bash
# End-to-end tests of orvant-batch: every case builds its input files in a fresh temporary directory,
# runs the program and checks its exit status, standard output, standard error, log and output file.
#   batch_cli_test.sh BATCH SOURCE_DIR CASE
set -u

# Absolute paths: every case works in its own directory.
absolute() { if [[ $1 == /* ]]; then echo "$1"; else echo "$PWD/$1"; fi; }
BATCH=$(absolute "$1")
SRC=$(absolute "$2")
CASE=$3
DEMO="$SRC/data/spectra/demo_gamma.spe"

WORK=$(mktemp -d)
trap 'rm -rf "$WORK"' EXIT
cd "$WORK" || exit 1

failures=0
fail() {
  echo "FAIL: $*" >&2
  echo "--- command: ${last_command:-}" >&2
  echo "--- stdout:" >&2
  cat out.txt >&2 2>/dev/null
  echo "--- stderr:" >&2
  cat err.txt >&2 2>/dev/null
  failures=$((failures + 1))
}

# Runs the program; its streams go to out.txt and err.txt, its status to $rc (124 if it hangs).
batch() {
  last_command="orvant-batch $*"
  timeout 60 "$BATCH" "$@" </dev/null >out.txt 2>err.txt
  rc=$?
}
expect_rc() { [[ $rc -eq $1 ]] || fail "exit status $rc, expected $1"; }
ok() {
  batch "$@"
  expect_rc 0
}
# Status 1 with MESSAGE (if any) on standard error: refused MESSAGE ARGS...
refused() {
  local message=$1
  shift
  batch "$@"
  expect_rc 1
  [[ -z $message ]] || expect_text err.txt "$message"
}
# A refused reading prints no report.
read_refused() {
  refused "$1" read "${@:2}"
  expect_empty out.txt
}
# `read` with the arguments before "--", then each "Field=value" after it a line of the report.
reads() {
  local args=() field
  while [[ $1 != -- ]]; do args+=("$1") && shift; done
  ok read "${args[@]}"
  for field in "${@:2}"; do expect_line out.txt "$(printf '%-15s: %s' "${field%%=*}" "${field#*=}")"; done
}

# Whole lines of FILE: expect_line FILE LINE...
expect_line() {
  local line
  for line in "${@:2}"; do grep -Fxq -- "$line" "$1" || fail "no line '$line' in $1"; done
}
expect_text() { grep -Fq -- "$2" "$1" || fail "no '$2' in $1"; }
expect_empty() { [[ ! -s $1 ]] || fail "$1 is not empty"; }
expect_no_text() { ! grep -Fqs -- "$2" "$1" || fail "'$2' in $1"; }
# An output file of a run that read nothing: only its start and finish stamps.
expect_stamps_only() {
  expect_text "$1" "ORVANT START  "
  expect_text "$1" "ORVANT FINISH  "
  [[ $(grep -vc "ORVANT START\|ORVANT FINISH" "$1") -eq 0 ]] || fail "$1 holds more than its stamps"
}
# A script of the given lines: script FILE LINE...
script() { printf '%s\n' "${@:2}" >"$1"; }

# Binary spectra. u16: unsigned 16-bit words j + 1 (j the 0-based word), word 99 (channel 100) 65535,
# a value only unsigned reading keeps. i32-swapped: signed 32-bit words 65536 (j + 1) + 1, word 2
# -70000, with their 16-bit halves exchanged (both halves differ, so forgetting the exchange shows).
# All little-endian: make_binary KIND FILE WORDS.
make_binary() {
  printf "$(LC_ALL=C awk -v kind="$1" -v n="$3" 'BEGIN {
    for (j = 0; j < n; ++j) {
      if (kind == "u16") { v = j == 99 ? 65535 : j + 1; printf "\\x%02x\\x%02x", v % 256, int(v / 256); continue }
      v = j == 2 ? -70000 : 65536 * (j + 1) + 1; if (v < 0) v += 4294967296
      v = (v % 65536) * 65536 + int(v / 65536)
      for (k = 0; k < 4; ++k) { printf "\\x%02x", v % 256; v = int(v / 256) }
    }
  }')" >"$2"
}

# Lines "X Y E" for channels 100..199: Y = X mod 7 + 1.5, E = 2 X.
write_xy_file() {
  local i
  for ((i = 100; i <= 199; ++i)); do printf '%d %d.5 %d\n' "$i" $((i % 7 + 1)) $((2 * i)); done >"$1"
}

case_read_type1() {
  # 5000 words; 5000*5001/2 - 100 + 65535, less the 1 of channel 1, which the reader sets to 0.
  make_binary u16 ramp.bin 5000
  reads ramp.bin --type 1 -- "Type=1 ( binary, 2 bytes per word)" "Channels=1 .. 5000  (5000 channels)" \
    "Interval=2 .. 4999" "Sum of counts=12567934" "Maximum=65535  at channel 100"
  expect_empty err.txt
  # The 1024-byte header holds the first 512 words: values 513..5000 remain, 65535 went with the header.
  reads ramp.bin --type 1 --skip-header -- "Channels=1 .. 4488  (4488 channels)" "Sum of counts=12370659" \
    "Maximum=5000  at channel 4488"
  # The whole spectrum, first and last channel included, after the reading set the bounds.
  reads ramp.bin --type 1 --whole-spectrum -- "Interval=1 .. 5000"
}

case_read_type2() {
  # 65536 * 2048*2049/2 + 2048, less channel 1 (set to 0) and 196609 replaced by -70000.
  make_binary i32-swapped swapped.bin 2048
  reads swapped.bin --type 2 --reverse-bytes -- "Type=2 ( binary, 4 bytes per word)" \
    "Channels=1 .. 2048  (2048 channels)" "Sum of counts=137505732238" "Maximum=134217729  at channel 2048" \
    "Minimum=-70000"
  expect_empty err.txt
  # Read as they stand the words are 65536 + j + 1: the option is what restores the values.
  reads swapped.bin --type 2 -- "Maximum=67584  at channel 2048"
  reads swapped.bin --type 2 --reverse-bytes --skip-header -- "Channels=1 .. 1792  (1792 channels)" \
    "Maximum=134217729  at channel 1792"
}

case_read_type3() {
  reads "$DEMO" --type 3 --output demo.res -- "Type=3 ( ASCII free field format)" \
    "Channels=1 .. 4096  (4096 channels)" "Interval=2 .. 4095" "Maximum=10826  at channel 1654"
  expect_empty err.txt
  expect_line demo.res "$DEMO Spectrum read in. "
  # Comments, commas, tabs and a "/" line that ends the data; the values start at --first-channel.
  printf '* a remark\n5, 6\t7 * ignored 99\n\n8\n/\n1000\n' >small.txt
  reads small.txt --type 3 --first-channel 10 -- "Channels=10 .. 13  (4 channels)" "Sum of counts=26" \
    "Maximum=8  at channel 13"
  # Exactly as many numbers as the arrays hold is still a spectrum.
  printf '%s\n' {1..32768} >full.txt
  reads full.txt --type 3 -- "Channels=1 .. 32768  (32768 channels)"
}

case_read_type4() {
  write_xy_file xy.txt
  reads xy.txt --type 4 --first-channel-from-x -- "Type=4 ( ASCII  threes:  X,  Y,  [ error ])" \
    "Channels=100 .. 199  (100 channels)" "Interval=101 .. 198" "Abscissa=100 .. 199  step 1"
  expect_empty err.txt
  # Third item as Y: counts 2 X, largest at the last line.
  reads xy.txt --type 4 --first-channel-from-x --columns "1 3 2" -- "Sum of counts=29900" \
    "Maximum=398  at channel 199"
  # Without the option the data start at channel 1 whatever X says.
  reads xy.txt --type 4 -- "Channels=1 .. 100  (100 channels)"
}

# The readers' refusals reach standard error whole; the tests of the readers hold the other cases.
case_read_errors() {
  : >empty.txt
  printf '* header\n1 2 3\n4 1e999 5\n6\n' >huge.txt
  read_refused "No file no-such-file.spe" no-such-file.spe --type 3
  read_refused "Error, wrong reading" empty.txt --type 3
  read_refused 'Error, huge.txt line 3: "1e999" is not a number' huge.txt --type 3
  # A failed reading must not leave a report of success in the output file.
  read_refused "" empty.txt --type 3 --output failed.res
  expect_no_text failed.res "read in"
}

case_run_demo() {
  script demo.orv "# The demo spectrum through the input dialog, every default answered explicitly." \
    "menu Input the Spectrum" "file $DEMO" "dialog Input the Spectrum" "radio 3" 'check "Skip the header" off' \
    "check 2 off" 'check " Restore ini-bounds " on' "check 4 on" "box off" "ok"
  ok run demo.orv --log demo.log --output demo.res
  expect_empty err.txt
  expect_line demo.log "file: $DEMO" "dialog: Input the Spectrum -> ok" "status:  Spectrum read in.  | "
  expect_line demo.res "$DEMO Spectrum read in. "
  # Without --log the log is standard output.
  ok run demo.orv
  expect_line out.txt "status:  Spectrum read in.  | "
}

case_run_line_structure() {
  write_xy_file xy.txt
  script xy.orv "menu Input the Spectrum" "file $WORK/xy.txt" "dialog Input" "radio 4" \
    'check "Starting channel = 1" off' "box on" "ok" "dialog indicators" "text 1 3 2" "ok"
  ok run xy.orv --log xy.log --output xy.res
  expect_line xy.log "dialog: Input the Spectrum -> ok" "status:  Spectrum read in.  | " \
    "dialog: Enter indicators to ASCII spectrum line items -> ok"
  expect_line xy.res "$WORK/xy.txt Spectrum read in. "
  # Indicators the program refuses: no reading, the run itself still completes.
  sed 's/^text 1 3 2$/text 1 0 2/' xy.orv >bad.orv
  ok run bad.orv --log bad.log --output bad.res
  expect_text bad.log "message: Error, indicators are item positions from 1 to 100"
  expect_no_text bad.res "read in"
}

case_run_cancel() {
  script cancel.orv "menu Input the Spectrum" "cancel"
  ok run cancel.orv --output cancel.res
  expect_line out.txt "file: cancel"
  expect_stamps_only cancel.res
  script cancel2.orv "menu Input the Spectrum" "file $DEMO" "dialog" "cancel"
  ok run cancel2.orv --output cancel2.res
  expect_line out.txt "dialog: Input the Spectrum -> cancel"
  expect_stamps_only cancel2.res
}

case_run_errors() {
  # The dialog is asked but the script ends before its ok.
  script short.orv "menu Input the Spectrum" "file $DEMO" "dialog Input the Spectrum" "radio 3"
  refused 'script line 4: the script ended without an answer to dialog "Input the Spectrum"' \
    run short.orv --log short.log --output short.res
  expect_text short.log "error: script line 4"
  expect_stamps_only short.res
  # Refused at their line: no answer to the file selection, no such command, no "menu", answers the
  # dialog does not show, another dialog than the program shows (the script port's test has more).
  local text message
  while IFS='|' read -r text message; do
    printf "$text" "$DEMO" >refused.orv
    refused "$message" run refused.orv
  done <<'EOF'
menu Input the Spectrum\n|script line
# nothing such\nmenu No Such Command\n|script line 2: no menu command "No Such Command"
Input the Spectrum\n|script line 1:
menu Input the Spectrum\nfile %s\ndialog\ncheck "Nothing" on\nok\n|script line 4: no check-list entry "Nothing"
menu Input the Spectrum\nfile %s\ndialog\nedit 12\nok\n|script line 4: the dialog shows no edit field
menu Input the Spectrum\nfile %s\ndialog Fit the Peaks\nok\n|script line 3: expected dialog "Fit the Peaks"
EOF
  batch run no-such-script.orv
  [[ $rc -ne 0 ]] || fail "a missing script ran"
}

# The program shell: start-up, a whole analysis, saving, the ini file, the settings file and exit.
case_run_shell() {
  script whole.orv "# raa: automatic marking, the batch fit, the summary table, the ini file." \
    "menu &Test" "dialog Set Test Spectra" "radio 1" "ok" \
    "menu Automatic Spectrum Marking" "dialog Find the Peaks" "ok" \
    "menu Spectrum Fit" "menu Save the Fit Results" "dialog Save the Summary Table" "ok" \
    "menu Save   Energy Calibration" "menu Save the Init File" "menu Graph the Interval" \
    "menu Spectrum -> BMP file" "dialog" "ok" "menu &Exit"
  printf '   My lab\n    3.0000 *scrsize\n' >orvant.fn
  ok run whole.orv --log whole.log
  expect_line whole.log "message: No calibration data" "status: Ini file saved as a.ini | "
  expect_line a.res "               SUMMARY TABLE." "File             = raa.spc" \
    "   Channel  Energy     Area     Intensity    Width   Norm.area Crit/Back"
  expect_text a.res "ORVANT START  "
  expect_text a.res "ORVANT FINISH  "
  [[ $(grep -c "SUMMARY TABLE" a.res) -eq 1 ]] || fail "the summary table is written more than once"
  expect_line a.ini ".......STOP"
  [[ $(head -c 2 sp.bmp) == BM ]] || fail "no sp.bmp from \"Spectrum -> BMP file\""
  # The settings file is written back with the scale clamped and its title kept.
  expect_line orvant.fn "   My lab" "    1.5600 *scrsize"

  # The spectrum kept as a text file and read back.
  script keep.orv "menu Test" "dialog" "radio 2" "ok" "write-spectrum 4 negr.txt" "write-spectrum 3 negr3.txt" \
    "write-spectrum 7 x"
  refused "script line 7: write-spectrum wants a type (3 or 4)" run keep.orv --output keep.res
  ok read negr.txt --type 4 --first-channel-from-x
  expect_text out.txt "Channels       : 1 .. "
  ok read negr3.txt --type 3

  # Exit with unsaved results: No keeps the program running, the end of the script quits.
  script unsaved.orv "menu Test" "dialog" "radio 3" "ok" "menu Automatic Spectrum Marking" "dialog" "ok" \
    "menu Spectrum  Fit" "menu Exit" "no" "menu Clear the Form"
  mkdir -p sub
  ok run unsaved.orv --log unsaved.log --dir sub
  expect_line unsaved.log "question: Results not saved. Quit? -> no" \
    "question: Results not saved. Quit? -> yes (end of script)"
  expect_text sub/a.res "ORVANT FINISH  "
  [[ -s sub/orvant.fn ]] || fail "no settings file in the start folder"

  # Saving with nothing fitted.
  script nothing.orv "menu Save the Fit Results"
  ok run nothing.orv --log nothing.log --output nothing.res
  expect_line nothing.log "status: Error! No peaks fitted | "
  expect_no_text nothing.res "SUMMARY TABLE"

  # Views write their texts and messages to the log (the scripted runs' tests start every command).
  script views.orv "menu Common Help" "menu Graph Peak Model" "dialog" "ok" "menu Graph Energy Calibration"
  ok run views.orv --output l.res
  expect_text out.txt "text: "
  expect_line out.txt "message: No energy calibration set up"

  # An output file that cannot be created ends the run with the system's message.
  mkdir -p blocked/a.res quiet
  script blocked.orv "menu Clear the Form"
  refused "" run blocked.orv --dir blocked
  expect_line out.txt "message: Output file failure: possibly shared or read only"
  # Cancel in the title dialog ends the program before anything is written.
  script title.orv "dialog" "cancel"
  ok run title.orv --dir quiet
  [[ ! -e quiet/a.res && ! -e quiet/orvant.fn ]] || fail "a cancelled start-up wrote files"
}

# analyse: the output file "a.res" with the summary table, and settings from an ini file.
case_analyse_ini() {
  ok analyse --test raa --bmp raa.bmp --png raa.png
  expect_empty err.txt
  expect_line a.res "               SUMMARY TABLE."
  # The 600 x 424 graph surface as a 24-bit Windows bitmap, and the same picture as PNG.
  [[ $(head -c 2 raa.bmp) == BM && $(wc -c <raa.bmp) -eq $((54 + 600 * 424 * 3)) ]] || fail "raa.bmp"
  [[ $(head -c 4 raa.png | tail -c 3) == PNG ]] || fail "raa.png"
  expect_text out.txt "Output file: "
  script setup.ini "* The demo spectrum, free-field numbers, and its analysis settings." \
    ".......Input the Spectrum" "    1     4096  3" "$DEMO" ".......Set the Analysis Bounds" "      100     1900" \
    ".......Enter the Width Information" "    2.000    3.0000    2.000" ".......STOP"
  ok analyse --ini setup.ini --output ini.res
  expect_line ini.res "File             = $DEMO" "Spectrum interval=     100   1900"
  script empty.ini ".......STOP"
  refused "loads no spectrum" analyse --ini empty.ini --output e.res
}

# The shipped example scripts, each in a copy of the source folder's data.
case_examples() {
  mkdir -p data/spectra && cp "$DEMO" data/spectra/
  local file
  for file in "$SRC"/examples/*.orv; do
    rm -f a.res
    ok run "$file" --log example.log
    expect_line a.res "               SUMMARY TABLE."
  done
}

# The example of ui/script/README.md, run from the source folder where its file name is valid.
case_readme_example() {
  awk '/^```script$/ {on = 1; next} /^```$/ {if (on) exit} on' "$SRC/ui/script/README.md" >example.orv
  [[ -s example.orv ]] || fail "no script example in ui/script/README.md"
  # A copy of the source folder's data, so the run leaves its files in the work folder.
  mkdir -p data/spectra && cp "$DEMO" data/spectra/
  ok run example.orv --log example.log
  expect_line example.log "status:  Spectrum read in.  | "
}

# Rows of the result table printed by analyse: a row number and at least nine columns.
table_rows() { awk '$1 ~ /^[0-9]+$/ && NF >= 9 && !/left out/' out.txt; }

case_analyse() {
  # A test spectrum is searched, marked and fitted; the table and the CSV have one row per peak.
  local t
  for t in raa bpeak; do  # the scripted runs' tests fit every test spectrum
    ok analyse --test "$t" --csv "$t.csv"
    expect_text out.txt "Spectrum $t"
    expect_text out.txt "    N   Channel    Error         Area"
    [[ $(wc -l <"$t.csv") -ge 2 ]] || fail "$t.csv holds no rows"
    head -1 "$t.csv" | grep -q '^peak,channel,channel_error,area,area_error,width,width_error,criterion,background' ||
      fail "$t.csv header"
  done
  # The broad peak of bpeak lies near channel 520.
  awk -F, 'NR > 1 && $2 > 510 && $2 < 530 {found = 1} END {exit !found}' bpeak.csv || fail "no broad peak near 520"

  # The table and CSV leave out the peaks of criterion <= 3 and keep the row numbers; --all prints them.
  ok analyse --test front --csv front.csv
  head -1 front.csv | grep -q ',background,law_width$' || fail "law_width is not the last CSV column"
  awk -F, 'NR > 1 && $8 <= 3 {bad = 1} END {exit bad}' front.csv || fail "a row of criterion <= 3 in front.csv"
  local left shown all
  left=$(awk '/peaks of criterion <= 3 left out/ {print $1}' out.txt)
  shown=$(table_rows | wc -l)
  [[ -n $left && $left -gt 0 ]] || fail "front: nothing left out"
  expect_text out.txt "(--all prints them)"
  ok analyse --test front --all
  all=$(table_rows | wc -l)
  [[ $all -eq $((shown + left)) ]] || fail "--all prints $all rows, not $shown + $left"
  table_rows | awk '$1 != NR {bad = 1} END {exit bad}' || fail "--all row numbers"

  # Given widths are used as they are; bad ones are refused.
  ok analyse --test raa --widths 2,3.5,0.5 --sensitivity 1.5
  expect_text out.txt "scatter= 0 (the widths of --widths)"
  refused "Error, --widths takes W1,W2[,DW]" analyse --test raa --widths 2

  # A file of each kind: the free-field demo spectrum and a binary one.
  ok analyse "$DEMO" --type 3 --output demo.res
  expect_text out.txt "peaks in"
  # The automatic analysis: the width law from the spectrum, said before the last line.
  expect_text demo.res "Width law FWHM(chan)= sqrt(a + b*chan): a= "
  expect_text demo.res "Automatic analysis: "
  [[ $(tail -2 out.txt | head -1) == "Width law FWHM(chan)= sqrt(a + b*chan): a= "*"clear lines)" ]] ||
    fail "the width law is not the line before the output file"
  [[ $(tail -1 out.txt) == "Output file: "* ]] || fail "the output file is not the last line"
  ok analyse "$DEMO" --type 3 --output plain.res --plain
  expect_text plain.res "The spectrum has been marked. Mode= 0"
  expect_no_text out.txt "Width law"
  make_binary u16 ramp.bin 5000
  ok analyse ramp.bin --type 1
  make_binary i32-swapped swapped.bin 2048
  ok analyse swapped.bin --type 2 --reverse-bytes
  write_xy_file lines.txt
  ok analyse lines.txt --type 4
  expect_text out.txt "No peaks found in lines.txt" # a saw-tooth of 1..7 counts holds no peak

  # Refusals: no spectrum, both a file and a test spectrum, a missing file.
  refused "" analyse
  refused "" analyse "$DEMO" --test raa
  refused "No file nothing.spe" analyse nothing.spe --type 3
}

# Counts of four Gaussian peaks (FWHM 5 at 300, 612, 625 and 1100) on a falling background with a
# little noise, one a line: peak_counts CHANNELS SEED.
peak_counts() {
  LC_ALL=C awk -v n="$1" -v seed="$2" 'BEGIN {
    srand(seed); split("300 612 625 1100", c, " "); split("8000 5000 7000 15000", a, " "); s = 5 / 2.3548
    for (ch = 1; ch <= n; ++ch) {
      y = 200 - 0.05 * ch
      for (k = 1; k <= 4; ++k) { z = (ch - c[k]) / s; y += a[k] / (s * 2.5066) * exp(-0.5 * z * z) }
      y = int(y + sqrt(y) * (2 * rand() - 1) + 0.5); print (y < 0 ? 0 : y)
    }
  }'
}
# The peaks as type-1 words: write_peak_spectrum FILE CHANNELS SEED.
write_peak_spectrum() {
  printf "$(peak_counts "$2" "$3" | LC_ALL=C awk '{printf "\\x%02x\\x%02x", $1 % 256, int($1 / 256)}')" >"$1"
}
# The peaks as an IAEA SPE file with 300 s live time and the calibration E = 1 + 0.5 * (file channel).
write_peak_spe() {
  {
    printf '$SPEC_ID:\r\npeaks %d\r\n$MEAS_TIM:\r\n300 302\r\n$DATA:\r\n0 %d\r\n' "$3" $(($2 - 1))
    peak_counts "$2" "$3" | awk -v n="$2" '{printf "%8d%s", $1, (NR % 10 == 0 || NR == n) ? "\r\n" : ""}'
    printf '$ENER_FIT:\r\n1 0.5\r\n$ENDRECORD:\r\n'
  } >"$1"
}
# A marking data set: a single, a doublet, a single.
write_marking() { printf '* a single, a doublet, a single\n290 312 1\n300\n598 640 2\n612 625\n1084 1116 1\n1101\n' >"$1"; }

# loop: a series of binary spectra named in a list (comments, blank lines and blanks around the names
# allowed) fitted with one marking data set into orvant.tab; a missing name is reported and skipped.
# The table itself, the workers and the refusals are the fit loop's tests.
case_loop() {
  mkdir -p series
  write_peak_spectrum series/a.bin 2048 1
  write_peak_spectrum series/b.bin 1500 2
  printf '* the series\na.bin\n\nmissing.bin\n  b.bin\n' >series/names.txt
  write_marking mark.dat
  ok loop series/names.txt --marking mark.dat --type 1
  expect_line out.txt "FIT  LOOP" "LOOP  FIT  finished, Results saved to orvant.tab" "  3 spectra processed" \
    "  1 spectra failed" "Loop table: $WORK/orvant.tab"
  expect_line err.txt "No file $WORK/series/missing.bin"
  expect_line orvant.tab "   Channel  Energy     Area     Intensity    Width   Norm.int. Chi2/chi+" \
    "                    Spectrum $WORK/series/a.bin" "                    Spectrum $WORK/series/b.bin"
  # Header, then per spectrum its line and two lines for each of the four peaks.
  [[ $(wc -l <orvant.tab) -eq 19 ]] || fail "orvant.tab has $(wc -l <orvant.tab) lines, expected 19"
  # With --dir the names are taken from that folder and the table is written there.
  ok loop series/names.txt --marking mark.dat --type 1 --dir series --jobs 2
  expect_line series/orvant.tab "                    Spectrum a.bin"

  # Refusals: a text type, nothing readable.
  refused "Error, this file type not allowed" loop series/names.txt --marking mark.dat --type 3
  printf 'missing.bin\n' >none.txt
  refused "" loop none.txt --marking mark.dat --type 1
  expect_line out.txt "  1 spectra failed"
}

# A CHN file of five channels (1 2 3 4 5) from analyser channel 10, live 100 s, real 101 s, with a
# -101 trailer of E = 2 + 0.25 * channel when TRAILER is "trailer".
write_chn() {
  local trailer=""
  if [[ ${2:-} == trailer ]]; then
    # -101, reserved, 2.0f, 0.25f, 0.0f, then zeros to 512 bytes.
    trailer='\x9b\xff\x00\x00\x00\x00\x00\x40\x00\x00\x80\x3e\x00\x00\x00\x00'
    trailer+=$(printf '\\x00%.0s' {1..496})
  fi
  printf "\\xff\\xff\\x01\\x00\\x00\\x00\\x30\\x35\\xba\\x13\\x00\\x00\\x88\\x13\\x00\\x0007DEC2611015\\x0a\\x00\\x05\\x00\\x01\\x00\\x00\\x00\\x02\\x00\\x00\\x00\\x03\\x00\\x00\\x00\\x04\\x00\\x00\\x00\\x05\\x00\\x00\\x00${trailer}" >"$1"
}

# read without --type: each format is told by its content, whatever the file is called.
case_read_formats() {
  write_peak_spe peaks.dat 2048 1
  reads peaks.dat --output spe.res -- "Type=5 ( IAEA SPE (.spe))" "Channels=1 .. 2048  (2048 channels)" \
    "Times=Live time = 300 s  Real time = 302 s" "Calibration=E(ch) = 0.5 + 0.5*ch"
  expect_text spe.res "Energy calibration of peaks.dat in force: E(ch) = 0.5 + 0.5*ch (linear)"
  # The line of times comes right after the read-in note.
  [[ $(grep -A1 "Spectrum read in" spe.res) == $'peaks.dat Spectrum read in. \nLive time = 300 s  Real time = 302 s' ]] ||
    fail "the times do not follow the read-in note"

  write_chn plain.chn
  write_chn cal.chn trailer
  local f
  for f in plain.chn cal.chn; do
    reads $f -- "Type=6 ( ORTEC CHN (.chn))" "Sum of counts=15" "Times=Live time = 100 s  Real time = 101 s" \
      "Start=2026-12-07 10:15:05"
  done
  # Analyser channel 10 is our channel 1: E = 2 + 0.25 * (c + 9).
  expect_line out.txt "Calibration    : E(ch) = 4.25 + 0.25*ch"

  printf '<?xml version="1.0"?>\n<RadInstrumentData xmlns="http://physics.nist.gov/N42/2011/N42">\n<RadMeasurement id="m1"><RealTimeDuration>PT2M</RealTimeDuration>\n<Spectrum id="s1"><LiveTimeDuration>PT1M59.5S</LiveTimeDuration>\n<ChannelData compressionCode="CountedZeroes">0 5 10 20 0 2 30</ChannelData></Spectrum></RadMeasurement>\n</RadInstrumentData>\n' >spectrum.xml
  reads spectrum.xml -- "Type=7 ( ANSI N42.42 XML (.n42, .xml))" "Channels=1 .. 10  (10 channels)"
  printf '<<PMCA SPECTRUM>>\r\nLIVE_TIME - 10\r\nREAL_TIME - 11\r\n<<DATA>>\r\n1\r\n2\r\n3\r\n<<END>>\r\n' >a.mca
  reads a.mca -- "Type=8 ( Amptek MCA (.mca))" "Sum of counts=6"
  printf 'channel\tcounts\n0\t4\n1\t5\n' >a.tsv
  reads a.tsv -- "Type=9 ( CSV / TSV with a header row)"

  # --type by name forces its reader; type 1 only when asked for (the detection's own test tells the
  # other kinds apart).
  read_refused 'no $DATA: section' a.tsv --type SPE
  batch read a.tsv --type 10
  expect_rc 2
  expect_text err.txt "--type takes 1..9 or spe, chn, n42, mca, csv"
  printf '\x01\x00\x02\x00\x00\x05' >words.bin
  read_refused "the format is not recognised (tried IAEA SPE, ORTEC CHN" words.bin --output none.res
  expect_no_text none.res "read in"
  ok read words.bin --type 1

  # A bad file is refused by name and reason.
  head -c 40 plain.chn >cut.chn
  read_refused "Error, cut.chn: the header declares 5 channels, the file holds 2" cut.chn --type chn
}

# analyse of an SPE file: energies from the file's calibration, rates from its live time.
case_analyse_formats() {
  write_peak_spe peaks.spe 2048 1
  ok analyse peaks.spe --csv peaks.csv --output peaks.res
  expect_text out.txt "Energy"
  # The peak at our channel 300 (file channel 299) is at 1 + 0.5 * 299 = 150.5 keV.
  [[ $(awk '$2 > 299.5 && $2 < 300.5 && $10 > 150.45 && $10 < 150.55' out.txt | wc -l) -eq 1 ]] ||
    fail "no peak at 150.5 keV"
  expect_text peaks.csv ",energy,energy_error,intensity,intensity_error,rate,rate_error"
  awk -F, 'NR > 1 && ($14 < 0.999 * $4 / 300 || $14 > 1.001 * $4 / 300) { bad = 1 } END { exit bad }' peaks.csv ||
    fail "rate is not area per second of live time"
  expect_line peaks.res "Live time = 300 s  Real time = 302 s"
}

# loop over files of their own formats, told by their content (the calibration in force at the start
# serving every spectrum is the file calibrations' test).
case_loop_formats() {
  mkdir -p series
  write_peak_spe series/a.spe 2048 1
  write_peak_spe series/b.spe 1500 2
  write_peak_spectrum series/c.bin 2048 3
  printf 'a.spe\nb.spe\n' >series/names.txt
  printf 'a.spe\nc.bin\n' >series/mixed.txt
  printf 'c.bin\n' >series/words.txt
  write_marking mark.dat
  ok loop series/names.txt --marking mark.dat
  expect_line out.txt "  2 spectra processed" "  0 spectra failed"
  # Binary words with --type 1 beside a file that shows its format; never guessed.
  ok loop series/mixed.txt --marking mark.dat --type 1
  expect_line out.txt "  0 spectra failed"
  refused "Give --type 1 or 2 for binary word files" loop series/words.txt --marking mark.dat
}

# Nothing lost: runs append to their output file, lost output is an error, and scripts and lists
# that are no ordinary files are refused instead of read for ever.
case_data_safety() {
  ok analyse --test negr
  ok analyse --test bpeak --csv bpeak.csv
  [[ $(grep -c "ORVANT START" a.res) -eq 2 ]] || fail "a.res does not hold both runs"
  [[ $(grep -c "SUMMARY TABLE" a.res) -eq 2 ]] || fail "a.res does not hold both summary tables"
  [[ $(grep "^File  " a.res | tail -1) == "File             = bpeak.spc" ]] || fail "the last table is not bpeak's"

  if [[ -w /dev/full ]]; then
    refused "Error, the output file /dev/full could not be written" analyse --test negr --output /dev/full
    expect_no_text out.txt "Output file:"
    local option
    for option in --csv --png --bmp; do
      refused "Cannot write /dev/full" analyse --test negr --output full.res "$option" /dev/full
    done
  fi

  refused "Error, /dev/zero is not an ordinary file" run /dev/zero
  mkfifo pipe
  printf '100 140 1\n120\n' >mark.dat
  refused "is not an ordinary file" run pipe
  refused "is not an ordinary file" loop pipe --marking mark.dat --type 1

  # A marking data set with a bound beyond the arrays is refused before any fit.
  printf '100 140 1\n120\n1630 3000000000 1\n1649\n' >huge.dat
  printf 'a.bin\n' >names.txt
  make_binary u16 a.bin 2048
  refused "Error, interval 1630 2147483647 outside the channels 1 32768" loop names.txt --marking huge.dat --type 1
}

if ! declare -F "case_$CASE" >/dev/null; then
  echo "unknown case $CASE" >&2
  exit 2
fi
"case_$CASE"
if ((failures > 0)); then
  echo "$CASE: $failures check(s) failed" >&2
  exit 1
fi
echo "$CASE: passed"
