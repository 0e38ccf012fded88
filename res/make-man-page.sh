#!/usr/bin/env bash
# Writes the gzipped manual page of PROGRAM (vorn3manager or vorn3ctl) from its
# own --help and --version, so the page never disagrees with the program. For
# vorn3ctl every command's help becomes a subsection of COMMANDS.
#   make-man-page.sh PROGRAM_PATH "SHORT DESCRIPTION" SEE_ALSO OUT.1.gz
# SOURCE_DATE_EPOCH, when set, fixes the page's date (reproducible builds).
set -euo pipefail
program=$1 description=$2 see_also=$3 out=$4
name=$(basename "$program")
include=$(mktemp)
trap 'rm -f "$include" "$out.tmp"' EXIT

troff_lines() {  # plain text to literal troff lines
  sed -e 's/\\/\\e/g' -e "s/^\\([.']\\)/\\\\\\&\\1/"
}

if [ "$name" = vorn3ctl ]; then
  echo '[COMMANDS]' >>"$include"
  "$program" --help | sed -n '/^Commands:/,/^$/s/^  \([a-z][a-z-]*\) .*/\1/p' | grep -vx help |
    while read -r command; do
      printf '.SS %s\n.nf\n' "$command"
      "$program" help "$command" | troff_lines
      printf '.fi\n'
    done >>"$include"
fi
printf '[SEE ALSO]\n.BR %s (1)\n' "$see_also" >>"$include"

help2man --no-info --section=1 --name="$description" --include="$include" \
  --output="$out.tmp" "$program"
gzip -9n <"$out.tmp" >"$out"
