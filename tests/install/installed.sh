#!/usr/bin/env bash
# Installs the build into a temporary prefix and runs the installed programs
# from there: their data must be found under share/varnex, not in the build.
#
#   tests/install/installed.sh BUILDDIR
set -euo pipefail
build=$(realpath "$1")
work=$(mktemp -d)
pids=()
trap 'for p in "${pids[@]}"; do kill "$p" 2>/dev/null || true; done; rm -rf "$work"' EXIT
prefix="$work/prefix"
export HOME="$work/home" XDG_CONFIG_HOME="$work/home/.config" XDG_DATA_HOME="$work/home/.local/share"
export XDG_RUNTIME_DIR="$work/run"
mkdir -p "$HOME" "$XDG_RUNTIME_DIR" && chmod 700 "$XDG_RUNTIME_DIR"
unset VARNEX_PROGRAM_DIR

cmake --install "$build" --prefix "$prefix" >"$work/install.log"
fail() { echo "installed.sh: $*"; exit 1; }

# The layout.
arch=$(gcc -dumpmachine 2>/dev/null || echo x86_64-linux-gnu)
for f in bin/varnex-cli bin/Varnex share/varnex/Lang/lang.ini share/varnex/Lang/en.ini share/varnex/Skin/Main.bmp \
         share/varnex/Tamsin/2007.dat share/varnex/sample/README.txt share/applications/org.varnex.Varnex.desktop \
         share/icons/hicolor/scalable/apps/org.varnex.Varnex.svg share/icons/hicolor/48x48/apps/org.varnex.Varnex.png \
         share/mime/packages/varnex-project.xml share/metainfo/org.varnex.Varnex.metainfo.xml \
         bin/varnex-update share/man/man1/varnex-update.1.gz share/man/man1/varnex-cli.1.gz share/man/man1/Varnex.1.gz share/doc/varnex/copyright share/doc/varnex/changelog.gz share/bash-completion/completions/varnex-cli; do
  [ -e "$prefix/$f" ] || fail "$f was not installed"
done
ls "$prefix/lib/$arch"/libPavane.so.4 >/dev/null 2>&1 || fail "libPavane.so.4 is not in lib/$arch"
[ ! -e "$prefix/lib/$arch/libPavane.so" ] || fail "the development link libPavane.so was installed"
desktop-file-validate "$prefix/share/applications/org.varnex.Varnex.desktop" || fail "the desktop entry does not validate"
appstreamcli validate --no-net "$prefix/share/metainfo/org.varnex.Varnex.metainfo.xml" >/dev/null ||
  fail "the metainfo does not validate"
xmllint --noout "$prefix/share/mime/packages/varnex-project.xml" || fail "the MIME type file is not XML"

# The manual beside the data, with every picture it shows.
manual="$prefix/share/varnex/lang/Varnex-en.html"
[ -f "$manual" ] || fail "the manual was not installed"
xmllint --html --noout "$manual" || fail "the installed manual is not well-formed"
for picture in $(grep -o 'src="[^"]*"' "$manual" | sed 's/^src="//; s/"$//'); do
  [ -s "$prefix/share/varnex/lang/$picture" ] || fail "the manual's picture $picture was not installed"
done

# The file managers' menus, put in place from the installed copy, call the
# installed helper.
[ -x "$prefix/bin/VarnexShell" ] || fail "VarnexShell was not installed"
HOME=$work/home XDG_DATA_HOME=$work/home/data XDG_CONFIG_HOME=$work/home/config \
  "$prefix/share/varnex/shellext/install-desktop-integration.sh" >"$work/integration.log" 2>&1 ||
  fail "the installed desktop integration: $(cat "$work/integration.log")"
grep -q "Exec=\"$prefix/bin/VarnexShell\" 102 %F" "$work/home/data/kio/servicemenus/org.varnex.Varnex.servicemenu.desktop" ||
  fail "the installed service menu does not call the installed VarnexShell"

# The installed command line burns the installed sample onto a virtual disc.
cli="$prefix/bin/varnex-cli"
"$cli" --version | grep -qx "varnex-cli [0-9.]*" || fail "--version"
"$cli" help burn | grep -q -- "--drive D" || fail "help burn does not list --drive"
"$cli" virtual create --media cd-r "$work/disc.vdisc" >/dev/null
"$cli" burn --drive "virtual:$work/disc.vdisc" --label INSTALLED "$prefix/share/varnex/sample/README.txt" \
  >"$work/burn.log" 2>&1 || { cat "$work/burn.log"; fail "the installed varnex-cli could not burn"; }
# Error texts come from the installed language file, not from a fallback.
"$cli" burn --drive "virtual:$work/disc.vdisc" "$work/no-such-file" >"$work/refused.log" 2>&1 && fail "a missing file burnt"
grep -q "does not exist" "$work/refused.log" || { cat "$work/refused.log"; fail "no language text for the refusal"; }
"$cli" virtual export --drive "virtual:$work/disc.vdisc" -o "$work/disc.iso" >/dev/null
cmp <(isoinfo -J -x '/README.txt;1' -i "$work/disc.iso") "$prefix/share/varnex/sample/README.txt" ||
  fail "the burnt file differs"

# The installed updater leaves updating to the package manager, even with a
# server set.
printf '[Varnex]\nUpdateServer=http://127.0.0.1:9/\n' >"$work/varnex.conf"
VARNEX_SYSTEM_CONF="$work/varnex.conf" QT_QPA_PLATFORM=offscreen "$prefix/bin/varnex-update" >"$work/update.log" 2>&1 &&
  fail "the installed updater ran"
grep -q "package manager" "$work/update.log" || { cat "$work/update.log"; fail "the installed updater did not say why it stops"; }
man -l "$prefix/share/man/man1/varnex-update.1.gz" 2>/dev/null | grep -q "bring a portable copy" || fail "varnex-update(1) does not render"

# The man pages render; the completion completes.
man -l "$prefix/share/man/man1/varnex-cli.1.gz" 2>/dev/null | grep -q "virtual create" || fail "varnex-cli(1) does not render"
out=$(PATH="$prefix/bin:$PATH" bash -c "source '$prefix/share/bash-completion/completions/varnex-cli'
  COMP_WORDS=(varnex-cli bu); COMP_CWORD=1; _varnex_cli; echo \"\${COMPREPLY[*]}\"
  COMP_WORDS=(varnex-cli virtual create --media ''); COMP_CWORD=4; _varnex_cli; echo \"\${COMPREPLY[*]}\"")
grep -qx "burn" <<<"$(sed -n 1p <<<"$out")" || fail "bu<TAB> gave: $out"
grep -q "dvd+rw" <<<"$(sed -n 2p <<<"$out")" || fail "--media <TAB> gave: $out"

# The installed desktop program starts from its prefix (offscreen): with no
# drive it makes its virtual recorder in its writable folder, which for an
# installed program is the user's configuration folder, never share/, even
# when the prefix could be written.
"$prefix/bin/Varnex" --version | grep -qx "Varnex [0-9.]*" || fail "Varnex --version"
QT_QPA_PLATFORM=offscreen "$prefix/bin/Varnex" --no-splash >"$work/varnex.log" 2>&1 &
pids+=($!)
for _ in $(seq 600); do
  [ -e "$XDG_CONFIG_HOME/varnex/virtual/Virtual CD-RW.vdisc" ] && break
  kill -0 "${pids[0]}" 2>/dev/null || { cat "$work/varnex.log"; fail "the installed Varnex ended"; }
  sleep 0.1
done
[ -e "$XDG_CONFIG_HOME/varnex/virtual/Virtual CD-RW.vdisc" ] || { cat "$work/varnex.log"; fail "the installed Varnex did not start"; }
[ ! -e "$prefix/share/varnex/virtual" ] || fail "the installed Varnex wrote under share/varnex"
echo "installed.sh: the installed programs run from $prefix with their data under share/varnex"
