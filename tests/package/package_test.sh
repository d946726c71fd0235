#!/bin/sh
# The Debian package: made by cpack, lintian clean, its files where they belong, and the
# installed program's --version, find and convert on generated game folders, run as a regular
# user from a program folder it cannot write; then an installation into a prefix and its
# removal. Argument: the build folder.
set -eu
build=$1
work=$(mktemp -d)
trap 'chmod -R u+w "$work"; rm -rf "$work"' EXIT
chmod 755 "$work"

(cd "$build" && cpack -G DEB -B "$work/out" >/dev/null)
deb=$(ls "$work"/out/corvane_*_*.deb)
case $(basename "$deb") in corvane_[0-9]*.[0-9]*.[0-9]*_amd64.deb | corvane_*_arm64.deb) ;;
*) echo "unexpected package name: $deb"; exit 1 ;; esac
if command -v lintian >/dev/null; then
    lintian --fail-on error,warning "$deb"
fi

dpkg -x "$deb" "$work/root"
for file in usr/lib/corvane/corvane usr/lib/corvane/pak usr/lib/corvane/minizip \
    usr/share/applications/corvane.desktop usr/share/man/man1/corvane.1.gz \
    usr/share/icons/hicolor/scalable/apps/corvane.svg usr/share/doc/corvane/copyright \
    usr/share/icons/hicolor/32x32/apps/corvane.png usr/share/icons/hicolor/64x64/apps/corvane.png \
    usr/share/icons/hicolor/128x128/apps/corvane.png \
    usr/share/icons/hicolor/256x256/apps/corvane.png \
    usr/share/metainfo/example.corvane.Corvane.metainfo.xml \
    usr/share/bash-completion/completions/corvane; do
    [ -f "$work/root/$file" ] || { echo "missing from the package: $file"; exit 1; }
done
[ "$(readlink "$work/root/usr/bin/corvane")" = ../lib/corvane/corvane ]
# Software centres read the metadata; Wayland sessions without X get Qt's Wayland plugin.
metainfo=$work/root/usr/share/metainfo/example.corvane.Corvane.metainfo.xml
# With and without the network: it gives no URL that cannot be fetched.
appstreamcli validate --no-net "$metainfo"
appstreamcli validate "$metainfo"
dpkg-deb -f "$deb" Recommends | grep -qw qt6-wayland
# The shell completes commands, each command's options, and folders.
completes() { # WORDS... : what bash offers for the last word
    bash -c 'source "$0"; COMP_WORDS=("$@"); COMP_CWORD=$(($# - 1)); _corvane
             printf "%s\n" "${COMPREPLY[@]}"' \
        "$work/root/usr/share/bash-completion/completions/corvane" "$@"
}
[ "$(completes corvane con)" = convert ]
[ "$(completes corvane find --n)" = --null ]
[ "$(completes corvane convert --dry-run "$work/ro")" = "$work/root" ]
corvane="$work/root/usr/bin/corvane"
# A library planted in the program folder, where packs are unpacked, is never loaded.
echo "not a library" >"$work/root/usr/lib/corvane/libQt6Core.so.6"
"$corvane" --version | grep -qx 'corvane [0-9.]*'
rm "$work/root/usr/lib/corvane/libQt6Core.so.6"

# Game folders with packs written byte by byte: one file in each of the five packed folders and a map.
python3 - "$work/games" <<'PY'
import os, struct, sys
games = sys.argv[1]
def pak(path, members):
    os.makedirs(os.path.dirname(path), exist_ok=True)
    data, directory = b"", b""
    for name, contents in members:
        directory += name.encode().ljust(56, b"\0") + struct.pack("<II", 12 + len(data), len(contents))
        data += contents
    with open(path, "wb") as out:
        out.write(b"PACK" + struct.pack("<II", 12 + len(data), len(directory)) + data + directory)
names = ["env/unit1_rt.pcx", "models/items/armor/body/tris.md2", "pics/colormap.pcx",
         "sound/world/yelforce.wav", "sprites/s_bfg1.sp2", "maps/base1.bsp"]
pak(games + "/q2/baseq2/pak0.pak", [(n, n.encode() * 50) for n in names])
pak(games + "/q2/baseq2/pak1.pak", [("pics/tag1.pcx", b"1"), ("pics/tag2.pcx", b"2")])
pak(games + "/q2/baseq2/pak2.pak", [("models/weapons/g_blast/base.pcx", b"b"),
                                    ("models/weapons/g_flareg/base.pcx", b"f")])
os.makedirs(games + "/q3/baseq3")
os.makedirs(games + "/q3/qfbastion")
open(games + "/q3/baseq3/pak0.pk3", "wb").close()
PY

# As a regular user, as the package is used: the program folder cannot be written.
run=
mkdir "$work/home"
if [ "$(id -u)" = 0 ]; then
    chown -R 65534:65534 "$work/games" "$work/home"
    run="setpriv --reuid=65534 --regid=65534 --clear-groups --inh-caps=-all"
fi
chmod -R a-w "$work/root/usr/lib/corvane"
as_user() { env -u DISPLAY -u WAYLAND_DISPLAY -u QT_QPA_PLATFORM -u XDG_CACHE_HOME \
    HOME="$work/home" $run "$@"; }

found=$(as_user "$corvane" find "$work/games")
releases="pak0.pak: no known release; pak1.pak: no known release; pak2.pak: no known release"
printf 'quake3\t%s/games/q3/\tdata\t-\nquake2\t%s/games/q2/\tdata\t%s\n' "$work" "$work" "$releases" \
    >"$work/expected"
[ "$found" = "$(cat "$work/expected")" ] || { echo "find said: $found"; exit 1; }

# Five files are far fewer than the classic game's: installed, with status 7 saying so.
status=0
as_user "$corvane" convert "$work/games/q2" "$work/games/q3" 2>"$work/said" || status=$?
[ "$status" = 7 ] || { cat "$work/said"; exit 1; }
grep -q "^  pak0.pk3  5 files, .*installed as $work/games/q3/qfbastion/pak0.pk3" "$work/said"
[ "$(ls "$work/games/q3/qfbastion")" = "$(printf 'pak0.pk3\npak1.pk3\npak2.pk3')" ]
[ -z "$(ls -A "$work/home/.cache/corvane/work")" ]
# Installed into a prefix of one's own, and removed again without a trace: no file, and no
# folder the installation made; a folder of the user's own stays.
scripts=$(dirname "$0")/../../scripts
mkdir -p "$work/prefix/share/applications"
CORVANE_INSTALL_FROM=$build "$scripts/install.sh" "$work/prefix" >/dev/null
"$work/prefix/bin/corvane" --version >/dev/null
[ -z "$(desktop-file-validate "$work/prefix/share/applications/corvane.desktop")" ]
"$scripts/uninstall.sh" "$work/prefix" >/dev/null
[ "$(find "$work/prefix")" = "$(printf '%s\n' "$work/prefix" "$work/prefix/share" \
    "$work/prefix/share/applications")" ] || { find "$work/prefix"; exit 1; }
echo "package $(basename "$deb") passed"
