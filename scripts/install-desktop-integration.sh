#!/usr/bin/env bash
# Puts the Varnex commands into the context menus of the file managers of the
# current user, or takes them out again:
#
#   scripts/install-desktop-integration.sh [--program PATH/TO/VarnexShell]
#   scripts/install-desktop-integration.sh --remove
#
# Dolphin:  $XDG_DATA_HOME/kio/servicemenus/org.varnex.Varnex.servicemenu.desktop
# Files:    $XDG_DATA_HOME/nautilus/scripts/Varnex-Add to ...   (the Scripts menu)
# Nemo:     $XDG_DATA_HOME/nemo/actions/varnex-add-10N.nemo_action
# Thunar:   the actions "varnex-add-10N" in $XDG_CONFIG_HOME/Thunar/uca.xml
#
# Every file it writes carries the mark "X-Varnex-Integration"; a file in its
# place without that mark belongs to the user and is left as it is. The
# user's other Thunar actions are kept. --remove takes away only what carries
# the mark.
set -euo pipefail

here=$(cd "$(dirname "$0")" && pwd)
data=${XDG_DATA_HOME:-$HOME/.local/share}
config=${XDG_CONFIG_HOME:-$HOME/.config}
remove=0
program=

while [ $# -gt 0 ]; do
  case "$1" in
    --remove) remove=1 ;;
    --program) program=${2:?--program needs the path of VarnexShell}; shift ;;
    -h|--help) sed -n '2,17p' "$0" | sed 's/^# \{0,1\}//'; exit 0 ;;
    *) echo "unknown option: $1" >&2; exit 2 ;;
  esac
  shift
done

# The menu definitions: beside this script in the source tree, or in the
# installed data folder.
menus=
for candidate in "$here/../shellext/menus" "$here/menus"; do
  if [ -f "$candidate/varnex-servicemenu.desktop" ]; then menus=$candidate; break; fi
done
if [ -z "$menus" ]; then
  echo "The menu definitions (varnex-servicemenu.desktop) are not found beside $0." >&2
  exit 1
fi

if [ "$remove" = 0 ]; then
  if [ -z "$program" ]; then
    for candidate in "$here/../build/bin/VarnexShell" "$here/../../../bin/VarnexShell" "$(command -v VarnexShell || true)"; do
      if [ -n "$candidate" ] && [ -x "$candidate" ]; then program=$candidate; break; fi
    done
  fi
  if [ -z "$program" ] || [ ! -x "$program" ]; then
    echo "VarnexShell is not found; name it with --program PATH." >&2
    exit 1
  fi
  program=$(cd "$(dirname "$program")" && pwd)/$(basename "$program")
  case "$program" in
    *[\"\\\`\$\']*|*[[:space:]]*) echo "The path of VarnexShell must not hold blanks or quotes: $program" >&2; exit 1 ;;
  esac
fi

codes=(101 102 103 104 105 106)
texts=("Varnex-Add to Audio CD" "Varnex-Add to DVD/CD Data" "Varnex-Add to Mp3 Disc"
       "Varnex-Add to VCD" "Varnex-Add to SVCD" "Varnex-Add to DVD")
mark=X-Varnex-Integration
status=0

ours() { grep -q "$mark" "$1" 2>/dev/null; }

# Writes standard input to $1 through a new file beside it, unless something
# that is not ours has that name.
put() {
  local target=$1 mode=$2 tmp
  if [ -e "$target" ] || [ -L "$target" ]; then
    if [ -L "$target" ] || ! ours "$target"; then
      echo "kept (not made by Varnex): $target" >&2
      cat >/dev/null
      return
    fi
  fi
  mkdir -p "$(dirname "$target")"
  tmp=$(mktemp "$(dirname "$target")/.varnex.XXXXXX")
  if ! cat >"$tmp" || ! chmod "$mode" "$tmp" || ! sync "$tmp" || ! mv -f "$tmp" "$target"; then
    rm -f "$tmp"
    echo "could not write $target" >&2
    status=1
    return
  fi
  echo "installed: $target"
}

take() {
  local target=$1
  [ -e "$target" ] || return 0
  if [ -L "$target" ] || ! ours "$target"; then
    echo "kept (not made by Varnex): $target" >&2
    return 0
  fi
  rm -f "$target" && echo "removed: $target"
}

dolphin=$data/kio/servicemenus/org.varnex.Varnex.servicemenu.desktop
if [ "$remove" = 1 ]; then
  take "$dolphin"
else
  put "$dolphin" 755 < <(sed "s|@VARNEXSHELL@|$program|g" "$menus/varnex-servicemenu.desktop")
fi

for i in "${!codes[@]}"; do
  code=${codes[$i]}
  text=${texts[$i]}
  # A file name holds no "/": the script of the data command shows a
  # division slash in its place.
  script=$data/nautilus/scripts/${text//\//∕}
  action=$data/nemo/actions/varnex-add-$code.nemo_action
  if [ "$remove" = 1 ]; then
    take "$script"
    take "$action"
    continue
  fi
  put "$script" 755 <<SCRIPT
#!/bin/sh
# $mark: hands the selected files and folders to Varnex.
exec "$program" $code "\$@"
SCRIPT
  put "$action" 644 <<ACTION
[Nemo Action]
Name=$text
Comment=$text
Exec="$program" $code %F
Icon-Name=org.varnex.Varnex
Selection=notnone
Extensions=any;
$mark=1
ACTION
done

# Thunar keeps all custom actions of the user in one file: ours are put in or
# taken out by their ids, everything else stays as it is.
uca=$config/Thunar/uca.xml
if [ "$remove" = 0 ] || [ -f "$uca" ]; then
  python3 - "$uca" "$remove" "${program:-}" "${texts[@]}" <<'PY' || status=1
import os, sys, tempfile
import xml.etree.ElementTree as ET

path, remove, program, texts = sys.argv[1], sys.argv[2] == "1", sys.argv[3], sys.argv[4:]
if os.path.islink(path):
    sys.exit(f"kept (a symbolic link): {path}")
if os.path.exists(path):
    try:
        tree = ET.parse(path, ET.XMLParser(target=ET.TreeBuilder(insert_comments=True)))
    except ET.ParseError as e:
        sys.exit(f"{path} cannot be read ({e}); it is left as it is")
    root = tree.getroot()
    if root.tag != "actions":
        sys.exit(f"{path} holds no Thunar actions; it is left as it is")
    mode = os.stat(path).st_mode & 0o777
else:
    root = ET.Element("actions")
    root.text = "\n"
    tree = ET.ElementTree(root)
    mode = 0o644
ours = [a for a in root.findall("action") if (a.findtext("unique-id") or "").startswith("varnex-add-")]
for a in ours:
    root.remove(a)
if not remove:
    for code, text in zip(range(101, 107), texts):
        a = ET.SubElement(root, "action")
        a.text = "\n\t"
        fields = [("icon", "org.varnex.Varnex"), ("name", text), ("unique-id", f"varnex-add-{code}"),
                  ("command", f'"{program}" {code} %F'), ("description", text), ("patterns", "*"),
                  ("directories", None), ("audio-files", None), ("image-files", None),
                  ("other-files", None), ("text-files", None), ("video-files", None)]
        for i, (tag, value) in enumerate(fields):
            e = ET.SubElement(a, tag)
            e.text = value
            e.tail = "\n\t" if i + 1 < len(fields) else "\n"
        a.tail = "\n"
elif not ours:
    sys.exit(0)
os.makedirs(os.path.dirname(path), exist_ok=True)
fd, tmp = tempfile.mkstemp(prefix=".varnex.", dir=os.path.dirname(path))
try:
    with os.fdopen(fd, "wb") as f:
        tree.write(f, encoding="UTF-8", xml_declaration=True)
        f.write(b"\n")
        f.flush()
        os.fsync(f.fileno())
    os.chmod(tmp, mode)
    os.replace(tmp, path)
except BaseException:
    os.unlink(tmp)
    raise
print(("removed the Varnex actions from: " if remove else "installed: ") + path)
PY
fi
exit $status
