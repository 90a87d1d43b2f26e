#!/usr/bin/env bash
# The context-menu definitions put into a scratch home: they pass the peers'
# checks (desktop-file-validate, xmllint), the user's own files and Thunar
# actions are kept, a damaged uca.xml is left alone, and --remove takes away
# only what was put there.
#   desktop-integration.sh SOURCE_DIR BIN_DIR
set -euo pipefail
src=$1
bin=$2
scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT
export HOME=$scratch/home XDG_DATA_HOME=$scratch/home/data XDG_CONFIG_HOME=$scratch/home/config
script=$src/scripts/install-desktop-integration.sh
fail() { echo "FAIL: $*" >&2; exit 1; }

mkdir -p "$XDG_CONFIG_HOME/Thunar" "$XDG_DATA_HOME/nemo/actions"
cat >"$XDG_CONFIG_HOME/Thunar/uca.xml" <<'XML'
<?xml version="1.0" encoding="UTF-8"?>
<actions>
<action>
	<icon>utilities-terminal</icon>
	<name>Open Terminal Here</name>
	<unique-id>1234567890-1</unique-id>
	<command>exo-open --working-directory %f --launch TerminalEmulator</command>
	<description>Mine</description>
	<patterns>*</patterns>
	<startup-notify/>
	<directories/>
</action>
</actions>
XML
printf '[Nemo Action]\nName=my own mp3 action\nExec=true\n' >"$XDG_DATA_HOME/nemo/actions/varnex-add-103.nemo_action"
cp "$XDG_DATA_HOME/nemo/actions/varnex-add-103.nemo_action" "$scratch/mine"

"$script" --program "$bin/VarnexShell" >"$scratch/log" 2>&1 || { cat "$scratch/log"; fail "install"; }
"$script" --program "$bin/VarnexShell" >"$scratch/log" 2>&1 || { cat "$scratch/log"; fail "install again"; }

dolphin=$XDG_DATA_HOME/kio/servicemenus/org.varnex.Varnex.servicemenu.desktop
[ -x "$dolphin" ] || fail "no Dolphin service menu"
desktop-file-validate "$dolphin" || fail "desktop-file-validate refuses the service menu"
grep -q "Exec=\"$bin/VarnexShell\" 103 %F" "$dolphin" || fail "the service menu does not call VarnexShell 103"
[ "$(grep -c '^Name=Varnex-Add' "$dolphin")" = 6 ] || fail "the service menu lacks commands"

uca=$XDG_CONFIG_HOME/Thunar/uca.xml
xmllint --noout "$uca" || fail "uca.xml does not parse"
[ "$(xmllint --xpath 'count(/actions/action)' "$uca")" = 7 ] || fail "uca.xml: expected the user's action and six of ours"
[ "$(xmllint --xpath 'string(/actions/action[1]/unique-id)' "$uca")" = 1234567890-1 ] || fail "the user's action is gone"
[ "$(xmllint --xpath 'string(/actions/action[unique-id="varnex-add-102"]/name)' "$uca")" = "Varnex-Add to DVD/CD Data" ] ||
  fail "no data command in uca.xml"

cmp -s "$scratch/mine" "$XDG_DATA_HOME/nemo/actions/varnex-add-103.nemo_action" || fail "the user's Nemo action was replaced"
grep -q "kept (not made by Varnex): .*varnex-add-103.nemo_action" "$scratch/log" || fail "the kept file is not named"
for code in 101 102 104 105 106; do
  grep -q "^Exec=\"$bin/VarnexShell\" $code %F" "$XDG_DATA_HOME/nemo/actions/varnex-add-$code.nemo_action" ||
    fail "Nemo action $code"
done
[ -x "$XDG_DATA_HOME/nautilus/scripts/Varnex-Add to Mp3 Disc" ] || fail "no Files script"
[ -x "$XDG_DATA_HOME/nautilus/scripts/Varnex-Add to DVD∕CD Data" ] || fail "no Files script for data discs"

# A damaged uca.xml is not touched.
cp "$uca" "$scratch/uca.good"
printf '<actions><action>' >"$uca"
cp "$uca" "$scratch/uca.bad"
if "$script" --program "$bin/VarnexShell" >"$scratch/log" 2>&1; then fail "a damaged uca.xml reported as success"; fi
cmp -s "$uca" "$scratch/uca.bad" || fail "the damaged uca.xml was changed"
cp "$scratch/uca.good" "$uca"

"$script" --remove >"$scratch/log" 2>&1 || { cat "$scratch/log"; fail "remove"; }
[ ! -e "$dolphin" ] || fail "the service menu is still there"
[ -z "$(ls "$XDG_DATA_HOME/nautilus/scripts")" ] || fail "Files scripts are left"
[ "$(ls "$XDG_DATA_HOME/nemo/actions")" = varnex-add-103.nemo_action ] || fail "Nemo actions: $(ls "$XDG_DATA_HOME/nemo/actions")"
cmp -s "$scratch/mine" "$XDG_DATA_HOME/nemo/actions/varnex-add-103.nemo_action" || fail "the user's Nemo action was removed"
xmllint --noout "$uca" || fail "uca.xml does not parse after removal"
[ "$(xmllint --xpath 'count(/actions/action)' "$uca")" = 1 ] || fail "uca.xml after removal"
[ "$(xmllint --xpath 'string(/actions/action[1]/command)' "$uca")" = \
  "exo-open --working-directory %f --launch TerminalEmulator" ] || fail "the user's action changed"
echo "desktop integration: ok"
