#!/usr/bin/env bash
# Writes the manual pages from the programs' own help text, so that the two
# never disagree.
#
#   scripts/make-man.sh BINDIR OUTDIR VERSION
set -euo pipefail
bin=$1 out=$2 version=$3
mkdir -p "$out"
date=$(date -u -d "@${SOURCE_DATE_EPOCH:-$(date +%s)}" +%Y-%m-%d)

# Escapes text for roff: backslashes, and dots or quotes at a line start.
roff() { sed -e 's/\\/\\e/g' -e "s/^\\./\\\\\\&./" -e "s/^'/\\\\\\&'/" -e 's/-/\\-/g'; }

# Option blocks ("  --opt X" then "      meaning") become tagged paragraphs.
options() {
  awk '
    /^  [^ ]/ { sub(/^  /, ""); print ".TP"; print "\\fB" $0 "\\fR"; next }
    /^      / { sub(/^      /, ""); print; next }
    NF == 0 || /^Options:$/ { next }
    { print ".PP"; print }'
}

{
  echo ".TH VARNEX-CLI 1 \"$date\" \"Varnex $version\" \"User Commands\""
  echo ".SH NAME"
  echo "varnex-cli \\- write, copy, erase and inspect optical discs from the command line"
  echo ".SH SYNOPSIS"
  "$bin/varnex-cli" --help | sed -n '1,2p' | sed 's/^usage: //; s/^       //' | roff | sed 's/^/.br\n/' | sed '1d'
  echo ".SH DESCRIPTION"
  "$bin/varnex-cli" --help | awk 'NR > 3 && /^Commands:/ { exit } NR > 3' | roff
  echo ".SH COMMANDS"
  for command in $("$bin/varnex-cli" --help | awk '/^Commands:/ { on = 1; next } on && /^  [a-z]/ { print $1 }'); do
    echo ".SS $command"
    "$bin/varnex-cli" help "$command" | sed 's/^usage: //' | roff | options
  done
  echo ".SH EXIT STATUS"
  "$bin/varnex-cli" --help | grep '^Exit status' | roff
  echo ".SH SEE ALSO"
  echo ".BR Varnex (1)"
} > "$out/varnex-cli.1"

{
  echo ".TH VARNEX 1 \"$date\" \"Varnex $version\" \"User Commands\""
  echo ".SH NAME"
  echo "Varnex \\- write data, audio and video discs"
  echo ".SH SYNOPSIS"
  "$bin/Varnex" --help | sed -n '1p' | sed 's/^usage: //' | roff
  echo ".SH DESCRIPTION"
  "$bin/Varnex" --help | awk '/^Options:/ { exit } NR > 2' | roff
  echo ".SH OPTIONS"
  "$bin/Varnex" --help | awk '/^Options:/ { on = 1; next } /^Environment/ { exit } on' | roff | options
  echo ".SH ENVIRONMENT"
  "$bin/Varnex" --help | awk '/^Environment/ { on = 1 } on' | roff
  echo ".SH SEE ALSO"
  echo ".BR varnex-cli (1)"
} > "$out/Varnex.1"

{
  echo ".TH VARNEX-UPDATE 1 \"$date\" \"Varnex $version\" \"User Commands\""
  echo ".SH NAME"
  echo "varnex-update \\- bring a portable copy of Varnex up to date"
  echo ".SH SYNOPSIS"
  "$bin/update" --help | sed -n '1p' | sed 's/^usage: update/varnex-update/' | roff
  echo ".SH DESCRIPTION"
  "$bin/update" --help | awk '/^Options:/ { exit } NR > 2' | roff
  echo ".SH OPTIONS"
  "$bin/update" --help | awk '/^Options:/ { on = 1; next } /^Exit status/ { exit } on' | roff | options
  echo ".SH EXIT STATUS"
  "$bin/update" --help | grep '^Exit status' | roff
  echo ".SH SEE ALSO"
  echo ".BR Varnex (1)"
} > "$out/varnex-update.1"

# Installed compressed, as manual pages are; the same bytes on every run.
for page in varnex-cli.1 Varnex.1 varnex-update.1; do gzip -9nc "$out/$page" >"$out/$page.gz"; done
